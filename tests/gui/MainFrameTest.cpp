// The main frame end to end, offscreen: command lines, the mouse on the wave
// window, keys, the player on the null device, closing and the recent list.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItem>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "gui/GuiTestSupport.h"

#include "audio_io/NullAudio.h"
#include "audio_io/Transport.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "edit/EditorSession.h"
#include "edit/TimeText.h"
#include "formats/export/SaveCommands.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "shell/CommandBar.h"
#include "shell/CommandIds.h"
#include "shell/CommandLineSteps.h"
#include "shell/DocumentWindow.h"
#include "shell/FileDialogs.h"
#include "shell/MainFrame.h"
#include "shell/ProgressDialog.h"
#include "shell/RecentFileList.h"
#include "shell/WaveView.h"
#include "shell/WaveWindow.h"
#include "shell/WindowPlacement.h"
#include "support/Bytes.h"
#include "support/ClipSamples.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace sonitor {
namespace {

using test::ScriptedPrompt;

class ScriptedFiles final : public FileChooser {
public:
    std::deque<std::optional<std::string>> saves;
    std::vector<std::string> ChooseOpenFiles(QWidget*, const OpenFileDialog&) override { return {}; }
    std::optional<std::string> ChooseSaveFile(QWidget*, const SaveFileDialog&) override {
        if (saves.empty()) return std::nullopt;
        std::optional<std::string> answer = saves.front();
        saves.pop_front();
        return answer;
    }
};

// Distinct values, so that a sample out of place is seen.
std::vector<int16_t> Ramp(int frames) {
    std::vector<int16_t> samples(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[static_cast<size_t>(i)] = static_cast<int16_t>((i * 7919) % 20001 - 10000);
    return samples;
}

// The document's samples back on the 16-bit scale.
std::vector<int16_t> DocumentSamples(const SoundDocument& document) {
    std::vector<int16_t> out;
    for (int32_t v : test::ClipSamples(document.clip))
        out.push_back(static_cast<int16_t>(v >> 4));
    return out;
}

using test::Child;
using test::Click;
using test::OnModal;
using test::WaitFor;

class MainFrameTest : public testing::Test {
protected:
    void SetUp() override {
        std::remove(Store().Location().userFile.c_str());
        Store().WriteBool("Settings", "PlayWhenOpen", false);
        Store().WriteBool("Settings", "AutoPlaybackAfterEffects", false);
        NullAudio().ResetForTesting();
        folder_ = test::MakeTempFolder("frame");
    }
    void TearDown() override { NullAudio().ResetForTesting(); }

    static const SettingsStore& Store() { return SettingsStore::Default(); }

    std::unique_ptr<MainFrame> MakeFrame() {
        return std::make_unique<MainFrame>(Store(), NullAudio(), ShellServices{&prompt_, &files_});
    }

    // A mono 16-bit WAV of `frames` ramp samples at 8000 Hz.
    std::string WriteTone(const std::string& name, int frames = 8000) {
        const std::string path = folder_ + "/" + name;
        EXPECT_TRUE(WriteFileAtomically(path, test::PcmWav(8000, 1, 16, test::Pcm16(Ramp(frames)))));
        return path;
    }

    static void Activate(MainFrame& frame) {
        frame.show();
        QApplication::setActiveWindow(&frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    }
    // A key as the user presses it: the frame must be active again after
    // whatever ran before (a progress dialog must hand the activation back).
    static void Key(MainFrame& frame, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        QTest::keyClick(&frame, key, modifiers);
    }

    ScriptedPrompt prompt_;
    ScriptedFiles files_;
    std::string folder_;
};

TEST_F(MainFrameTest, FirstStartIsMaximizedOverTheDefaultPlacementAndClosingStoresIt) {
    {
        auto frame = MakeFrame();
        EXPECT_EQ(frame->objectName(), "LMMWC");
        EXPECT_EQ(frame->windowTitle(), "Sonitor");
        EXPECT_TRUE(frame->windowState() & Qt::WindowMaximized);
        EXPECT_EQ(frame->normalGeometry(), QRect(160, 80, 740, 627));
    }
    // Maximized: only the flag is written; the restored rectangle stays as
    // it was (here: not stored at all).
    EXPECT_EQ(Store().ReadUserValue("MainWindow", "Maximized"), "1");
    EXPECT_FALSE(Store().ReadUserValue("MainWindow", "X"));

    // A placement left off screen comes back where it can be reached.
    Store().WriteInt("MainWindow", "X", -32000);
    Store().WriteInt("MainWindow", "Y", -32000);
    Store().WriteInt("MainWindow", "Width", 500);
    Store().WriteInt("MainWindow", "Height", 400);
    Store().WriteBool("MainWindow", "Maximized", false);
    const QRect screen = QGuiApplication::primaryScreen()->availableVirtualGeometry();
    {
        auto frame = MakeFrame();
        EXPECT_FALSE(frame->windowState() & Qt::WindowMaximized);
        EXPECT_EQ(frame->pos(), screen.topLeft());
        EXPECT_EQ(frame->size(), QSize(500, 400));
        frame->move(screen.topLeft() + QPoint(30, 20));
    }
    EXPECT_EQ(Store().ReadInt("MainWindow", "X", 0), screen.x() + 30);
    EXPECT_EQ(Store().ReadInt("MainWindow", "Width", 0), 500);
    EXPECT_EQ(Store().ReadUserValue("MainWindow", "Maximized"), "0");

    // The rule on its own: the right edge is limited to the desktop's.
    StoreWindowPlacement(Store(), WindowShowState::Normal, {700, 10, 500, 300}, 1000);
    EXPECT_EQ(Store().ReadInt("MainWindow", "Width", 0), 300);
    EXPECT_EQ(ClampOntoScreen({5000, 5000, 800, 600}, {0, 0, 1024, 768}),
              (PlacementRect{924, 668, 800, 600}));
}

TEST_F(MainFrameTest, CommandLinesOpenFilesRunSwitchesAndShowTheSplashOnlyWhenNothingWasHandled) {
    auto frame = MakeFrame();
    const std::string a = WriteTone("tone.wav");
    const std::string b = WriteTone("second.wav", 4000);

    frame->CommandLineProcessor({"sonitor", a, "-runedit"});
    ASSERT_EQ(frame->DocumentWindows().size(), 1u);
    EXPECT_EQ(frame->windowTitle(), "Sonitor - tone");
    EXPECT_EQ(frame->StatusText(1), "Sample Rate: 8000   Mono");
    EXPECT_TRUE(frame->StatusText(2).startsWith("Free Space: "));
    EXPECT_EQ(frame->StatusText(ctrl::kFileLength), "0:00:01.00");
    EXPECT_EQ(frame->SplashCount(), 0);

    // The same file again activates its window and loads nothing.
    SoundDocument* first = frame->Session().Active();
    frame->CommandLineProcessor({"sonitor", b});
    frame->CommandLineProcessor({"sonitor", a});
    EXPECT_EQ(frame->DocumentWindows().size(), 2u);
    EXPECT_EQ(frame->Session().Active(), first);

    frame->CommandLineProcessor({"sonitor", "-minimize"});
    EXPECT_TRUE(frame->isMinimized());
    EXPECT_EQ(frame->SplashCount(), 0);
    frame->CommandLineProcessor({"sonitor"});
    EXPECT_EQ(frame->SplashCount(), 1);
    // A file argument without an extension and "-block" handle nothing.
    frame->CommandLineProcessor({"sonitor", folder_ + "/README", "-block"});
    EXPECT_EQ(frame->SplashCount(), 2);

    // "-batch" ends the command line: what follows is not opened. The
    // converter opens once the command line has run; the missing script is
    // reported in it.
    const std::string c = WriteTone("third.wav");
    bool converterShown = false;
    OnModal("BatchConverter", [&](QDialog& wizard) {
        converterShown = true;
        wizard.reject();
    });
    frame->CommandLineProcessor({"sonitor", "-batch", "job.snb", c});
    EXPECT_EQ(frame->PendingBatchScripts().size(), 1u);
    EXPECT_EQ(frame->DocumentWindows().size(), 2u);
    ASSERT_TRUE(WaitFor([&] { return converterShown && !frame->Busy(); }));
    EXPECT_TRUE(frame->PendingBatchScripts().empty());
    EXPECT_EQ(prompt_.History().back().title, "File Error");

    // A list file opens every line; "-saveas" writes the active document
    // under the new name, "-close" lets it go into the recent list.
    const std::string list = folder_ + "/files.lst";
    ASSERT_TRUE(WriteFileAtomically(list, a + "\r\n" + c));
    frame->CommandLineProcessor({"sonitor", "-list", list, b});
    EXPECT_EQ(frame->DocumentWindows().size(), 3u);
    const std::string saved = folder_ + "/saved.wav";
    frame->CommandLineProcessor({"sonitor", "-saveas", saved, "-close"});
    EXPECT_TRUE(FileExists(saved));
    EXPECT_EQ(frame->DocumentWindows().size(), 2u);
    EXPECT_EQ(RecentFileList(Store()).Entries().at(0).path, saved);
    // A format we cannot write: the question, and No does nothing.
    prompt_.QueueAnswer(PromptAnswer::No);
    frame->CommandLineProcessor({"sonitor", "-saveas", folder_ + "/out.rm"});
    EXPECT_EQ(prompt_.History().back().text, kRealAudioQuestion);
    EXPECT_FALSE(FileExists(folder_ + "/out.rm"));

    // "-window" sizes the client area below the menu bar.
    frame->CommandLineProcessor({"sonitor", "-window", "800", "600"});
    EXPECT_EQ(frame->width(), 800);
    EXPECT_EQ(frame->height() - frame->menuBar()->sizeHint().height(), 600);
}

TEST(CommandLinePlanTest, SwitchesTakeTheirValuesInTableOrder) {
    using Kind = CommandLineStep::Kind;
    CommandLinePlan plan = PlanCommandLine({"s", "-WINDOW", "800", "600", "-saveas"});
    ASSERT_EQ(plan.steps.size(), 1u);
    EXPECT_EQ(plan.steps[0].kind, Kind::Resize);
    EXPECT_EQ(plan.steps[0].width, 800);
    EXPECT_EQ(plan.steps[0].height, 600);
    EXPECT_TRUE(plan.handled);

    // One number only: nothing is resized, yet the switch counts.
    plan = PlanCommandLine({"s", "-window", "800"});
    EXPECT_TRUE(plan.steps.empty());
    EXPECT_TRUE(plan.handled);
    // A size that is not a number keeps the current one.
    plan = PlanCommandLine({"s", "-window", "x", "480"});
    EXPECT_FALSE(plan.steps.at(0).width);
    EXPECT_EQ(plan.steps.at(0).height, 480);

    plan = PlanCommandLine({"s", "-saveas", "out.ra", "-Exit", "project.snp", "-batch"});
    ASSERT_EQ(plan.steps.size(), 3u);
    EXPECT_EQ(plan.steps[0].kind, Kind::SaveAs);
    EXPECT_EQ(plan.steps[0].path, "out.ra");
    EXPECT_EQ(plan.steps[1].kind, Kind::Exit);
    EXPECT_EQ(plan.steps[2].kind, Kind::OpenProject);
    // Saving and exiting alone do not count as handled: the splash follows.
    EXPECT_FALSE(PlanCommandLine({"s", "-save", "-exit"}).handled);
}

TEST_F(MainFrameTest, DraggingInTheMainWaveWindowSelectsAndTheFieldsFollow) {
    auto frame = MakeFrame();
    frame->setWindowState(Qt::WindowNoState);
    frame->resize(1000, 700);
    Activate(*frame);
    frame->CommandLineProcessor({"sonitor", WriteTone("tone.wav")});
    DocumentWindow* window = frame->ActiveDocumentWindow();
    ASSERT_TRUE(window);
    WaveWindow& wave = window->View().Main();
    // Laid out, tiled and painted before the mouse comes.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    ASSERT_TRUE(
        WaitFor([&] { return wave.width() > 200 && wave.visibleRegion().contains(QPoint(140, 10)); }));
    ASSERT_TRUE(wave.Picture().WaitIdle(5000));
    QTest::qWait(50);
    Activate(*frame);
    EXPECT_FALSE(frame->Action(cmd::kCut)->isEnabled());

    const int y = wave.height() / 2;
    QTest::mousePress(&wave, Qt::LeftButton, {}, QPoint(40, y));
    QTest::mouseMove(&wave, QPoint(90, y));
    QTest::mouseMove(&wave, QPoint(140, y));
    QTest::mouseRelease(&wave, Qt::LeftButton, {}, QPoint(140, y));
    QTest::qWait(20);

    const SoundDocument& document = *frame->Session().Active();
    ASSERT_LT(document.selectionStart, document.selectionEnd);
    // The whole second is in view: a column holds 8000 / width frames.
    const double perColumn = 8000.0 / (wave.width() - 2);
    EXPECT_NEAR(document.selectionStart, 40 * perColumn, 2 * perColumn);
    EXPECT_NEAR(document.selectionEnd, 140 * perColumn, 2 * perColumn);
    EXPECT_EQ(document.cursor, document.selectionEnd);
    const auto time = [](int32_t frames) { return QString::fromStdString(FormatTimeText(frames, 8000)); };
    EXPECT_EQ(frame->StatusText(ctrl::kSelectionStart), time(document.selectionStart));
    EXPECT_EQ(frame->StatusText(ctrl::kSelectionEnd), time(document.selectionEnd));
    EXPECT_EQ(frame->StatusText(ctrl::kSelectionLength),
              time(document.selectionEnd - document.selectionStart));
    EXPECT_EQ(frame->StatusText(ctrl::kCurrentTime), time(document.cursor));
    EXPECT_TRUE(frame->Action(cmd::kCut)->isEnabled());
}

TEST_F(MainFrameTest, CutUndoRedoCopyAndPasteByKeyboardRewriteTheMenus) {
    auto frame = MakeFrame();
    Activate(*frame);
    EXPECT_EQ(frame->Action(cmd::kUndo)->text(), "&Undo \tCtrl+Z");
    frame->CommandLineProcessor({"sonitor", WriteTone("tone.wav")});
    SoundDocument& document = *frame->Session().Active();
    std::vector<int16_t> model = Ramp(8000);
    QAction* undo = frame->Action(cmd::kUndo);
    QAction* redo = frame->Action(cmd::kRedo);
    EXPECT_EQ(undo->text(), "Undo \tCtrl+Z");
    EXPECT_FALSE(undo->isEnabled());

    SelectFrames(document, 1000, 3000, *frame);
    Key(*frame, Qt::Key_X, Qt::ControlModifier);
    model.erase(model.begin() + 1000, model.begin() + 3000);
    EXPECT_EQ(DocumentSamples(document), model);
    EXPECT_EQ(undo->text(), "Undo Cut\tCtrl+Z");
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(redo->text(), "Redo \tCtrl+Y");
    EXPECT_FALSE(redo->isEnabled());
    EXPECT_TRUE(frame->Action(cmd::kSaveFile)->isEnabled());

    Key(*frame, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(DocumentSamples(document), Ramp(8000));
    EXPECT_EQ(undo->text(), "Undo \tCtrl+Z");
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_EQ(redo->text(), "Redo Cut\tCtrl+Y");
    EXPECT_TRUE(redo->isEnabled());

    Key(*frame, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(DocumentSamples(document), model);
    EXPECT_EQ(undo->text(), "Undo Cut\tCtrl+Z");
    EXPECT_FALSE(redo->isEnabled());

    // Copy the first 500 frames, paste them at the end.
    SelectFrames(document, 0, 500, *frame);
    Key(*frame, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(frame->Action(cmd::kPaste)->isEnabled());
    SetCursor(document, document.Length(), *frame);
    Key(*frame, Qt::Key_V, Qt::ControlModifier);
    model.insert(model.end(), model.begin(), model.begin() + 500);
    EXPECT_EQ(DocumentSamples(document), model);
    EXPECT_EQ(undo->text(), "Undo Paste\tCtrl+Z");

    // Effects without a dialog run from their menu item.
    SelectFrames(document, 100, 600, *frame);
    EXPECT_TRUE(frame->OnCommand(cmd::kReverse));
    std::reverse(model.begin() + 100, model.begin() + 600);
    EXPECT_EQ(DocumentSamples(document), model);
    EXPECT_EQ(undo->text(), "Undo Reverse\tCtrl+Z");
    EXPECT_TRUE(frame->OnCommand(4009));
    EXPECT_EQ(undo->text(), "Undo Fade In\tCtrl+Z");
    EXPECT_FALSE(frame->OnCommand(4001));  // Amplify waits for its dialog
}

TEST_F(MainFrameTest, F9PlaysTheDocumentOnTheNullDeviceAndThePositionMoves) {
    NullAudio().SetManualClock(true);
    auto frame = MakeFrame();
    Activate(*frame);
    frame->CommandLineProcessor({"sonitor", WriteTone("tone.wav")});
    const QString start = frame->StatusText(ctrl::kCurrentTime);
    EXPECT_EQ(start, "0:00:00.00");

    Key(*frame, Qt::Key_F9);
    ASSERT_TRUE(frame->IsPlaying());
    // The whole second fits the player's queue: once it is written, the
    // clock moves through it.
    ASSERT_TRUE(WaitFor([] { return NullAudio().BuffersWritten() >= 10; }));
    NullAudio().Advance(2400);
    ASSERT_TRUE(WaitFor([&] { return frame->Player().PlayPosition() >= 1600; }));
    EXPECT_LT(frame->Player().PlayPosition(), 8000);
    EXPECT_NE(frame->StatusText(ctrl::kCurrentTime), start);

    NullAudio().Advance(8000);
    ASSERT_TRUE(WaitFor([&] { return !frame->IsPlaying(); }));
    EXPECT_EQ(NullAudio().TakePlayed(), Ramp(8000));
}

TEST_F(MainFrameTest, ZoomKeysHalveAndDoubleTheView) {
    auto frame = MakeFrame();
    Activate(*frame);
    frame->CommandLineProcessor({"sonitor", WriteTone("tone.wav")});
    WaveView& view = frame->ActiveDocumentWindow()->View();
    EXPECT_EQ(view.View().end - view.View().start, 8000);
    Key(*frame, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(view.View().end - view.View().start, 4000);
    Key(*frame, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(view.View().end - view.View().start, 8000);
}

TEST_F(MainFrameTest, ClosingAModifiedDocumentAsksAndKeepsItUnlessLetGo) {
    auto frame = MakeFrame();
    const std::string path = WriteTone("tone.wav");
    frame->CommandLineProcessor({"sonitor", path});
    SelectAll(*frame->Session().Active(), *frame);
    ASSERT_TRUE(frame->OnCommand(cmd::kDelete));

    prompt_.QueueAnswer(PromptAnswer::Cancel);
    EXPECT_FALSE(frame->OnCommand(cmd::kCloseFile));
    EXPECT_EQ(frame->DocumentWindows().size(), 1u);
    ASSERT_FALSE(prompt_.History().empty());
    const ScriptedPrompt::Shown& asked = prompt_.History().back();
    EXPECT_EQ(asked.title, "Sonitor");
    EXPECT_EQ(asked.text, "Save changes to \"tone.wav\"?");
    EXPECT_EQ(asked.icon, PromptIcon::Question);
    EXPECT_EQ(asked.buttons, PromptButtons::YesNoCancel);
    // The frame's own close is cancelled the same way.
    prompt_.QueueAnswer(PromptAnswer::Cancel);
    EXPECT_FALSE(frame->close());

    prompt_.QueueAnswer(PromptAnswer::No);
    EXPECT_TRUE(frame->OnCommand(cmd::kCloseFile));
    EXPECT_TRUE(frame->DocumentWindows().empty());
    EXPECT_EQ(frame->windowTitle(), "Sonitor");
    EXPECT_EQ(frame->Action(cmd::kRecentFirst)->text(),
              QString::fromStdString("&1." + RecentFileList::ShortPath(path)));

    // Yes, but the save fails (its folder is gone): the window stays.
    frame->Tasks().SetErrorSink([](const std::string&) {});
    frame->CommandLineProcessor({"sonitor", path});
    ASSERT_TRUE(frame->OnCommand(cmd::kReverse));
    std::filesystem::remove_all(folder_);
    prompt_.QueueAnswer(PromptAnswer::Yes);
    EXPECT_FALSE(frame->OnCommand(cmd::kCloseFile));
    ASSERT_EQ(frame->DocumentWindows().size(), 1u);
    EXPECT_TRUE(frame->Session().Active()->modified);

    // An untitled document whose Save As is cancelled stays too.
    Store().WriteBool("Settings", "PromptSampleAndChannels", false);
    ASSERT_TRUE(frame->OnCommand(cmd::kNewFile));
    frame->Session().Active()->modified = true;
    prompt_.QueueAnswer(PromptAnswer::Yes);
    EXPECT_FALSE(frame->OnCommand(cmd::kCloseFile));
    EXPECT_EQ(frame->DocumentWindows().size(), 2u);
    // A close request from outside asks nothing.
    const size_t questions = prompt_.History().size();
    frame->show();
    frame->ForceClose();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(prompt_.History().size(), questions);
}

TEST_F(MainFrameTest, RecentListKeepsElevenNewestFirstAndTheMenuShowsThem) {
    int64_t now = 1000;
    RecentFileList recent(Store(), [&] { return now; });
    for (int i = 0; i < 12; ++i) {
        now += 10;
        recent.Add("/music/file" + std::to_string(i) + ".wav");
    }
    std::vector<RecentFileList::Entry> entries = recent.Entries();
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries.front().path, "/music/file11.wav");
    EXPECT_EQ(entries.back().path, "/music/file1.wav");  // file0, the oldest, was replaced
    EXPECT_EQ(entries.front().slot, 1);                  // ... in its slot
    now += 10;
    recent.Add("/music/file5.wav");
    entries = recent.Entries();
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries.front().path, "/music/file5.wav");

    EXPECT_EQ(RecentFileList::ShortPath("/music/abcd/efgh/abc.wav"), "/music/abcd/efgh/abc.wav");  // 24
    EXPECT_EQ(RecentFileList::ShortPath("/music/abcd/efgh/abcd.wav"), "/mu...\\abcd.wav");         // 25
    EXPECT_EQ(RecentFileList::MenuText(3, "/a.wav"), "&3./a.wav");

    auto frame = MakeFrame();
    QMenu* file = frame->menuBar()->actions().at(0)->menu();
    const QList<QAction*> items = file->actions();
    ASSERT_EQ(items.size(), 23 + 11 + 2);
    EXPECT_EQ(items[23]->text(), "&1./music/file5.wav");
    EXPECT_EQ(items[24]->text(), "&2./music/file11.wav");
    EXPECT_TRUE(items[items.size() - 2]->isSeparator());
    EXPECT_EQ(items.back()->text(), "E&xit\tAlt+F4");
    EXPECT_EQ(items.back(), frame->Action(cmd::kExit));
}

TEST_F(MainFrameTest, AHandOverDuringATaskWaitsUntilTheFrameIsIdle) {
    auto frame = MakeFrame();
    frame->CommandLineProcessor({"sonitor", WriteTone("tone.wav")});
    const std::string second = WriteTone("second.wav");
    const std::string third = WriteTone("third.wav");
    bool handedOver = false;
    frame->Tasks().SetDialogShownHook([&](ProgressDialog&) {
        if (handedOver) return;
        handedOver = true;
        EXPECT_TRUE(frame->Busy());
        frame->CommandLineProcessor({"sonitor", second});
        frame->CommandLineProcessor({"sonitor", third});
        EXPECT_EQ(frame->QueuedCommandLines(), 2u);
        EXPECT_EQ(frame->DocumentWindows().size(), 1u);
        EXPECT_FALSE(frame->OnCommand(cmd::kSelectAll));
    });
    ASSERT_TRUE(frame->OnCommand(cmd::kReverse));
    ASSERT_TRUE(handedOver);
    // In the order they came.
    ASSERT_TRUE(WaitFor([&] { return frame->DocumentWindows().size() == 3; }));
    EXPECT_EQ(frame->QueuedCommandLines(), 0u);
    EXPECT_EQ(frame->Session().Active()->fileName, third);
}

TEST_F(MainFrameTest, CopyToNewTilesTheWindowsAndCloseAllStopsAtCancel) {
    auto frame = MakeFrame();
    frame->setWindowState(Qt::WindowNoState);
    frame->resize(900, 700);
    frame->show();
    const std::string path = WriteTone("tone.wav");
    frame->CommandLineProcessor({"sonitor", path});
    SelectFrames(*frame->Session().Active(), 2000, 6000, *frame);
    ASSERT_TRUE(frame->OnCommand(cmd::kCopyToNew));
    ASSERT_EQ(frame->DocumentWindows().size(), 2u);
    EXPECT_EQ(frame->windowTitle(), "Sonitor - Untitled 1");
    EXPECT_EQ(frame->Session().Active()->Length(), 4000);
    // Tiled one above the other, each as wide as the client area.
    const QWidget* top = frame->DocumentWindows()[0]->parentWidget();
    const QWidget* bottom = frame->DocumentWindows()[1]->parentWidget();
    EXPECT_EQ(top->width(), frame->MdiArea()->viewport()->width());
    EXPECT_EQ(bottom->width(), top->width());
    EXPECT_EQ(bottom->y(), top->y() + top->height());

    // The file closes without a question, the new document asks: Cancel.
    prompt_.QueueAnswer(PromptAnswer::Cancel);
    EXPECT_FALSE(frame->OnCommand(cmd::kCloseAll));
    ASSERT_EQ(frame->DocumentWindows().size(), 1u);
    EXPECT_EQ(frame->Session().Active()->fileName, "Untitled 1");
    prompt_.QueueAnswer(PromptAnswer::No);
    EXPECT_TRUE(frame->OnCommand(cmd::kCloseAll));
    EXPECT_TRUE(frame->DocumentWindows().empty());
    // Only the file that was saved somewhere is remembered.
    const auto entries = RecentFileList(Store()).Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, path);
    EXPECT_FALSE(frame->Action(cmd::kCloseAll)->isEnabled());
}

TEST_F(MainFrameTest, BarsFollowTheViewMenuAndShareTheMenuStates) {
    {
        auto frame = MakeFrame();
        auto* commandBar = frame->findChild<CommandBar*>("CommandBar");
        auto* toolbar = frame->findChild<QToolBar*>("MainToolBar");
        ASSERT_TRUE(commandBar && toolbar);
        const auto button = [&](int id) { return toolbar->widgetForAction(frame->Action(id)); };
        const auto entryEnabled = [&](int id) {
            return commandBar->Entry(id)->flags().testFlag(Qt::ItemIsEnabled);
        };
        EXPECT_FALSE(button(cmd::kCut)->isEnabled());
        EXPECT_FALSE(entryEnabled(cmd::kCut));
        EXPECT_TRUE(entryEnabled(cmd::kOpenFile));

        frame->CommandLineProcessor({"sonitor", WriteTone("tone.wav")});
        SelectFrames(*frame->Session().Active(), 10, 20, *frame);
        EXPECT_TRUE(button(cmd::kCut)->isEnabled());
        EXPECT_TRUE(entryEnabled(cmd::kCut));
        EXPECT_FALSE(button(cmd::kSaveFile)->isEnabled());  // not modified
        EXPECT_FALSE(frame->Action(4001)->isEnabled());     // its dialog comes later

        EXPECT_TRUE(frame->OnCommand(cmd::kShowMainToolbar));
        EXPECT_TRUE(toolbar->isHidden());
        EXPECT_FALSE(frame->Action(cmd::kShowMainToolbar)->isChecked());
        EXPECT_TRUE(frame->OnCommand(cmd::kCommandBarRight));
        EXPECT_EQ(frame->dockWidgetArea(commandBar), Qt::RightDockWidgetArea);
        EXPECT_TRUE(frame->Action(cmd::kCommandBarRight)->isChecked());
        commandBar->SetExpanded(2, false);
    }
    EXPECT_EQ(Store().ReadUserValue("Settings", "ShowMainToolbar"), "0");
    EXPECT_EQ(Store().ReadUserValue("Settings", "ShowCommandBarLeft"), "0");
    EXPECT_EQ(Store().ReadUserValue("EBar", "topic1"), "1");
    EXPECT_EQ(Store().ReadUserValue("EBar", "topic2"), "0");

    // The next start comes back the same way.
    auto frame = MakeFrame();
    EXPECT_TRUE(frame->findChild<QToolBar*>("MainToolBar")->isHidden());
    auto* commandBar = frame->findChild<CommandBar*>("CommandBar");
    EXPECT_EQ(frame->dockWidgetArea(commandBar), Qt::RightDockWidgetArea);
    EXPECT_FALSE(commandBar->Expanded(2));
    EXPECT_TRUE(frame->OnCommand(cmd::kShowCommandBar));
    EXPECT_TRUE(commandBar->isHidden());
}

TEST_F(MainFrameTest, TransportCommandsMoveTheCursorAndKeepTheirSettings) {
    auto frame = MakeFrame();
    EXPECT_FALSE(frame->OnCommand(cmd::kPlay));  // no document
    frame->CommandLineProcessor({"sonitor", WriteTone("tone.wav")});
    EXPECT_TRUE(frame->OnCommand(cmd::kGoToEnd));
    EXPECT_EQ(frame->Session().Active()->cursor, 8000);
    EXPECT_EQ(frame->StatusText(ctrl::kCurrentTime), "0:00:01.00");
    EXPECT_TRUE(frame->OnCommand(cmd::kGoToStart));
    EXPECT_EQ(frame->StatusText(ctrl::kCurrentTime), "0:00:00.00");

    EXPECT_TRUE(frame->OnCommand(cmd::kLoopPlay));
    EXPECT_TRUE(Store().ReadBool("Settings", "PlayRepeat", false));
    EXPECT_TRUE(frame->Action(cmd::kLoopPlay)->isChecked());
    EXPECT_TRUE(frame->OnCommand(cmd::kPlayFast));
    EXPECT_EQ(Store().ReadInt("Settings", "PlaySpeed", 1), 2);
    EXPECT_TRUE(frame->Action(cmd::kPlayFast)->isChecked());
    EXPECT_TRUE(frame->IsPlaying());
    EXPECT_TRUE(frame->OnCommand(cmd::kStop));
    EXPECT_FALSE(frame->IsPlaying());
}

TEST_F(MainFrameTest, DroppedFilesOpenInOrderAndExitRequestsRespectTheUser) {
    auto frame = MakeFrame();
    frame->show();
    const std::string a = WriteTone("a.wav");
    const std::string b = WriteTone("b.wav");
    QMimeData data;
    data.setUrls(
        {QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(b))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &drop);
    ASSERT_EQ(frame->DocumentWindows().size(), 2u);
    EXPECT_EQ(frame->Session().Documents()[0]->fileName, a);
    EXPECT_EQ(frame->Session().Active()->fileName, b);

    // "-exit" asks about unsaved changes and may be refused.
    ASSERT_TRUE(frame->OnCommand(cmd::kReverse));
    prompt_.QueueAnswer(PromptAnswer::Cancel);
    frame->CommandLineProcessor({"sonitor", "-exit"});
    EXPECT_TRUE(frame->isVisible());

    // A close request during a task waits for it, then asks nothing.
    const size_t questions = prompt_.History().size();
    bool requested = false;
    frame->Tasks().SetDialogShownHook([&](ProgressDialog&) {
        if (requested) return;
        requested = true;
        frame->ForceClose();
        EXPECT_TRUE(frame->isVisible());
    });
    ASSERT_TRUE(frame->OnCommand(cmd::kReverse));
    ASSERT_TRUE(requested);
    ASSERT_TRUE(WaitFor([&] { return !frame->isVisible(); }));
    EXPECT_EQ(prompt_.History().size(), questions);
}

}  // namespace
}  // namespace sonitor
