#include "shell/SingleInstance.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>

#include <unistd.h>

#include "shell/HandoffRecord.h"

namespace sonitor {

namespace {

constexpr qint64 kHeaderBytes = 8;
// Nothing we accept is larger than a hand-over record; a sender announcing
// more is refused before its bytes are read.
constexpr uint32_t kMaxPayload = static_cast<uint32_t>(kHandoffRecordBytes);
// A sender that connects and then says nothing is dropped after this long.
constexpr int kIdleConnectionMs = 30000;

void PutLe32(char* out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>(value >> (8 * i));
}

uint32_t GetLe32(const char* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    return value;
}

QString DefaultFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime;
    return QDir::tempPath();
}

}  // namespace

SingleInstance::SingleInstance(QString folder)
    : folder_(folder.isEmpty() ? DefaultFolder() : std::move(folder)) {}

SingleInstance::~SingleInstance() {
    StopListening();
    server_.reset();
    ReleaseRun();
}

QString SingleInstance::SocketPath() const {
    return QDir(folder_).filePath(QStringLiteral("sonitor-%1.socket").arg(::getuid()));
}

QString SingleInstance::LockPath() const {
    return QDir(folder_).filePath(QStringLiteral("sonitor-%1.lock").arg(::getuid()));
}

bool SingleInstance::LockRun() {
    if (lock_) return true;
    auto lock = std::make_unique<QLockFile>(LockPath());
    // The lock is held for as long as the first command line takes, which
    // may be minutes (a long file, a question to the user); only a holder
    // that no longer runs makes it stale.
    lock->setStaleLockTime(0);
    if (!lock->lock()) return false;
    lock_ = std::move(lock);
    return true;
}

void SingleInstance::ReleaseRun() {
    if (!lock_) return;
    lock_->unlock();
    lock_.reset();
}

bool SingleInstance::HandOver(const std::vector<std::string>& arguments, int timeoutMs) {
    const std::vector<uint8_t> record = EncodeHandoffRecord(arguments);
    const QByteArray payload(reinterpret_cast<const char*>(record.data()),
                             static_cast<qsizetype>(record.size()));
    return SendMessage(kHandoffMessage, payload, timeoutMs) == 1;
}

int SingleInstance::SendMessage(uint32_t kind, const QByteArray& payload, int timeoutMs) {
    QLocalSocket socket;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    int answer = -1;
    bool connected = false;
    bool finished = false;
    bool timedOut = false;

    const auto finish = [&] {
        finished = true;
        loop.quit();
    };
    const auto takeAnswer = [&] {
        char byte = 0;
        if (answer < 0 && socket.bytesAvailable() > 0 && socket.read(&byte, 1) == 1)
            answer = static_cast<unsigned char>(byte);
        if (answer >= 0) finish();
    };
    QObject::connect(&socket, &QLocalSocket::connected, &loop, [&] {
        connected = true;
        char header[kHeaderBytes];
        PutLe32(header, kind);
        PutLe32(header + 4, static_cast<uint32_t>(payload.size()));
        socket.write(header, kHeaderBytes);
        socket.write(payload);
    });
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, takeAnswer);
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, [&] {
        takeAnswer();
        finish();
    });
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop, [&] {
        // The answer may already sit in the buffer when the peer hangs up.
        takeAnswer();
        finish();
    });
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        finish();
    });

    timer.start(timeoutMs);
    // A local connection is made (or refused) at once, so the signals above
    // may already have fired when this returns.
    socket.connectToServer(SocketPath());
    if (!finished) loop.exec();
    timer.stop();
    socket.abort();

    if (answer >= 0) return answer;
    // A server that took the message but never answered is alive: a second
    // editor must not start beside it.
    return timedOut && connected ? 0 : -1;
}

bool SingleInstance::Listen() {
    if (Listening()) return true;
    const QString path = SocketPath();
    if (QFileInfo::exists(path)) {
        // The name is taken: by a live editor (leave it alone) or by one that
        // died without removing its socket. Asked first, since listening
        // with access options replaces whatever is there.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(1000)) {
            probe.abort();
            return false;
        }
        QLocalServer::removeServer(path);
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    return server_->listen(path);
}

void SingleInstance::StopListening() {
    // Closing only: a connection being answered right now keeps its socket,
    // which belongs to the server object.
    if (server_) server_->close();
}

bool SingleInstance::Listening() const {
    return server_ && server_->isListening();
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        QTimer::singleShot(kIdleConnectionMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        OnReadable(socket);
    }
}

void SingleInstance::OnReadable(QLocalSocket* socket) {
    if (socket->bytesAvailable() < kHeaderBytes) return;
    const QByteArray header = socket->peek(kHeaderBytes);
    const uint32_t kind = GetLe32(header.constData());
    const uint32_t size = GetLe32(header.constData() + 4);

    // One message per connection: answer, stop reading, hang up once the
    // answer is out. The signals come last, after the sender is free to go,
    // since what they start may take long (loading files, questions).
    const auto answer = [this, socket](bool accepted) {
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        const char byte = accepted ? 1 : 0;
        socket->write(&byte, 1);
        socket->flush();
        socket->disconnectFromServer();
    };
    if (size > kMaxPayload) {
        answer(false);
        return;
    }
    if (socket->bytesAvailable() < kHeaderBytes + size) return;
    socket->skip(kHeaderBytes);
    const QByteArray payload = socket->read(size);

    if (kind == kHandoffMessage) {
        auto arguments = DecodeHandoffRecord(reinterpret_cast<const uint8_t*>(payload.constData()),
                                             static_cast<size_t>(size));
        answer(arguments.has_value());
        if (arguments) emit ArgumentsReceived(*arguments);
    } else if (kind == kCloseMessage) {
        answer(true);
        emit CloseRequested();
    } else {
        answer(false);
    }
}

}  // namespace sonitor
