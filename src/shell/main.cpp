// The editor's entry: one instance per user. A start while an editor runs
// hands its command line over and leaves; the first start becomes the
// editor, with the working folder every later start shares.
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "audio_io/AudioDevice.h"
#include "foundation/SettingsStore.h"
#include "foundation/WorkingFolder.h"
#include "shell/HandoffRecord.h"
#include "shell/MainFrame.h"
#include "shell/QtPrompt.h"
#include "shell/SingleInstance.h"

namespace {

// The signals that end a session without questions (logging out, a kill,
// Ctrl-C in the terminal that started us) reach the window through this
// pipe: nothing but write(2) is safe inside the handler.
int gSignalPipe[2] = {-1, -1};

void OnEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

bool CatchEndSignals() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signalNumber, &action, nullptr);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonitor"));
    QApplication::setOrganizationName(QStringLiteral("Orvelsoft"));
    QApplication::setApplicationVersion(QStringLiteral(SONITOR_VERSION));
    sonitor::InstallQtNotificationPump();

    // Program path first; Qt has taken out its own options by now. Relative
    // paths are made absolute here, since a running editor resolves them
    // against its own current folder.
    std::vector<std::string> arguments{
        QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString()};
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    arguments =
        sonitor::AbsoluteFileArguments(arguments, QFile::encodeName(QDir::currentPath()).toStdString());

    sonitor::SingleInstance instance;
    if (!instance.LockRun())
        std::fprintf(stderr, "sonitor: cannot create %s; starting without it\n",
                     qPrintable(instance.LockPath()));

    const std::vector<uint8_t> record = sonitor::EncodeHandoffRecord(arguments);
    const int answer = instance.SendMessage(
        sonitor::SingleInstance::kHandoffMessage,
        QByteArray(reinterpret_cast<const char*>(record.data()), static_cast<qsizetype>(record.size())));
    if (answer >= 0) {
        instance.ReleaseRun();
        return answer == 1 ? 0 : 1;
    }

    if (arguments.size() > 1 && arguments.back() != "-block") {
        // Started with files but no editor runs: start afresh as the editor,
        // marked so that the new process does not do this again.
        instance.ReleaseRun();
        QStringList restart;
        for (size_t i = 1; i < arguments.size(); ++i)
            restart << QFile::decodeName(QByteArray::fromStdString(arguments[i]));
        restart << QStringLiteral("-block");
        return QProcess::startDetached(QCoreApplication::applicationFilePath(), restart) ? 0 : 1;
    }

    // The one editor: working files in the chosen folder itself, deleted at
    // exit after the frame (and every document in it) is gone.
    sonitor::WorkingFolderSession workingFolder(sonitor::WorkingFolderMode::Shared);
    if (!workingFolder.Ok()) std::fprintf(stderr, "sonitor: the working folder cannot be created\n");

    auto frame = std::make_unique<sonitor::MainFrame>(
        sonitor::SettingsStore::Default(), sonitor::CurrentAudioBackend(), sonitor::ShellServices{});
    if (!frame->isVisible()) frame->show();

    if (!instance.Listen())
        std::fprintf(stderr, "sonitor: cannot listen on %s; later starts will not find this editor\n",
                     qPrintable(instance.SocketPath()));
    sonitor::MainFrame* window = frame.get();
    QObject::connect(
        &instance, &sonitor::SingleInstance::ArgumentsReceived, window,
        [window](const std::vector<std::string>& received) { window->CommandLineProcessor(received); });
    QObject::connect(&instance, &sonitor::SingleInstance::CloseRequested, window,
                     [window] { window->ForceClose(); });
    // Once the window is gone nobody may hand files to it.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &instance,
                     &sonitor::SingleInstance::StopListening);

    std::unique_ptr<QSocketNotifier> endSignals;
    if (CatchEndSignals()) {
        endSignals = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(endSignals.get(), &QSocketNotifier::activated, window, [window] {
            char drain[16];
            while (::read(gSignalPipe[0], drain, sizeof drain) > 0) {
            }
            window->ForceClose();
        });
    }

    window->CommandLineProcessor(arguments);
    instance.ReleaseRun();

    // "-exit" on the own command line closes the window before the loop
    // runs, when closing cannot end a loop yet.
    const int status = window->isVisible() ? QApplication::exec() : 0;
    instance.StopListening();
    endSignals.reset();
    frame.reset();
    return status;
}
