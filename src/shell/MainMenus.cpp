// The main frame's menus, toolbars, command bar and status panel, and the
// enabled states, texts and check marks they show.
#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include "document/SoundDocument.h"
#include "foundation/Numbers.h"
#include "foundation/SettingsStore.h"
#include "shell/CommandBar.h"
#include "shell/CommandIds.h"
#include "shell/DbEdit.h"
#include "shell/DocumentWindow.h"
#include "shell/LevelMeter.h"
#include "shell/MainFrameImpl.h"

namespace sonitor {

namespace {

using namespace cmd;

constexpr CommandSpec kSeparator{0, "", Need::Always};

const std::vector<CommandSpec> kFileMenu = {
    {kNewFile, "&New File...\tCtrl+N", Need::Always, "Ctrl+N"},
    {kOpenFile, "&Open File...\tCtrl+O", Need::Always, "Ctrl+O"},
    {kLoadCdTracks, "&Load Audio CD Track(s)...\tCtrl+L", Need::Later, "Ctrl+L"},
    {kCloseFile, "Close File", Need::Document},
    kSeparator,
    {kSaveFile, "&Save File\tCtrl+S", Need::Modified, "Ctrl+S"},
    {kSaveFileAs, "Save File &As...", Need::Document},
    kSeparator,
    {kCopyToAudioCd, "Copy All Open File(s) to Audio &CD...", Need::Later},
    {kCopyToDataCd, "Copy All Open File(s) to &Data CD...", Need::Later},
    {kSend, "Sen&d...", Need::Later},
    kSeparator,
    {kOpenProject, "Open Pro&ject...", Need::Later},
    {kCloseProject, "Close Projec&t", Need::Later},
    {kSaveProject, "Save Pro&ject", Need::Later},
    {kSaveProjectAs, "Save Project As...", Need::Later},
    kSeparator,
    {kConvertSampleRate, "Convert Sample &Rate...", Need::Later},
    // The Convert Channels submenu goes here (see BuildMenus).
    {kEditTags, "Edit ID3 &Tags...", Need::Later},
    kSeparator,
    {kOptions, "Sonitor O&ptions...", Need::Later},
};

const std::vector<CommandSpec> kConvertChannelsMenu = {
    {kConvertToMono, "&Mono", Need::Stereo},
    {kConvertToStereo, "&Stereo", Need::Mono},
};

const std::vector<CommandSpec> kEditMenu = {
    {kUndo, "&Undo \tCtrl+Z", Need::Undo, "Ctrl+Z"},
    {kRedo, "Redo", Need::Redo, "Ctrl+Y"},
    kSeparator,
    {kCut, "Cu&t\tCtrl+X", Need::Selection, "Ctrl+X"},
    {kCopy, "&Copy\tCtrl+C", Need::Selection, "Ctrl+C"},
    {kCopyToNew, "Copy To &New", Need::Selection},
    {kPaste, "&Paste\tCtrl+V", Need::Clipboard, "Ctrl+V"},
    {kPasteFromSystem, "Paste From S&ystem Clipboard", Need::Document},
    {kPasteMix, "Paste &Mix...", Need::Clipboard},
    {kPasteMixFromSystem, "Paste Mix From System Clip&board...", Need::Document},
    {kDelete, "&Delete\tDel", Need::Selection, "Del"},
    kSeparator,
    {kSelectAll, "Select &All\tCtrl+A", Need::Document, "Ctrl+A"},
    {kSelectToStart, "Select To &Start", Need::Document},
    {kSelectToEnd, "Select To &End", Need::Document},
    {kSelectTime, "Select Specified T&ime...", Need::Document},
    kSeparator,
    {kMixFile, "Mi&x File...", Need::Document},
    {kRepeatLoop, "&Repeat Loop...", Need::Document},
    {kTrim, "T&rim", Need::Document},
    {kTrimStart, "Trim Start", Need::Document},
    {kTrimEnd, "Trim End", Need::Document},
    {kAutoTrim, "Auto Tri&m", Need::Document},
    {kSilenceSelection, "Si&lence Select Region", Need::Selection},
    {kSaveSelectionAs, "Save Select Region As...", Need::Document},
    {kSplitAtCursor, "Split into two at this point", Need::Document},
    {kAutoSplit, "Auto S&plit...", Need::Document},
    // The Insert Silence and Insert File submenus go here.
    kSeparator,
    {kMarkFirst, "Mark &First Position", Need::Document},
    {kMarkSecond, "Mark Sec&ond Position", Need::Document},
    {kRecallMarks, "Recall Mark Selectio&n", Need::Document},
};

const std::vector<CommandSpec> kInsertSilenceMenu = {
    {kInsertSilenceBegin, "At the &Beginning...", Need::Document},
    {kInsertSilenceCurrent, "At the &Current Position...", Need::Document},
    {kInsertSilenceEnd, "At the &End...", Need::Document},
};

const std::vector<CommandSpec> kInsertFileMenu = {
    {kInsertFileBegin, "At the &Beginning...", Need::Document},
    {kInsertFileCurrent, "At the &Current Position...", Need::Document},
    {kInsertFileEnd, "At the &End...", Need::Document},
};

const std::vector<CommandSpec> kViewMenu = {
    {kShowCommandBar, "Show Command Bar\tCtrl+Shift+A", Need::Always, "Ctrl+Shift+A"},
    {kCommandBarLeft, "On the Left", Need::Always},
    {kCommandBarRight, "On the Right", Need::Always},
    kSeparator,
    {kShowMainToolbar, "Main ToolBar", Need::Always},
    {kShowEffectsToolbar, "Effects ToolBar", Need::Always},
};

const std::vector<CommandSpec> kControlMenu = {
    {kRecord, "&Record...\tF5", Need::Later, "F5"},
    kSeparator,
    {kPlay, "&Play\tF9", Need::Document, "F9"},
    {kPlaySlow, "Play &Slow Speed\tF11", Need::Document, "F11"},
    {kPlayNormal, "Play &Normal Speed\tF10", Need::Document, "F10"},
    {kPlayFast, "Play &Fast Speed\tF12", Need::Document, "F12"},
    {kLoopPlay, "&Loop Play\tShift+F9", Need::Document, "Shift+F9"},
    {kStop, "S&top\tEsc", Need::Document, "Esc"},
    kSeparator,
    {kGoToStart, "Go To &Start\tHome", Need::Document, "Home"},
    {kRewind, "Re&wind\tF7", Need::Document, "F7"},
    {kFastForward, "Fast F&orward\tF8", Need::Document, "F8"},
    {kGoToEnd, "Go To &End\tEnd", Need::Document, "End"},
};

// Effects with a catalogue id run now with their (parameterless) defaults;
// those that need a parameter dialog or a plug-in host come later.
const std::vector<CommandSpec> kAmplitudeMenu = {
    {4001, "&Amplify...", Need::Later},
    {4002, "&Normalize...", Need::Later},
    {4003, "Automatic &Gain Control", Need::Document, "", "automatic-gain-control"},
    {4004, "Dynamic Range &Compressor...", Need::Later},
};
const std::vector<CommandSpec> kFadeMenu = {
    {4009, "Fade &In", Need::Document, "", "fade-in"},
    {4010, "Fade &Out", Need::Document, "", "fade-out"},
    {4011, "Fade Out and &Trim", Need::Document, "", "fade-out-and-trim"},
    {4012, "&Cross Fade...", Need::Later},
    {4013, "&Envelope...", Need::Later},
};
const std::vector<CommandSpec> kFilterMenu = {
    {4005, "&High-Pass Filter...", Need::Later},
    {4006, "&Equalizer...", Need::Later},
};
const std::vector<CommandSpec> kDelayMenu = {
    {4007, "&Echo...", Need::Later},    {4008, "&Reverb...", Need::Later}, {4024, "&Phaser...", Need::Later},
    {4025, "&Flanger...", Need::Later}, {4026, "&Chorus...", Need::Later},
};
const std::vector<CommandSpec> kNoiseMenu = {
    {4015, "Noise Reduction (Multi-band Noise &Gating)...", Need::Later},
    {4016, "Noise Reduction (&Auto Spectral Subtraction)...", Need::Later},
    {4030, "Get Noise &Sample", Need::Later},
    {4017, "Noise Reduction (Spectral Subtraction Based on &Noise Sample)", Need::Later},
};
const std::vector<CommandSpec> kSpeedMenu = {
    {4019, "Speed and &Pitch Change...", Need::Later},
    {4020, "&Speed Change...", Need::Later},
    {4021, "Pitch &Change...", Need::Later},
};
const std::vector<CommandSpec> kSpecialMenu = {
    {4014, "Stereo &Pan...", Need::Later},
    {4023, "Reduce &Vocals", Need::Document, "", "reduce-vocals"},
    {4022, "&DC Offset Correction", Need::Document, "", "dc-offset-correction"},
    {4027, "D&istortion...", Need::Later},
    {4028, "&AM Radio Effect", Need::Document, "", "am-radio"},
    {4029, "&Telephone Effect", Need::Document, "", "telephone"},
};
const std::vector<CommandSpec> kPluginMenu = {
    {4031, "&DirectX Plug-ins...", Need::Later},
    {4032, "&VST Plug-ins...", Need::Later},
};
const std::vector<CommandSpec> kReverseItem = {
    {kReverse, "Re&verse", Need::Document},
};

const std::vector<CommandSpec> kToolsMenu = {
    {kFrequencyAnalysis, "&Frequency Analysis (FFT)...", Need::Later},
    {kTemporalAnalysis, "&Temporal Frequency Analysis (TFFT)...", Need::Later},
    kSeparator,
    {kAutoClickRepair, "&Auto Click/Pop Restoration...", Need::Later},
    {kManualClickRepair, "&Manual Click/Pop Repair", Need::Document, "", "click-pop-manual"},
    kSeparator,
    {kBatchConverter, "&Batch Converter...", Need::Always},
    kSeparator,
};

const std::vector<CommandSpec> kBookmarkMenu = {
    {kSetBookmark, "Set &Bookmark\tCtrl+B", Need::Later, "Ctrl+B"},
    {kPreviousBookmark, "Go To &Previous Bookmark", Need::Later},
    {kNextBookmark, "Go To &Next Bookmark", Need::Later},
    {kOpenBookmarkList, "&Open Bookmark List\tCtrl+Shift+B", Need::Later, "Ctrl+Shift+B"},
    kSeparator,
    {kAddRegion, "Add &Region\tCtrl+R", Need::Later, "Ctrl+R"},
    {kOpenRegionList, "&Open Region List\tCtrl+Shift+R", Need::Later, "Ctrl+Shift+R"},
};

const std::vector<CommandSpec> kWindowMenu = {
    {kZoomIn, "Zoom &In\tCtrl+Plus", Need::Document, "Ctrl++;Ctrl+="},
    {kZoomOut, "Zoom &Out\tCtrl+Minus", Need::Document, "Ctrl+-"},
    {kZoomSelection, "Zoom &Selection\tCtrl+Shift+S", Need::Selection, "Ctrl+Shift+S"},
    {kZoomFull, "Zoom &Full\tCtrl+Shift+F", Need::Document, "Ctrl+Shift+F"},
    {kVerticalZoom, "&Vertical Zoom\tCtrl+Shift+V", Need::Document, "Ctrl+Shift+V"},
    kSeparator,
    {kDisplayCombined, "Wave Display + Up / - &Down", Need::Document},
    {kDisplayLeftRight, "Wave Display &Left Up / Right Down", Need::Document},
    {kDisplayDual, "Wave Display Dual Left and &Right", Need::Document},
    kSeparator,
    {kCascade, "&Cascade", Need::Windows},
    {kTileHorizontal, "Tile &Horizontal", Need::Windows},
    {kTileVertical, "Tile &Vertical", Need::Windows},
    {kArrangeIcons, "&Arrange Icons", Need::Windows},
    {kCloseAll, "Close Al&l", Need::Windows},
};

const std::vector<CommandSpec> kHelpMenu = {
    {kHelpContents, "&Help Topics\tF1", Need::Later, "F1"},
    {kAbout, "&About Sonitor...", Need::Always},
};

// The text a toolbar button or the command bar shows.
QString PlainText(const char* text) {
    QString plain = QString::fromUtf8(text);
    const qsizetype tab = plain.indexOf('\t');
    if (tab >= 0) plain.truncate(tab);
    plain.remove('&');
    if (plain.endsWith("...")) plain.chop(3);
    return plain.trimmed();
}

QIcon RecordIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(200, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(3, 3, 10, 10);
    return QIcon(pixmap);
}

QIcon ScrubIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(0, 96, 0), 2));
    for (int x = 2; x <= 14; x += 3)
        painter.drawLine(x, 8 - (x % 6), x, 8 + (x % 6));
    return QIcon(pixmap);
}

}  // namespace

