#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "document/DocumentHost.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;

namespace sonitor {

class AudioBackend;
class ClipboardBridge;
class DocumentWindow;
class EditorSession;
class FileChooser;
class QtPrompt;
class QtTaskHost;
class SettingsStore;
class SoundDocument;
class SoundPlayer;
class Transport;

// Replaceable services of the main frame: tests answer prompts and file
// dialogs from a script; the program uses message boxes and QFileDialog.
struct ShellServices {
    UserPrompt* prompt = nullptr;  // null: QtPrompt
    FileChooser* files = nullptr;  // null: QtFileChooser
};

// The main frame ("LMMWC"): the MDI window with the menus, toolbars,
// command bar, status panel and player; the document host of the editor.
// Turns every command id into a call of the core.
class MainFrame final : public QMainWindow, public DocumentHost {
    Q_OBJECT
public:
    MainFrame(const SettingsStore& settings, AudioBackend& backend, ShellServices services = {});
    ~MainFrame() override;

    // Arguments with the program path at index 0 (the own command line once,
    // then every hand-over). Hand-overs arriving while a task or a modal
    // prompt runs are queued and processed when the frame is idle.
    void CommandLineProcessor(const std::vector<std::string>& arguments);
    // A command id of the menus, toolbars and keys; false when it did
    // nothing (no document, disabled, busy).
    bool OnCommand(int id);
    // The close query: prompts for every modified document; false cancels.
    bool QueryClose();
    // A close request from another program or a signal: no questions.
    void ForceClose();

    EditorSession& Session();
    QtTaskHost& Tasks();
    Transport& Player();
    QAction* Action(int id) const;
    QMdiArea* MdiArea() const { return mdi_; }
    DocumentWindow* ActiveDocumentWindow() const;
    std::vector<DocumentWindow*> DocumentWindows() const;
    // A task, a modal prompt or a modal dialog is running.
    bool Busy() const;
    int SplashCount() const { return splashes_; }
    // Command lines handed over while the frame was busy, not yet run.
    size_t QueuedCommandLines() const;
    // "-batch" scripts whose batch converter has not opened yet: it opens
    // after the command line has run, when the frame is idle.
    const std::vector<std::string>& PendingBatchScripts() const;
    // The text of a status field (106..109, 130) or of the status panel's
    // two texts (1 = format, 2 = free space), for tests.
    QString StatusText(int id) const;
    // Opens a file as a document (or activates its window).
    SoundDocument* OpenFile(const std::string& path);

    // DocumentHost
    UserPrompt& Prompt() override;
    void StopPlayback() override;
    bool IsPlaying() const override;
    void StartPlayback(SoundDocument& document, int32_t position) override;
    void DocumentChanged(SoundDocument& document) override;
    void CommandStatesChanged(SoundDocument& document) override;
    std::optional<std::string> ChooseSaveFile(const SaveFileDialog& dialog) override;
    bool ShowFormatOptions(const std::string& extension, int32_t rate, int channels) override;
    void DocumentOpened(SoundDocument& document) override;
    void DocumentClosing(SoundDocument& document) override;
    void ArrangeWindows() override;
    void AnnounceClipboard() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    QMdiArea* mdi_ = nullptr;
    int splashes_ = 0;
};

}  // namespace sonitor
