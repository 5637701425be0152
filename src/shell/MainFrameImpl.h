#pragma once

// The inside of the main frame, shared by MainFrame.cpp (windows, host,
// closing, command line, player), MainMenus.cpp (menus, bars, command
// states) and MainCommands.cpp (the dispatch). Not for other files.
#include <QPointer>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio_io/SoundPlayer.h"
#include "audio_io/Transport.h"
#include "edit/EditorSession.h"
#include "shell/CommandLineSteps.h"
#include "shell/MainFrame.h"
#include "shell/RecentFileList.h"

class QKeySequence;
class QLabel;
class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;

namespace sonitor {

class CommandBar;
class DbEdit;
class LevelMeter;

// The frame's prompt: forwards to the real one (message boxes, or a test's
// script) and counts the questions that are open, so that the frame knows
// it must not start anything else meanwhile.
class CountingPrompt final : public UserPrompt {
public:
    void SetTarget(UserPrompt* target) { target_ = target; }
    PromptAnswer Ask(const std::string& title, const std::string& text, PromptIcon icon,
                     PromptButtons buttons) override {
        ++open_;
        const PromptAnswer answer = target_->Ask(title, text, icon, buttons);
        --open_;
        return answer;
    }
    bool Open() const { return open_ > 0; }

private:
    UserPrompt* target_ = nullptr;
    int open_ = 0;
};

// What a command needs before it is enabled.
enum class Need {
    Always,     // no document needed
    Document,   // an active document
    Selection,  // a document with a selection
    Clipboard,  // a document and at least 1 ms on the program's clipboard
    Modified,   // a document with unsaved changes
    Undo,
    Redo,
    Stereo,   // a two-channel document (Convert to Mono)
    Mono,     // a one-channel document (Convert to Stereo)
    Windows,  // at least one document window
    Later,    // its window or engine comes later: always disabled
};

// One menu entry: id, text (with mnemonic and "\t" shortcut text) and keys.
struct CommandSpec {
    int id;
    const char* text;
    Need need;
    const char* keys = "";         // QKeySequence text; ";" separates alternatives
    const char* effect = nullptr;  // catalogue id of an effect without a dialog
};

class MainFrame::Impl final : public PlayerListener {
public:
    Impl(MainFrame& frame, const SettingsStore& settings, AudioBackend& backend, ShellServices services);
    ~Impl() override;

    // ---- MainMenus.cpp: building the frame and keeping its states.
    void BuildMenus();
    void BuildBars();
    void BuildStatusPanel();
    QAction* MakeAction(const CommandSpec& spec);
    QMenu* AddMenu(QMenu* parent, const QString& title, const std::vector<CommandSpec>& specs);
    void RebuildRecentMenu();
    void UpdateCommandStates();
    void UpdateTransportButtons();
    void ApplyBarFlags();
    const CommandSpec* Spec(int id) const;

    // ---- MainCommands.cpp
    bool Dispatch(int id);
    bool FileCommand(int id);
    bool EditCommand(int id, SoundDocument& document);
    bool TransportCommand(int id);
    bool WindowCommand(int id);
    bool ViewCommand(int id);
    bool EffectCommand(int id, SoundDocument& document);
    std::string ChooseOneFile(const char* folderKey);
    // The batch converter, modal; script (when not empty) loaded into it.
    bool OpenBatchConverter(const std::string& script);

    // ---- MainFrame.cpp
    EditContext& Context() { return session->Context(); }
    DocumentWindow* WindowOf(const SoundDocument* document) const;
    QMdiSubWindow* SubWindowOf(const SoundDocument* document) const;
    void ActivateDocument(SoundDocument* document);
    void SetTransportDocument(SoundDocument* document);
    void SyncActive();
    void RefreshAll();
    void UpdateTitle();
    void UpdateStatusPanel();
    void RefreshStatusFields();
    void ShowCurrentTime(int32_t frame);
    void PlaceCursor(SoundDocument& document, int32_t frame);
    bool CloseDocumentAsking(SoundDocument& document);
    bool AskToSave(SoundDocument& document);
    void RememberClosed(const SoundDocument& document);
    void TileHorizontally();
    void TileVertically();
    void ArrangeIcons();
    void RunCommandLine(const std::vector<std::string>& arguments);
    void RunPlan(const CommandLinePlan& plan);
    void RunStep(const CommandLineStep& step);
    void ProcessPendingSoon();
    void ProcessPending();
    void StoreState();
    void OnSubWindowActivated(QMdiSubWindow* window);
    void OnSelectionFinished(SoundDocument& document);
    void OnDragScroll(SoundDocument& document, int code);
    void OnScrollRequested(SoundDocument& document, int32_t frame);
    void StartCue(bool forward);
    void EndCue();

    // PlayerListener, forwarded by the transport.
    void PlayStarted() override;
    void PlayStopped() override;
    void ScrubStarted() override;
    void PositionReport(int32_t milliseconds) override;
    void LevelsChanged(const LevelSet& levels) override;

    MainFrame& frame;
    const SettingsStore& settings;
    CountingPrompt prompt;
    std::unique_ptr<UserPrompt> ownPrompt;
    std::unique_ptr<FileChooser> ownFiles;
    FileChooser* files = nullptr;
    std::unique_ptr<QtTaskHost> tasks;
    std::unique_ptr<EditorSession> session;
    std::unique_ptr<SoundPlayer> player;
    std::unique_ptr<Transport> transport;
    std::unique_ptr<ClipboardBridge> clipboard;
    RecentFileList recent;
    // The document the transport plays (follows the active one).
    SoundDocument* transportDocument = nullptr;

    // Menus and bars (owned by Qt).
    std::map<int, QAction*> actions;
    std::vector<CommandSpec> specs;
    QMenu* fileMenu = nullptr;
    QAction* recentAnchor = nullptr;  // the separator after which the recent files begin
    QAction* exitAction = nullptr;
    std::vector<QAction*> recentItems;
    QToolBar* mainToolbar = nullptr;
    QToolBar* effectsToolbar = nullptr;
    QToolBar* transportBar = nullptr;
    CommandBar* commandBar = nullptr;
    std::map<int, QToolButton*> transportButtons;
    std::map<int, QLineEdit*> statusFields;
    QLabel* formatText = nullptr;
    QLabel* freeSpaceText = nullptr;
    LevelMeter* meter = nullptr;
    DbEdit* volume = nullptr;

    QTimer statusTimer;     // 500 ms: free space
    QTimer selectionTimer;  // 5 ms: status fields while a selection is dragged
    QTimer pendingTimer;    // queued hand-overs and close requests
    std::deque<std::vector<std::string>> pendingCommandLines;
    // "-batch" scripts whose batch converter opens once the frame is idle
    // ("" opens it without a script).
    std::vector<std::string> pendingBatchScripts;
    bool pendingForceClose = false;
    bool forceClosing = false;
    bool stateStored = false;
    bool destroying = false;
    int modalDepth = 0;
    int commandLineDepth = 0;

    // Dragging a selection past an edge of the main window cues through the
    // document; the edge that was not dragged stays put.
    bool dragCue = false;
    int32_t dragFixedEdge = 0;
    // The key that started cueing (F7/F8): its release ends it.
    int cueKey = 0;

    // Counts a modal dialog of ours for Busy().
    class ModalScope {
    public:
        explicit ModalScope(Impl& impl) : impl_(impl) { ++impl_.modalDepth; }
        ~ModalScope() { --impl_.modalDepth; }
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        Impl& impl_;
    };
};

// The document's name without folder and extension (the title's form).
std::string DocumentTitleName(const SoundDocument& document);

}  // namespace sonitor