const CommandSpec* MainFrame::Impl::Spec(int id) const {
    for (const CommandSpec& spec : specs) {
        if (spec.id == id) return &spec;
    }
    return nullptr;
}

QAction* MainFrame::Impl::MakeAction(const CommandSpec& spec) {
    auto* action = new QAction(QString::fromUtf8(spec.text), &frame);
    action->setProperty("commandId", spec.id);
    action->setIconText(PlainText(spec.text));
    QList<QKeySequence> keys;
    for (const QString& key : QString::fromUtf8(spec.keys).split(';', Qt::SkipEmptyParts))
        keys.push_back(QKeySequence(key));
    action->setShortcuts(keys);
    // Holding a key down must not run a command over and over (and F7/F8
    // start cueing once, ended by the key's release).
    action->setAutoRepeat(false);
    const int id = spec.id;
    QObject::connect(action, &QAction::triggered, &frame, [this, id] { frame.OnCommand(id); });
    actions[id] = action;
    if (!Spec(id)) specs.push_back(spec);
    return action;
}

QMenu* MainFrame::Impl::AddMenu(QMenu* parent, const QString& title, const std::vector<CommandSpec>& list) {
    QMenu* menu = parent ? parent->addMenu(title) : frame.menuBar()->addMenu(title);
    for (const CommandSpec& spec : list) {
        if (spec.id == 0)
            menu->addSeparator();
        else
            menu->addAction(MakeAction(spec));
    }
    return menu;
}

