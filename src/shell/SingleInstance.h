#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace sonitor {

// One editor per user: a lock file in the runtime folder stands for the
// run mutex (held while looking for a running instance until the first
// command line is processed) and a local socket beside it stands for the
// main window's hand-over message. Messages on the socket: a 4-byte kind
// and a 4-byte size (little-endian) followed by size bytes; kind 0 is a
// hand-over record (refused unless it is exactly 33,284 bytes), kind 102 a
// close request. The receiver answers one byte: 1 accepted, 0 refused.
//
// Sending runs a local event loop rather than blocking, so a sender and a
// receiver may share one thread (tests do).
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    static constexpr uint32_t kHandoffMessage = 0;
    static constexpr uint32_t kCloseMessage = 102;

    // folder: where the lock and the socket live (default: $XDG_RUNTIME_DIR,
    // else the temporary folder), with the user's id in the names.
    explicit SingleInstance(QString folder = QString());
    ~SingleInstance() override;

    // Waits without limit for the run lock. False when the lock file cannot
    // be made at all (the caller goes on without it).
    bool LockRun();
    void ReleaseRun();
    // Sends the arguments to a running instance; true when one answered 1.
    // False when none runs (or it refused).
    bool HandOver(const std::vector<std::string>& arguments, int timeoutMs = 30000);
    // Sends raw bytes of a kind (tests: a record of the wrong size); the
    // answer byte, or -1 when nobody listens (no server, or it hung up
    // without answering). 0 when it did not answer within timeoutMs.
    int SendMessage(uint32_t kind, const QByteArray& payload, int timeoutMs = 30000);
    // Becomes the running instance: listens on the socket. A socket left
    // behind by an instance that died is replaced; a live one is not (false).
    bool Listen();
    // Stops taking messages (the editor is closing: a later start must not
    // hand its files to a window that is going away).
    void StopListening();
    bool Listening() const;
    QString SocketPath() const;
    QString LockPath() const;

signals:
    // A hand-over record arrived (already decoded, count limited to 128).
    // The sender has had its answer by then.
    void ArgumentsReceived(const std::vector<std::string>& arguments);
    // Another program asked the editor to close without questions.
    void CloseRequested();

private:
    void OnConnection();
    void OnReadable(QLocalSocket* socket);

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace sonitor
