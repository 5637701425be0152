// The editor on a long file, offscreen: the time from Open until both wave
// windows are computed and painted, the time of a full-width recompute of the
// main window from the overview files followed by its paint, and the peak
// resident memory with the document open. bench/run-editor puts the first
// beside `cp` of the same file.
//
// usage: editor_bench FILE.wav [ROUNDS]
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/resource.h>

#include "audio_io/AudioDevice.h"
#include "document/SoundDocument.h"
#include "foundation/SettingsStore.h"
#include "foundation/WorkingFolder.h"
#include "shell/DocumentWindow.h"
#include "shell/MainFrame.h"
#include "shell/QtPrompt.h"
#include "shell/WaveView.h"
#include "shell/WaveWindow.h"

namespace {

using sonitor::WaveWindow;

// Pumps events until both pictures have computed what they were asked for.
bool WaitPainted(sonitor::WaveView& view, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (view.Main().Picture().WaitIdle(0) && view.Overview().Picture().WaitIdle(0)) {
            QCoreApplication::processEvents();
            return true;
        }
    }
    return false;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: editor_bench FILE.wav [ROUNDS]\n");
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private);
    QApplication app(argc, argv);
    sonitor::InstallQtNotificationPump();

    const sonitor::SettingsStore& settings = sonitor::SettingsStore::Default();
    settings.WriteBool("Settings", "PlayWhenOpen", false);
    settings.WriteBool("MainWindow", "Maximized", false);
    settings.WriteInt("MainWindow", "Width", 1700);
    settings.WriteInt("MainWindow", "Height", 700);

    sonitor::MainFrame frame(settings, sonitor::CurrentAudioBackend(), {});
    frame.show();
    QCoreApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    sonitor::SoundDocument* document = frame.OpenFile(argv[1]);
    if (document == nullptr || frame.ActiveDocumentWindow() == nullptr) {
        std::fprintf(stderr, "editor_bench: could not open %s\n", argv[1]);
        return 1;
    }
    sonitor::DocumentWindow* window = frame.ActiveDocumentWindow();
    window->showMaximized();
    if (!WaitPainted(window->View(), 600000)) {
        std::fprintf(stderr, "editor_bench: the wave windows did not finish\n");
        return 1;
    }
    window->View().Main().repaint();
    const double openMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    // Full-width recompute from the overview files: a resize forgets every
    // column; then one paint from the cache.
    WaveWindow& main = window->View().Main();
    std::vector<double> recompute;
    std::vector<double> paint;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        main.Picture().Resize(main.width() - (r % 2), main.height());
        main.Picture().SetView(main.Picture().ViewStart(), document->Length());
        main.Picture().WaitIdle(60000);
        recompute.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        QElapsedTimer p;
        p.start();
        main.repaint();
        paint.push_back(static_cast<double>(p.nsecsElapsed()) / 1e6);
    }

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("frames %d, %d columns\n", document->Length(), main.Picture().Width());
    std::printf("open until painted: %.1f ms\n", openMs);
    std::printf(
        "full-width recompute from overview files: median %.2f ms; paint from cache: median %.2f ms\n",
        Median(recompute), Median(paint));
    std::printf("peak resident memory: %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
