#include "shell/MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "audio_io/AudioDevice.h"
#include "document/SoundDocument.h"
#include "edit/TimeText.h"
#include "formats/export/SaveCommands.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"
#include "shell/ClipboardBridge.h"
#include "shell/CommandBar.h"
#include "shell/CommandIds.h"
#include "shell/DocumentWindow.h"
#include "shell/FileDialogs.h"
#include "shell/FormatDialogs.h"
#include "shell/LevelMeter.h"
#include "shell/MainFrameImpl.h"
#include "shell/ProgressDialog.h"
#include "shell/QtPrompt.h"
#include "shell/Splash.h"
#include "shell/WaveView.h"
#include "shell/WaveWindow.h"
#include "shell/WindowPlacement.h"

namespace sonitor {

namespace {

constexpr char kProductName[] = "Sonitor";
constexpr int kPendingPollMs = 20;

// File arguments and dropped files may be relative to where the sender
// started; documents keep absolute paths so that the same file is found
// again and the recent list names it fully.
std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// A document that has been saved or loaded names its file by full path;
// untitled ones and the parts of an auto split carry a bare name.
bool HasFile(const SoundDocument& document) {
    return document.fileName.find('/') != std::string::npos;
}

PlacementRect ToPlacement(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

}  // namespace

std::string DocumentTitleName(const SoundDocument& document) {
    const std::string name = FileNamePart(document.fileName);
    return name.substr(0, name.size() - ExtensionPart(name).size());
}

// ---------------------------------------------------------------------------
// Impl: services

MainFrame::Impl::Impl(MainFrame& frame, const SettingsStore& settings, AudioBackend& backend,
                      ShellServices services)
    : frame(frame), settings(settings), recent(settings) {
    if (services.prompt) {
        prompt.SetTarget(services.prompt);
    } else {
        ownPrompt = std::make_unique<QtPrompt>(&frame);
        prompt.SetTarget(ownPrompt.get());
    }
    if (services.files) {
        files = services.files;
    } else {
        ownFiles = std::make_unique<QtFileChooser>();
        files = ownFiles.get();
    }
    tasks = std::make_unique<QtTaskHost>(&frame);
    session = std::make_unique<EditorSession>(frame, *tasks, settings);
    player = std::make_unique<SoundPlayer>(backend);
    transport = std::make_unique<Transport>(*player, frame, settings);
    transport->SetForward(this);
    // Another program asking for the clipboard's audio while a task runs
    // would start a second task inside the first one.
    clipboard = std::make_unique<ClipboardBridge>(session->Clipboard(), *tasks,
                                                  [this] { return this->frame.Busy(); });
}

// The transport goes before the player it listens to, the player before
// the documents it may still read.
MainFrame::Impl::~Impl() {
    transport.reset();
    player.reset();
    clipboard.reset();
    session.reset();
}

// ---------------------------------------------------------------------------
// MainFrame

MainFrame::MainFrame(const SettingsStore& settings, AudioBackend& backend, ShellServices services) {
    setObjectName("LMMWC");
    setWindowTitle(kProductName);
    mdi_ = new QMdiArea(this);
    mdi_->setObjectName("MDIClient");
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    impl_ = std::make_unique<Impl>(*this, settings, backend, services);
    Impl& d = *impl_;

    d.BuildMenus();
    d.BuildBars();
    d.BuildStatusPanel();
    connect(mdi_, &QMdiArea::subWindowActivated, this,
            [this](QMdiSubWindow* w) { impl_->OnSubWindowActivated(w); });

    d.statusTimer.setInterval(500);
    connect(&d.statusTimer, &QTimer::timeout, this, [this] { impl_->UpdateStatusPanel(); });
    d.statusTimer.start();
    d.selectionTimer.setSingleShot(true);
    d.selectionTimer.setInterval(5);
    connect(&d.selectionTimer, &QTimer::timeout, this, [this] { impl_->RefreshStatusFields(); });
    d.pendingTimer.setInterval(kPendingPollMs);
    connect(&d.pendingTimer, &QTimer::timeout, this, [this] { impl_->ProcessPending(); });

    // The restored rectangle first, so that un-maximizing comes back to it.
    const WindowPlacement placement = LoadWindowPlacement(settings);
    PlacementRect restored = placement.restored;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        restored = ClampOntoScreen(restored, ToPlacement(screen->availableVirtualGeometry()));
    move(restored.x, restored.y);
    resize(restored.width, restored.height);
    if (placement.maximized) setWindowState(windowState() | Qt::WindowMaximized);

    d.ApplyBarFlags();
    d.RebuildRecentMenu();
    d.RefreshAll();
    setAcceptDrops(true);
}

MainFrame::~MainFrame() {
    Impl& d = *impl_;
    d.StoreState();
    d.destroying = true;
    d.statusTimer.stop();
    d.selectionTimer.stop();
    d.pendingTimer.stop();
    qApp->removeEventFilter(this);
    disconnect(mdi_, nullptr, this, nullptr);
    d.player->StopPlayback();
    // The windows hold their documents and run wave workers: they go while
    // the session and the player still exist.
    for (QMdiSubWindow* window : mdi_->subWindowList()) {
        window->removeEventFilter(this);
        delete window;
    }
    for (QWidget* retired : findChildren<QMdiSubWindow*>())
        delete retired;
    impl_.reset();
}

EditorSession& MainFrame::Session() {
    return *impl_->session;
}

QtTaskHost& MainFrame::Tasks() {
    return *impl_->tasks;
}

Transport& MainFrame::Player() {
    return *impl_->transport;
}

QAction* MainFrame::Action(int id) const {
    const auto it = impl_->actions.find(id);
    return it == impl_->actions.end() ? nullptr : it->second;
}

DocumentWindow* MainFrame::ActiveDocumentWindow() const {
    return impl_->WindowOf(impl_->session->Active());
}

std::vector<DocumentWindow*> MainFrame::DocumentWindows() const {
    std::vector<DocumentWindow*> windows;
    for (const Ref<SoundDocument>& document : impl_->session->Documents()) {
        if (DocumentWindow* window = impl_->WindowOf(document.Get())) windows.push_back(window);
    }
    return windows;
}

bool MainFrame::Busy() const {
    return impl_->tasks->Busy() || impl_->prompt.Open() || impl_->modalDepth > 0 ||
           QApplication::activeModalWidget() != nullptr;
}

size_t MainFrame::QueuedCommandLines() const {
    return impl_->pendingCommandLines.size();
}

const std::vector<std::string>& MainFrame::PendingBatchScripts() const {
    return impl_->pendingBatchScripts;
}

QString MainFrame::StatusText(int id) const {
    if (id == 1) return impl_->formatText->text();
    if (id == 2) return impl_->freeSpaceText->text();
    const auto it = impl_->statusFields.find(id);
    return it == impl_->statusFields.end() ? QString() : it->second->text();
}

bool MainFrame::OnCommand(int id) {
    if (impl_->destroying || Busy()) return false;
    impl_->UpdateCommandStates();
    const QAction* action = Action(id);
    if (!action || !action->isEnabled()) return false;
    const bool done = impl_->Dispatch(id);
    if (impl_->destroying) return done;
    impl_->SyncActive();
    impl_->ProcessPendingSoon();
    return done;
}

SoundDocument* MainFrame::OpenFile(const std::string& path) {
    const std::string full = AbsolutePath(path);
    for (const Ref<SoundDocument>& open : impl_->session->Documents()) {
        if (SameFilePath(open->fileName, full)) {
            impl_->ActivateDocument(open.Get());
            return open.Get();
        }
    }
    const Ref<SoundDocument> document = impl_->session->OpenDocument(full);
    if (!document) return nullptr;
    impl_->ActivateDocument(document.Get());
    if (impl_->settings.ReadBool("Settings", "AutoArrangeWindows", true)) ArrangeWindows();
    if (impl_->settings.ReadBool("Settings", "PlayWhenOpen", true))
        StartPlayback(*document, document->cursor);
    return document.Get();
}

// ---------------------------------------------------------------------------
// Closing

bool MainFrame::QueryClose() {
    if (Busy()) return false;
    for (DocumentWindow* window : DocumentWindows()) {
        SoundDocument& document = window->Document();
        if (!impl_->AskToSave(document)) return false;
        impl_->RememberClosed(document);
    }
    return true;
}

void MainFrame::ForceClose() {
    if (Busy()) {
        impl_->pendingForceClose = true;
        impl_->ProcessPendingSoon();
        return;
    }
    impl_->pendingForceClose = false;
    impl_->forceClosing = true;
    close();
}

void MainFrame::closeEvent(QCloseEvent* event) {
    // Never under a running task: it holds the document and pumps our events.
    if (Busy() || (!impl_->forceClosing && !QueryClose())) {
        impl_->forceClosing = false;
        event->ignore();
        return;
    }
    impl_->StoreState();
    event->accept();
}

bool MainFrame::Impl::AskToSave(SoundDocument& document) {
    if (!document.modified) return true;
    const PromptAnswer answer =
        prompt.Ask(kProductName, Format("Save changes to \"%s\"?", FileNamePart(document.fileName).c_str()),
                   PromptIcon::Question, PromptButtons::YesNoCancel);
    if (answer == PromptAnswer::Cancel) return false;
    if (answer != PromptAnswer::Yes) return true;
    player->StopPlayback();
    // A save that failed, or a Save As the user cancelled, must keep the
    // window: closing it would throw the changes away after the user asked
    // for them to be kept.
    return SaveCommand(document, frame, *tasks, settings) && !document.modified;
}

void MainFrame::Impl::RememberClosed(const SoundDocument& document) {
    if (!HasFile(document)) return;
    recent.Add(document.fileName);
    RebuildRecentMenu();
}

bool MainFrame::Impl::CloseDocumentAsking(SoundDocument& document) {
    const Ref<SoundDocument> keep(&document);
    if (!AskToSave(document)) return false;
    RememberClosed(document);
    session->CloseDocument(document);
    SyncActive();
    return true;
}

void MainFrame::Impl::StoreState() {
    if (stateStored) return;
    stateStored = true;
    if (commandBar) commandBar->StoreTopics(settings);
    player->StopPlayback();
    WindowShowState state = WindowShowState::Normal;
    if (frame.isMinimized())
        state = WindowShowState::Minimized;
    else if (frame.isMaximized())
        state = WindowShowState::Maximized;
    int desktopRight = frame.frameGeometry().right() + 1;
    if (const QScreen* screen = frame.screen()) {
        const QRect desktop = screen->availableVirtualGeometry();
        desktopRight = desktop.x() + desktop.width();
    }
    // The frame's corner and the size inside it: what move() and resize()
    // take back at the next start.
    const QPoint corner = frame.frameGeometry().topLeft();
    StoreWindowPlacement(settings, state, {corner.x(), corner.y(), frame.width(), frame.height()},
                         desktopRight);
    frame.setAcceptDrops(false);
}

// ---------------------------------------------------------------------------
// Windows and the active document

DocumentWindow* MainFrame::Impl::WindowOf(const SoundDocument* document) const {
    if (!document) return nullptr;
    for (QMdiSubWindow* sub : frame.mdi_->subWindowList()) {
        auto* window = qobject_cast<DocumentWindow*>(sub->widget());
        if (window && &window->Document() == document) return window;
    }
    return nullptr;
}

QMdiSubWindow* MainFrame::Impl::SubWindowOf(const SoundDocument* document) const {
    DocumentWindow* window = WindowOf(document);
    return window ? qobject_cast<QMdiSubWindow*>(window->parentWidget()) : nullptr;
}

void MainFrame::Impl::SetTransportDocument(SoundDocument* document) {
    if (document == transportDocument) return;
    transportDocument = document;
    transport->SetDocument(document);
}

void MainFrame::Impl::ActivateDocument(SoundDocument* document) {
    if (destroying) return;
    if (QMdiSubWindow* sub = SubWindowOf(document)) {
        if (frame.mdi_->activeSubWindow() != sub) frame.mdi_->setActiveSubWindow(sub);
    }
    if (document && session->Active() != document) session->Activate(document);
    SetTransportDocument(session->Active());
    RefreshAll();
}

void MainFrame::Impl::SyncActive() {
    ActivateDocument(session->Active());
}

void MainFrame::Impl::OnSubWindowActivated(QMdiSubWindow* sub) {
    if (destroying) return;
    // A null window also comes when the whole program loses the focus:
    // the document stays active then.
    auto* window = sub ? qobject_cast<DocumentWindow*>(sub->widget()) : nullptr;
    if (!window) {
        if (frame.mdi_->subWindowList().isEmpty()) ActivateDocument(nullptr);
        return;
    }
    ActivateDocument(&window->Document());
}

void MainFrame::DocumentOpened(SoundDocument& document) {
    Ref<SoundDocument> ref;
    for (const Ref<SoundDocument>& open : impl_->session->Documents()) {
        if (open.Get() == &document) ref = open;
    }
    if (!ref) return;
    const QMdiSubWindow* active = mdi_->activeSubWindow();
    const bool maximize = active && active->isMaximized();
    auto* window = new DocumentWindow(ref);
    QMdiSubWindow* sub = mdi_->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->installEventFilter(this);
    window->UpdateTitle();
    sub->setWindowTitle(window->windowTitle());

    SoundDocument* doc = &document;
    WaveView& view = window->View();
    connect(&view, &WaveView::SelectionFinished, this, [this, doc] { impl_->OnSelectionFinished(*doc); });
    connect(&view, &WaveView::SelectionDragging, this, [this] { impl_->selectionTimer.start(); });
    connect(&view, &WaveView::DragScroll, this, [this, doc](int code) { impl_->OnDragScroll(*doc, code); });
    connect(&view, &WaveView::ScrollRequested, this,
            [this, doc](int32_t frame) { impl_->OnScrollRequested(*doc, frame); });
    connect(&view, &WaveView::ViewChanged, this, [this] {
        impl_->RefreshStatusFields();
        impl_->UpdateCommandStates();
    });

    if (maximize)
        sub->showMaximized();
    else
        sub->show();
    view.Relayout();
    mdi_->setActiveSubWindow(sub);
}

void MainFrame::DocumentClosing(SoundDocument& document) {
    if (impl_->transportDocument == &document) {
        impl_->player->StopPlayback();
        impl_->SetTransportDocument(nullptr);
    }
    QMdiSubWindow* sub = impl_->SubWindowOf(&document);
    if (!sub) return;
    sub->removeEventFilter(this);
    mdi_->removeSubWindow(sub);
    sub->hide();
    // Possibly inside the window's own close handling: it goes later.
    sub->setParent(this);
    sub->deleteLater();
}

void MainFrame::Impl::RefreshAll() {
    if (destroying) return;
    UpdateTitle();
    UpdateStatusPanel();
    RefreshStatusFields();
    UpdateCommandStates();
    UpdateTransportButtons();
}

void MainFrame::Impl::UpdateTitle() {
    const SoundDocument* document = session->Active();
    const std::string title =
        document ? Format("%s - %s", kProductName, DocumentTitleName(*document).c_str()) : kProductName;
    frame.setWindowTitle(QString::fromStdString(title));
}

void MainFrame::Impl::UpdateStatusPanel() {
    if (destroying) return;
    if (const SoundDocument* document = session->Active()) {
        formatText->setText(QString::asprintf("Sample Rate: %d   %s",
                                              static_cast<int>(document->clip.SampleRate()),
                                              document->clip.Channels() >= 2 ? "Stereo" : "Mono"));
    } else {
        formatText->clear();
    }
    freeSpaceText->setText(QString::asprintf("Free Space: %5.2f MB", FreeSpaceKiB(WorkingFolder()) / 1024.0));
}

void MainFrame::Impl::RefreshStatusFields() {
    if (destroying) return;
    const SoundDocument* document = session->Active();
    if (!document) {
        for (auto& [id, field] : statusFields)
            field->clear();
        return;
    }
    const auto rate = static_cast<int32_t>(document->clip.SampleRate());
    const auto text = [rate](int32_t frames) { return QString::fromStdString(FormatTimeText(frames, rate)); };
    statusFields[ctrl::kSelectionStart]->setText(text(document->selectionStart));
    statusFields[ctrl::kSelectionEnd]->setText(text(document->selectionEnd));
    statusFields[ctrl::kSelectionLength]->setText(text(document->selectionEnd - document->selectionStart));
    statusFields[ctrl::kFileLength]->setText(text(document->Length()));
    const bool playing = !player->Idle() && transportDocument == document;
    statusFields[ctrl::kCurrentTime]->setText(text(playing ? transport->PlayPosition() : document->cursor));
}

void MainFrame::Impl::ShowCurrentTime(int32_t frame) {
    const SoundDocument* document = session->Active();
    if (!document) return;
    statusFields[ctrl::kCurrentTime]->setText(
        QString::fromStdString(FormatTimeText(frame, static_cast<int32_t>(document->clip.SampleRate()))));
}

void MainFrame::Impl::PlaceCursor(SoundDocument& document, int32_t frame) {
    if (DocumentWindow* window = WindowOf(&document))
        window->View().PlaceCursor(std::max(0, frame), player->Scrubbing());
    else
        document.cursor = std::max(0, frame);
    if (&document == session->Active()) ShowCurrentTime(document.cursor);
}

// ---------------------------------------------------------------------------
// The wave pane's notifications

void MainFrame::Impl::OnSelectionFinished(SoundDocument& document) {
    if (&document != session->Active()) ActivateDocument(&document);
    RefreshStatusFields();
    UpdateCommandStates();
    if (player->Idle())
        PlaceCursor(document, document.cursor);
    else
        transport->Play();
}

void MainFrame::Impl::OnDragScroll(SoundDocument& document, int code) {
    if (&document != session->Active()) return;
    if (code == WaveMouseTracker::kPastRight || code == WaveMouseTracker::kPastLeft) {
        const bool forward = code == WaveMouseTracker::kPastRight;
        document.cursor = forward ? document.selectionEnd : document.selectionStart;
        dragFixedEdge = forward ? document.selectionStart : document.selectionEnd;
        dragCue = true;
        SetTransportDocument(&document);
        transport->StartCue(forward);
    } else if (dragCue) {
        dragCue = false;
        transport->EndCue();
        RefreshStatusFields();
    }
}

void MainFrame::Impl::OnScrollRequested(SoundDocument& document, int32_t frame) {
    const int32_t target = std::clamp(frame, 0, document.Length());
    PlaceCursor(document, target);
    if (!player->Idle() && transportDocument == &document) player->SeekPlayback(target);
}

void MainFrame::Impl::StartCue(bool forward) {
    transport->StartCue(forward);
    if (QToolButton* button = transportButtons[forward ? ctrl::kForwardButton : ctrl::kRewindButton])
        button->setDown(true);
}

void MainFrame::Impl::EndCue() {
    cueKey = 0;
    qApp->removeEventFilter(&frame);
    transport->EndCue();
    for (int id : {ctrl::kRewindButton, ctrl::kForwardButton}) {
        if (QToolButton* button = transportButtons[id]) button->setDown(false);
    }
}

// ---------------------------------------------------------------------------
// The player's reports

void MainFrame::Impl::PlayStarted() {
    if (!destroying) UpdateTransportButtons();
}

void MainFrame::Impl::PlayStopped() {
    if (destroying) return;
    UpdateTransportButtons();
    meter->Clear();
    if (transportDocument) PlaceCursor(*transportDocument, transportDocument->cursor);
    RefreshStatusFields();
}

void MainFrame::Impl::ScrubStarted() {
    if (!destroying) UpdateTransportButtons();
}

void MainFrame::Impl::PositionReport(int32_t) {
    if (destroying || !transportDocument) return;
    SoundDocument& document = *transportDocument;
    DocumentWindow* window = WindowOf(&document);
    if (!window) return;
    const int32_t position = transport->PlayPosition();
    WaveView& view = window->View();
    if (dragCue) {
        document.selectionStart = std::min(dragFixedEdge, position);
        document.selectionEnd = std::max(dragFixedEdge, position);
        for (WaveWindow* wave : {&view.Main(), &view.Overview()}) {
            wave->SetSelectionStart(document.selectionStart);
            wave->SetSelectionEnd(document.selectionEnd);
        }
        selectionTimer.start();
    }
    // Without a selection the pane keeps the play line in view itself; a
    // dragged selection edge is followed here.
    view.ShowPlayPosition(position);
    if (dragCue) {
        const WaveViewRange shown = view.View();
        const WaveViewRange followed = FollowCursor(shown, position);
        if (followed.start != shown.start || followed.end != shown.end) view.SetView(followed);
    }
    if (&document == session->Active()) ShowCurrentTime(position);
}

void MainFrame::Impl::LevelsChanged(const LevelSet& levels) {
    if (destroying || player->Idle()) return;
    meter->SetLevels(std::vector<int>(levels.levels.begin(), levels.levels.begin() + levels.channels));
}

// ---------------------------------------------------------------------------
// DocumentHost

UserPrompt& MainFrame::Prompt() {
    return impl_->prompt;
}

void MainFrame::StopPlayback() {
    impl_->player->StopPlayback();
}

bool MainFrame::IsPlaying() const {
    return !impl_->player->Idle();
}

void MainFrame::StartPlayback(SoundDocument& document, int32_t position) {
    if (impl_->destroying) return;
    document.cursor = std::clamp(position, 0, document.Length());
    if (&document != impl_->session->Active()) impl_->ActivateDocument(&document);
    impl_->SetTransportDocument(&document);
    impl_->transport->Play();
}

void MainFrame::DocumentChanged(SoundDocument& document) {
    if (impl_->destroying) return;
    if (DocumentWindow* window = impl_->WindowOf(&document)) {
        window->UpdateTitle();
        if (QMdiSubWindow* sub = impl_->SubWindowOf(&document)) sub->setWindowTitle(window->windowTitle());
        window->View().Relayout();
        window->View().PlaceCursor(std::clamp(document.cursor, 0, document.Length()),
                                   impl_->player->Scrubbing());
    }
    if (&document == impl_->session->Active()) impl_->RefreshAll();
}

void MainFrame::CommandStatesChanged(SoundDocument& document) {
    if (!impl_->destroying && &document == impl_->session->Active()) impl_->UpdateCommandStates();
}

std::optional<std::string> MainFrame::ChooseSaveFile(const SaveFileDialog& dialog) {
    Impl::ModalScope modal(*impl_);
    return impl_->files->ChooseSaveFile(this, dialog);
}

bool MainFrame::ShowFormatOptions(const std::string& extension, int32_t rate, int channels) {
    Impl::ModalScope modal(*impl_);
    return ShowFormatOptionsDialog(this, extension, rate, channels, impl_->settings, impl_->prompt);
}

void MainFrame::ArrangeWindows() {
    impl_->TileHorizontally();
}

void MainFrame::AnnounceClipboard() {
    impl_->clipboard->Announce();
    impl_->UpdateCommandStates();
}

// ---------------------------------------------------------------------------
// Arranging the windows

namespace {

std::vector<QMdiSubWindow*> TileableWindows(QMdiArea& mdi) {
    std::vector<QMdiSubWindow*> windows;
    for (QMdiSubWindow* window : mdi.subWindowList(QMdiArea::CreationOrder)) {
        if (window->isVisible() && !window->isMinimized()) windows.push_back(window);
    }
    return windows;
}

}  // namespace

// One above the other, each the full width (the windows' own "horizontal"
// tiling); a column per three windows when there are more than three.
void MainFrame::Impl::TileHorizontally() {
    const std::vector<QMdiSubWindow*> windows = TileableWindows(*frame.mdi_);
    if (windows.empty()) return;
    const QRect area = frame.mdi_->viewport()->rect();
    const int count = static_cast<int>(windows.size());
    const int columns = (count + 2) / 3;
    for (int i = 0; i < count; ++i) {
        const int column = i * columns / count;
        const int first = (column * count + columns - 1) / columns;
        const int next = ((column + 1) * count + columns - 1) / columns;
        const int rows = next - first;
        const int row = i - first;
        const int x0 = area.width() * column / columns;
        const int x1 = area.width() * (column + 1) / columns;
        const int y0 = area.height() * row / rows;
        const int y1 = area.height() * (row + 1) / rows;
        windows[static_cast<size_t>(i)]->showNormal();
        windows[static_cast<size_t>(i)]->setGeometry(x0, y0, x1 - x0, y1 - y0);
    }
}

// Side by side, each the full height.
void MainFrame::Impl::TileVertically() {
    const std::vector<QMdiSubWindow*> windows = TileableWindows(*frame.mdi_);
    if (windows.empty()) return;
    const QRect area = frame.mdi_->viewport()->rect();
    const int count = static_cast<int>(windows.size());
    for (int i = 0; i < count; ++i) {
        const int x0 = area.width() * i / count;
        const int x1 = area.width() * (i + 1) / count;
        windows[static_cast<size_t>(i)]->showNormal();
        windows[static_cast<size_t>(i)]->setGeometry(x0, 0, x1 - x0, area.height());
    }
}

// Minimized windows in a row along the bottom edge.
void MainFrame::Impl::ArrangeIcons() {
    const QRect area = frame.mdi_->viewport()->rect();
    int x = 0;
    int y = area.height();
    for (QMdiSubWindow* window : frame.mdi_->subWindowList(QMdiArea::CreationOrder)) {
        if (!window->isMinimized()) continue;
        const QSize size = window->size();
        if (x > 0 && x + size.width() > area.width()) {
            x = 0;
            y -= size.height();
        }
        window->move(x, y - size.height());
        x += size.width();
    }
}

// ---------------------------------------------------------------------------
// Command lines

void MainFrame::CommandLineProcessor(const std::vector<std::string>& arguments) {
    // A hand-over that arrives while a task pumps our events, or while a
    // question waits for its answer, runs when the frame is idle again, after
    // the ones that came before it.
    if (impl_->destroying) return;
    if (Busy() || impl_->commandLineDepth > 0 || !impl_->pendingCommandLines.empty()) {
        impl_->pendingCommandLines.push_back(arguments);
        impl_->ProcessPendingSoon();
        return;
    }
    impl_->RunCommandLine(arguments);
}

void MainFrame::Impl::RunCommandLine(const std::vector<std::string>& arguments) {
    ++commandLineDepth;
    if (frame.isMaximized())
        frame.showMaximized();
    else
        frame.showNormal();
    frame.raise();
    frame.activateWindow();
    const CommandLinePlan plan = PlanCommandLine(arguments);
    RunPlan(plan);
    --commandLineDepth;
    if (!plan.handled) {
        ShowSplash(&frame);
        ++frame.splashes_;
    }
    ProcessPendingSoon();
}

void MainFrame::Impl::RunPlan(const CommandLinePlan& plan) {
    for (const CommandLineStep& step : plan.steps) {
        if (stateStored) return;  // "-exit" closed the frame
        RunStep(step);
        SyncActive();
    }
}

void MainFrame::Impl::RunStep(const CommandLineStep& step) {
    using Kind = CommandLineStep::Kind;
    SoundDocument* document = session->Active();
    switch (step.kind) {
        case Kind::Save:
            if (document) SaveCommand(*document, frame, *tasks, settings);
            break;
        case Kind::SaveAs: {
            if (!document) break;
            if (IsRealAudioExtension(ExtensionPart(FileNamePart(step.path)))) {
                if (prompt.Ask(kProductName, kRealAudioQuestion, PromptIcon::Question,
                               PromptButtons::YesNo) == PromptAnswer::Yes)
                    SaveAsCommand(*document, frame, *tasks, settings);
                break;
            }
            // The document takes the name only if the save worked: else it
            // would claim a file that does not hold it.
            const std::string previous = document->fileName;
            document->fileName = AbsolutePath(step.path);
            if (!SaveCommand(*document, frame, *tasks, settings)) document->fileName = previous;
            frame.DocumentChanged(*document);
            break;
        }
        case Kind::Close:
            if (document) CloseDocumentAsking(*document);
            break;
        case Kind::Exit:
            frame.close();
            break;
        case Kind::Minimize:
            frame.showMinimized();
            break;
        case Kind::Maximize:
            frame.showMaximized();
            break;
        case Kind::Restore:
            frame.showNormal();
            break;
        case Kind::Resize: {
            if (frame.isMaximized() || frame.isMinimized()) frame.showNormal();
            // The client area is what lies below the menu bar.
            const int menuHeight =
                frame.menuBar()->isNativeMenuBar() ? 0 : frame.menuBar()->sizeHint().height();
            const QSize client(frame.width(), frame.height() - menuHeight);
            frame.resize(step.width.value_or(client.width()),
                         step.height.value_or(client.height()) + menuHeight);
            break;
        }
        case Kind::Batch:
            // The converter is modal: it opens after the rest of the command
            // line has run, not in the middle of it.
            pendingBatchScripts.push_back(AbsolutePath(step.path));
            break;
        case Kind::OpenFile:
            frame.OpenFile(step.path);
            break;
        case Kind::OpenProject:
            // Projects are not part of the editor yet.
            break;
    }
}

void MainFrame::Impl::ProcessPendingSoon() {
    if ((!pendingCommandLines.empty() || !pendingBatchScripts.empty() || pendingForceClose) &&
        !pendingTimer.isActive())
        pendingTimer.start();
}

void MainFrame::Impl::ProcessPending() {
    if (destroying || frame.Busy() || commandLineDepth > 0) return;
    if (pendingForceClose) {
        pendingTimer.stop();
        frame.ForceClose();
        return;
    }
    // A converter asked for by a command line that has run comes before the
    // command lines handed over after it.
    if (!pendingBatchScripts.empty()) {
        const std::string script = pendingBatchScripts.front();
        pendingBatchScripts.erase(pendingBatchScripts.begin());
        if (pendingBatchScripts.empty() && pendingCommandLines.empty()) pendingTimer.stop();
        OpenBatchConverter(script);
        ProcessPendingSoon();
        return;
    }
    if (pendingCommandLines.empty()) {
        pendingTimer.stop();
        return;
    }
    const std::vector<std::string> arguments = std::move(pendingCommandLines.front());
    pendingCommandLines.pop_front();
    if (pendingCommandLines.empty()) pendingTimer.stop();
    RunCommandLine(arguments);
}

// ---------------------------------------------------------------------------
// Drops and events

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
    event->ignore();
}

void MainFrame::dropEvent(QDropEvent* event) {
    if (Busy() || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    StopPlayback();
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) OpenFile(url.toLocalFile().toStdString());
    }
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (impl_ && !impl_->destroying) {
        if (event->type() == QEvent::Close) {
            if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
                // A document window's close box: the question about unsaved
                // changes decides, after the window's own close handling.
                event->ignore();
                if (auto* window = qobject_cast<DocumentWindow*>(sub->widget())) {
                    const Ref<SoundDocument> document = window->DocumentRef();
                    QTimer::singleShot(0, this, [this, document] {
                        if (!Busy() && impl_->WindowOf(document.Get())) {
                            impl_->CloseDocumentAsking(*document);
                            impl_->SyncActive();
                        }
                    });
                }
                return true;
            }
        } else if (event->type() == QEvent::KeyRelease && impl_->cueKey != 0) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == impl_->cueKey && !key->isAutoRepeat()) impl_->EndCue();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace sonitor