void MainFrame::Impl::BuildMenus() {
    fileMenu = AddMenu(nullptr, "&File", kFileMenu);
    // Convert Channels sits after Convert Sample Rate.
    QMenu* channels = new QMenu("Convert C&hannels", fileMenu);
    for (const CommandSpec& spec : kConvertChannelsMenu)
        channels->addAction(MakeAction(spec));
    fileMenu->insertMenu(actions[kEditTags], channels);
    // Position 23 of the menu: the recent files follow it.
    recentAnchor = fileMenu->addSeparator();
    exitAction = MakeAction({kExit, "E&xit", Need::Always, "Alt+F4"});
    fileMenu->addAction(exitAction);

    QMenu* edit = AddMenu(nullptr, "&Edit", kEditMenu);
    QAction* marks = actions[kMarkFirst];
    QAction* beforeMarks = nullptr;
    const QList<QAction*> editActions = edit->actions();
    for (qsizetype i = 1; i < editActions.size(); ++i) {
        if (editActions[i] == marks) beforeMarks = editActions[i - 1];
    }
    QMenu* silence = new QMenu("Insert &Silence", edit);
    for (const CommandSpec& spec : kInsertSilenceMenu)
        silence->addAction(MakeAction(spec));
    QMenu* file = new QMenu("Insert &File", edit);
    for (const CommandSpec& spec : kInsertFileMenu)
        file->addAction(MakeAction(spec));
    edit->insertMenu(beforeMarks, silence);
    edit->insertMenu(beforeMarks, file);

    QMenu* view = AddMenu(nullptr, "&View", kViewMenu);
    view->addSeparator();
    QMenu* control = AddMenu(nullptr, "&Control", kControlMenu);
    (void)control;

    QMenu* effects = frame.menuBar()->addMenu("Effe&cts");
    AddMenu(effects, "&Amplitude", kAmplitudeMenu);
    AddMenu(effects, "&Fades", kFadeMenu);
    AddMenu(effects, "F&ilters", kFilterMenu);
    AddMenu(effects, "&Delay and Modulation", kDelayMenu);
    AddMenu(effects, "&Noise Reduction", kNoiseMenu);
    AddMenu(effects, "&Speed and Pitch", kSpeedMenu);
    AddMenu(effects, "Special Effec&ts", kSpecialMenu);
    effects->addSeparator();
    for (const CommandSpec& spec : kReverseItem)
        effects->addAction(MakeAction(spec));
    effects->addSeparator();
    AddMenu(effects, "&Plug-ins", kPluginMenu);

    QMenu* tools = AddMenu(nullptr, "&Tools", kToolsMenu);
    tools->addAction(actions[kOptions]);
    QMenu* bookmark = AddMenu(nullptr, "&Bookmark", kBookmarkMenu);
    (void)bookmark;
    // The two list windows are also reached from the View menu.
    view->addAction(actions[kOpenBookmarkList]);
    view->addAction(actions[kOpenRegionList]);
    AddMenu(nullptr, "&Window", kWindowMenu);
    AddMenu(nullptr, "&Help", kHelpMenu);

    // Check marks.
    for (int id : {kLoopPlay, kVerticalZoom, kShowCommandBar, kShowMainToolbar, kShowEffectsToolbar})
        actions[id]->setCheckable(true);
    for (const std::vector<int>& group :
         std::vector<std::vector<int>>{{kPlaySlow, kPlayNormal, kPlayFast},
                                       {kDisplayCombined, kDisplayLeftRight, kDisplayDual},
                                       {kCommandBarLeft, kCommandBarRight}}) {
        auto* exclusive = new QActionGroup(&frame);
        for (int id : group) {
            actions[id]->setCheckable(true);
            exclusive->addAction(actions[id]);
        }
    }
}

void MainFrame::Impl::BuildBars() {
    QStyle* style = frame.style();
    const auto icon = [&](int id, QStyle::StandardPixmap pixmap) {
        actions[id]->setIcon(style->standardIcon(pixmap));
    };
    icon(kNewFile, QStyle::SP_FileIcon);
    icon(kOpenFile, QStyle::SP_DialogOpenButton);
    icon(kSaveFile, QStyle::SP_DialogSaveButton);
    icon(kUndo, QStyle::SP_ArrowBack);
    icon(kRedo, QStyle::SP_ArrowForward);
    icon(kDelete, QStyle::SP_TrashIcon);
    icon(kPlay, QStyle::SP_MediaPlay);
    icon(kStop, QStyle::SP_MediaStop);
    icon(kGoToStart, QStyle::SP_MediaSkipBackward);
    icon(kGoToEnd, QStyle::SP_MediaSkipForward);
    icon(kRewind, QStyle::SP_MediaSeekBackward);
    icon(kFastForward, QStyle::SP_MediaSeekForward);
    actions[kRecord]->setIcon(RecordIcon());

    const auto addBar = [&](const char* name, const char* title, const std::vector<int>& ids) {
        QToolBar* bar = frame.addToolBar(title);
        bar->setObjectName(name);
        for (int id : ids) {
            if (id == 0) {
                bar->addSeparator();
                continue;
            }
            bar->addAction(actions[id]);
            if (QWidget* button = bar->widgetForAction(actions[id])) button->setProperty("commandId", id);
        }
        return bar;
    };
    mainToolbar = addBar("MainToolBar", "Main ToolBar",
                         {kNewFile, kOpenFile, kSaveFile, 0, kCut, kCopy, kPaste, kDelete, 0, kUndo, kRedo, 0,
                          kZoomIn, kZoomOut, kZoomSelection, kZoomFull});
    effectsToolbar = addBar("EffectsToolBar", "Effects ToolBar",
                            {4001, 4002, 4009, 4010, 0, 4007, 4008, kReverse, 4022, 4003, 4023});
    frame.addToolBarBreak();

    // The transport: buttons with the window's control ids, the level meter
    // and the output volume.
    transportBar = frame.addToolBar("Transport");
    transportBar->setObjectName("TransportBar");
    struct Button {
        int control;
        const char* tip;
        QIcon icon;
    };
    const Button buttons[] = {
        {ctrl::kPlayButton, "Play", style->standardIcon(QStyle::SP_MediaPlay)},
        {ctrl::kScrubButton, "Scrub", ScrubIcon()},
        {ctrl::kStopButton, "Stop", style->standardIcon(QStyle::SP_MediaStop)},
        {ctrl::kStartButton, "Go To Start", style->standardIcon(QStyle::SP_MediaSkipBackward)},
        {ctrl::kRewindButton, "Rewind", style->standardIcon(QStyle::SP_MediaSeekBackward)},
        {ctrl::kForwardButton, "Fast Forward", style->standardIcon(QStyle::SP_MediaSeekForward)},
        {ctrl::kEndButton, "Go To End", style->standardIcon(QStyle::SP_MediaSkipForward)},
        {ctrl::kRecordButton, "Record", RecordIcon()},
    };
    for (const Button& b : buttons) {
        auto* button = new QToolButton(transportBar);
        button->setProperty("ctrlId", b.control);
        button->setToolTip(b.tip);
        button->setIcon(b.icon);
        button->setAutoRaise(true);
        transportBar->addWidget(button);
        transportButtons[b.control] = button;
    }
    transportButtons[ctrl::kPlayButton]->setCheckable(true);
    transportButtons[ctrl::kStopButton]->setCheckable(true);
    transportButtons[ctrl::kScrubButton]->setCheckable(true);
    const auto click = [&](int control, auto handler) {
        QObject::connect(transportButtons[control], &QToolButton::clicked, &frame, handler);
    };
    click(ctrl::kPlayButton, [this] { frame.OnCommand(kPlay); });
    click(ctrl::kStopButton, [this] { frame.OnCommand(kStop); });
    click(ctrl::kStartButton, [this] { frame.OnCommand(kGoToStart); });
    click(ctrl::kEndButton, [this] { frame.OnCommand(kGoToEnd); });
    click(ctrl::kRecordButton, [this] { frame.OnCommand(kRecord); });
    click(ctrl::kScrubButton, [this] {
        if (!frame.Busy() && session->Active()) transport->Scrub();
        UpdateTransportButtons();
    });
    // Cueing lasts while the button is held.
    for (const bool forward : {false, true}) {
        QToolButton* button = transportButtons[forward ? ctrl::kForwardButton : ctrl::kRewindButton];
        QObject::connect(button, &QToolButton::pressed, &frame, [this, forward] {
            if (!frame.Busy() && session->Active()) transport->StartCue(forward);
        });
        QObject::connect(button, &QToolButton::released, &frame, [this] { EndCue(); });
    }

    transportBar->addSeparator();
    meter = new LevelMeter(transportBar);
    meter->setMaximumWidth(110);
    transportBar->addWidget(meter);
    volume = new DbEdit(transportBar);
    volume->setProperty("ctrlId", ctrl::kVolume);
    volume->setToolTip("Output Volume");
    volume->setMinimumWidth(100);
    volume->setMaximumWidth(120);
    volume->SetRange(-36, 10);
    volume->SetValue(player->GetOutputVolume());
    QObject::connect(volume, &DbEdit::EditChanged, &frame,
                     [this](int value) { player->SetOutputVolume(value); });
    transportBar->addWidget(volume);

    // The time fields.
    QToolBar* positions = frame.addToolBar("Position");
    positions->setObjectName("PositionBar");
    struct Field {
        int control;
        const char* tip;
    };
    const Field fields[] = {
        {ctrl::kCurrentTime, "Current Time"},         {ctrl::kSelectionStart, "Selected Region Start"},
        {ctrl::kSelectionEnd, "Selected Region End"}, {ctrl::kSelectionLength, "Selected Region Length"},
        {ctrl::kFileLength, "File Length"},
    };
    for (const Field& f : fields) {
        auto* field = new QLineEdit(positions);
        field->setProperty("ctrlId", f.control);
        field->setToolTip(f.tip);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        field->setAlignment(Qt::AlignRight);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance("000:00:00.00") + 12);
        positions->addWidget(field);
        statusFields[f.control] = field;
    }

    // The command bar.
    const auto topic = [this](int number, const char* title, const std::vector<int>& ids) {
        CommandBar::Topic t{number, title, {}};
        for (int id : ids)
            t.commands.push_back(actions[id]);
        return t;
    };
    commandBar = new CommandBar(
        {topic(1, "File Tasks", {kNewFile, kOpenFile, kSaveFile, kSaveFileAs, kCloseFile}),
         topic(2, "Edit Tasks", {kUndo, kRedo, kCut, kCopy, kPaste, kDelete, kSelectAll, kTrim}),
         topic(3, "Effects", {4009, 4010, kReverse, 4003, 4022, 4028, 4029}),
         topic(4, "Playback", {kPlay, kStop, kLoopPlay, kGoToStart, kGoToEnd}),
         topic(5, "View", {kZoomIn, kZoomOut, kZoomSelection, kZoomFull})},
        &frame);
    commandBar->LoadTopics(settings);
    QObject::connect(commandBar, &CommandBar::CommandChosen, &frame, [this](int id) { frame.OnCommand(id); });
    frame.addDockWidget(Qt::LeftDockWidgetArea, commandBar);
    QObject::connect(commandBar, &QDockWidget::dockLocationChanged, &frame, [this](Qt::DockWidgetArea area) {
        // Dragged to the other side: remembered as if chosen in the menu.
        if (area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea)
            settings.WriteBool("Settings", "ShowCommandBarLeft", area == Qt::LeftDockWidgetArea);
        UpdateCommandStates();
    });
}

void MainFrame::Impl::BuildStatusPanel() {
    QStatusBar* bar = frame.statusBar();
    bar->setObjectName("StatusPanel");
    formatText = new QLabel(bar);
    formatText->setObjectName("FormatText");
    freeSpaceText = new QLabel(bar);
    freeSpaceText->setObjectName("FreeSpaceText");
    bar->addWidget(formatText, 1);
    bar->addPermanentWidget(freeSpaceText);
}

void MainFrame::Impl::ApplyBarFlags() {
    const bool left = settings.ReadBool("Settings", "ShowCommandBarLeft", true);
    const Qt::DockWidgetArea area = left ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea;
    if (frame.dockWidgetArea(commandBar) != area) frame.addDockWidget(area, commandBar);
    commandBar->setVisible(settings.ReadBool("Settings", "ShowCommandBar", true));
    mainToolbar->setVisible(settings.ReadBool("Settings", "ShowMainToolbar", true));
    effectsToolbar->setVisible(settings.ReadBool("Settings", "ShowEffectsToolbar", true));
    UpdateCommandStates();
}

void MainFrame::Impl::RebuildRecentMenu() {
    for (QAction* item : recentItems) {
        actions.erase(item->property("commandId").toInt());
        fileMenu->removeAction(item);
        delete item;
    }
    recentItems.clear();
    const std::vector<RecentFileList::Entry> entries = recent.Entries();
    if (entries.empty()) return;
    // Exit comes back after the files, behind a separator.
    actions.erase(kExit);
    fileMenu->removeAction(exitAction);
    delete exitAction;
    int position = 0;
    for (const RecentFileList::Entry& entry : entries) {
        const int id = kRecentBase + entry.slot;
        auto* item =
            new QAction(QString::fromStdString(RecentFileList::MenuText(++position, entry.path)), fileMenu);
        item->setProperty("commandId", id);
        QObject::connect(item, &QAction::triggered, &frame, [this, id] { frame.OnCommand(id); });
        fileMenu->addAction(item);
        actions[id] = item;
        recentItems.push_back(item);
    }
    QAction* separator = fileMenu->addSeparator();
    separator->setProperty("commandId", 0);
    recentItems.push_back(separator);
    exitAction = MakeAction({kExit, "E&xit\tAlt+F4", Need::Always, "Alt+F4"});
    fileMenu->addAction(exitAction);
}

void MainFrame::Impl::UpdateCommandStates() {
    if (destroying) return;
    SoundDocument* document = session->Active();
    const AudioClip& clip = session->Clipboard();
    const bool clipboardAudio =
        MillisecondsFromFrames(clip.Length(), static_cast<int32_t>(clip.SampleRate())) >= 1;
    const bool anyWindow = !frame.mdi_->subWindowList().isEmpty();
    const auto enabled = [&](Need need) {
        switch (need) {
            case Need::Always:
                return true;
            case Need::Document:
                return document != nullptr;
            case Need::Selection:
                return document && document->HasSelection();
            case Need::Clipboard:
                return document && clipboardAudio;
            case Need::Modified:
                return document && document->modified;
            case Need::Undo:
                return document && document->undo.CanUndo();
            case Need::Redo:
                return document && document->undo.CanRedo();
            case Need::Stereo:
                return document && document->clip.Channels() == 2;
            case Need::Mono:
                return document && document->clip.Channels() == 1;
            case Need::Windows:
                return anyWindow;
            case Need::Later:
                return false;
        }
        return false;
    };
    for (const CommandSpec& spec : specs) {
        const auto it = actions.find(spec.id);
        if (it != actions.end()) it->second->setEnabled(enabled(spec.need));
    }
    for (int id = kRecentFirst; id <= kRecentLast; ++id) {
        if (const auto it = actions.find(id); it != actions.end()) it->second->setEnabled(true);
    }

    if (document) {
        actions[kUndo]->setText(QString::fromStdString(document->undo.UndoMenuText()));
        actions[kRedo]->setText(QString::fromStdString(document->undo.RedoMenuText()));
    } else {
        actions[kUndo]->setText("&Undo \tCtrl+Z");
        actions[kRedo]->setText("Redo");
    }

    const int speed = settings.ReadInt("Settings", "PlaySpeed", 1);
    actions[kPlaySlow]->setChecked(speed == 0);
    actions[kPlayNormal]->setChecked(speed != 0 && speed != 2);
    actions[kPlayFast]->setChecked(speed == 2);
    actions[kLoopPlay]->setChecked(transport->LoopPlayOn());
    // The display mode and vertical zoom live in the pane; its buttons show
    // them.
    const DocumentWindow* window = WindowOf(document);
    const auto paneButton = [window](int control) {
        if (!window) return false;
        for (const QToolButton* button : window->findChildren<QToolButton*>()) {
            if (button->property("ctrlId").toInt() == control) return button->isChecked();
        }
        return false;
    };
    actions[kDisplayCombined]->setChecked(paneButton(88));
    actions[kDisplayLeftRight]->setChecked(paneButton(89));
    actions[kDisplayDual]->setChecked(paneButton(91));
    actions[kVerticalZoom]->setChecked(paneButton(87));
    actions[kShowCommandBar]->setChecked(settings.ReadBool("Settings", "ShowCommandBar", true));
    const bool left = settings.ReadBool("Settings", "ShowCommandBarLeft", true);
    actions[kCommandBarLeft]->setChecked(left);
    actions[kCommandBarRight]->setChecked(!left);
    actions[kShowMainToolbar]->setChecked(settings.ReadBool("Settings", "ShowMainToolbar", true));
    actions[kShowEffectsToolbar]->setChecked(settings.ReadBool("Settings", "ShowEffectsToolbar", true));
    UpdateTransportButtons();
}

void MainFrame::Impl::UpdateTransportButtons() {
    if (destroying || transportButtons.empty()) return;
    const bool document = session->Active() != nullptr;
    const bool idle = player->Idle();
    const bool scrubbing = player->Scrubbing();
    for (auto& [control, button] : transportButtons)
        button->setEnabled(document && control != ctrl::kRecordButton);
    transportButtons[ctrl::kPlayButton]->setChecked(!idle && !scrubbing);
    transportButtons[ctrl::kScrubButton]->setChecked(scrubbing);
    transportButtons[ctrl::kStopButton]->setChecked(idle);
}

}  // namespace sonitor
