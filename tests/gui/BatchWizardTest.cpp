// The batch converter wizard, offscreen: building and saving a script,
// loading broken ones, the questions before a list is let go, a real run
// checked against the core applying the same commands, and the ways in
// from the main frame.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "gui/GuiTestSupport.h"

#include "audio_io/NullAudio.h"
#include "batch/BatchRun.h"
#include "batch/BatchScript.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "shell/BatchWizard.h"
#include "shell/CommandIds.h"
#include "shell/FileDialogs.h"
#include "shell/MainFrame.h"
#include "shell/ProgressDialog.h"
#include "support/Bytes.h"
#include "support/ClipSamples.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using test::ScriptedPrompt;

template <class T>
T Pop(std::deque<T>& queue) {
    if (queue.empty()) return T{};
    T answer = queue.front();
    queue.pop_front();
    return answer;
}

// Answers file dialogs from queues (cancel when empty) and keeps what they showed.
class ScriptedFiles final : public FileChooser {
public:
    std::deque<std::vector<std::string>> opens;
    std::deque<std::optional<std::string>> saves;
    std::vector<OpenFileDialog> openDialogs;
    std::vector<SaveFileDialog> saveDialogs;

    std::vector<std::string> ChooseOpenFiles(QWidget*, const OpenFileDialog& dialog) override {
        openDialogs.push_back(dialog);
        return Pop(opens);
    }
    std::optional<std::string> ChooseSaveFile(QWidget*, const SaveFileDialog& dialog) override {
        saveDialogs.push_back(dialog);
        return Pop(saves);
    }
};

using test::Child;
using test::Click;
using test::OnModal;
using test::WaitFor;

BatchCommand Command(BatchCommandId id, const std::vector<int32_t>& values = {}) {
    const auto raw = static_cast<uint32_t>(id);
    return {raw, values.empty() ? std::vector<uint8_t>{} : EncodeBatchBlock(raw, values)};
}

// Selects the rows of a list view as a user's clicks would.
void SelectRows(QTreeWidget* tree, const std::vector<int>& rows) {
    tree->clearSelection();
    for (int row : rows) {
        tree->topLevelItem(row)->setSelected(true);
        tree->setCurrentItem(tree->topLevelItem(row), 0, QItemSelectionModel::Select);
    }
}

std::vector<int16_t> Ramp(int frames, int step) {
    std::vector<int16_t> samples(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[static_cast<size_t>(i)] = static_cast<int16_t>((i * step) % 20001 - 10000);
    return samples;
}

class BatchWizardTest : public testing::Test {
protected:
    std::string folder_ = test::MakeTempFolder("wizard");
    SettingsStore store_{{folder_ + "/settings.ini", folder_ + "/machine.ini"}};
    ScriptedPrompt prompt_;
    ScriptedFiles files_;
    test::ScriptedTaskHost tasks_;

    std::unique_ptr<BatchWizard> MakeWizard() {
        auto wizard = std::make_unique<BatchWizard>(nullptr, store_, prompt_, files_, &tasks_);
        wizard->show();
        return wizard;
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = folder_ + "/" + name;
        EXPECT_TRUE(MakeFolders(DirectoryPart(path)));
        EXPECT_TRUE(WriteFileAtomically(path, bytes));
        return path;
    }
    static std::string ScriptBytes(const std::vector<BatchCommand>& commands) {
        const std::vector<uint8_t> encoded = EncodeBatchScript(commands);
        return {encoded.begin(), encoded.end()};
    }
    Ref<SoundDocument> Load(const std::string& path) {
        Ref<SoundDocument> document = MakeRef<SoundDocument>(44100u, uint8_t{1});
        uint8_t interact = 0;
        FunctionTask load("Load",
                          [&](ProgressTask& t) { return LoadAudioFile(t, *document, path, interact); });
        EXPECT_EQ(RunTask(load, tasks_), kTaskDone) << path;
        return document;
    }
    size_t CountShown(const std::string& text) const {
        size_t count = 0;
        for (const ScriptedPrompt::Shown& shown : prompt_.History())
            count += shown.text == text ? 1 : 0;
        return count;
    }
};

TEST_F(BatchWizardTest, BuildsAListAndSavesTheScriptFileByteForByte) {
    const std::string a = Write("in/a.wav", "x");
    const std::string b = Write("in/b.mp3", "x");
    const std::string folder = folder_ + "/more";
    Write("more/z.wav", "x");
    Write("more/c.ogg", "x");
    ASSERT_TRUE(MakeFolders(folder + "/sub"));
    auto wizard = MakeWizard();
    std::vector<std::string> folderRequests;
    wizard->SetFolderChooser([&](QWidget*, const std::string& title, const std::string& start) {
        folderRequests.push_back(title + "|" + start);
        return folder;
    });

    // Page 1: files by name (a repeated one once), a folder's own files in
    // name order, and removing the selection.
    files_.opens.push_back({a, b, a});
    Click(*wizard, "addFile");
    ASSERT_EQ(files_.openDialogs.size(), 1u);
    EXPECT_EQ(files_.openDialogs[0].title, "Select Audio Files");
    EXPECT_TRUE(files_.openDialogs[0].multiple);
    store_.WriteString("Settings", "LoadFromFolder", folder_);
    Click(*wizard, "addFolder");
    EXPECT_EQ(folderRequests, std::vector<std::string>{"Locate folder:|" + folder_});
    EXPECT_EQ(store_.ReadString("Settings", "LoadFromFolder", ""), folder);
    EXPECT_EQ(wizard->Files(), (std::vector<std::string>{a, b, folder + "/c.ogg", folder + "/z.wav"}));
    auto* fileList = Child<QListWidget>(*wizard, "fileList");
    fileList->item(1)->setSelected(true);
    fileList->item(3)->setSelected(true);
    Click(*wizard, "removeFile");
    EXPECT_EQ(wizard->Files(), (std::vector<std::string>{a, folder + "/c.ogg"}));

    // Page 2: two commands from one Add, chosen out of table order; they
    // arrive in table order with the stored values as their blocks.
    wizard->next();
    EXPECT_EQ(Child<QLineEdit>(*wizard, "scriptName")->text(), "Untitled.snb");
    OnModal("AddCommand", [](QDialog& dialog) {
        auto* choices = Child<QTreeWidget>(dialog, "commandChoices");
        ASSERT_EQ(choices->topLevelItemCount(), 21);
        EXPECT_EQ(choices->topLevelItem(20)->text(0), "Reduce Vocals");
        SelectRows(choices, {4, 3});
        Click(dialog, "ok");
    });
    Click(*wizard, "addCommand");
    ASSERT_EQ(wizard->Commands().size(), 2u);
    EXPECT_EQ(wizard->Commands()[1], (BatchCommand{4, DefaultBatchBlock(4, store_)}));
    EXPECT_TRUE(wizard->Changed());

    // Settings: a value beyond the block's width, then one the effect
    // refuses, each keep the dialog open; 150 is taken.
    auto* commandList = Child<QTreeWidget>(*wizard, "commandList");
    SelectRows(commandList, {0});
    ASSERT_TRUE(Child<QPushButton>(*wizard, "commandSettings")->isEnabled());
    const std::optional<InvalidValue> tooLoud =
        CheckBatchCommand(Command(BatchCommandId::Amplify, {500}), store_);
    ASSERT_TRUE(tooLoud);
    bool settingsShown = false;
    OnModal("CommandSettings", [&](QDialog& dialog) {
        settingsShown = true;
        auto* gain = Child<QLineEdit>(dialog, "value0");
        EXPECT_EQ(gain->text(), "100");
        gain->setText("70000");
        Click(dialog, "ok");
        EXPECT_EQ(prompt_.History().back().text, "Please enter a whole number from -32768 to 32767.");
        gain->setText("500");
        Click(dialog, "ok");
        EXPECT_EQ(prompt_.History().back().text, tooLoud->text);
        EXPECT_TRUE(dialog.isVisible());
        gain->setText("150");
        Click(dialog, "ok");
    });
    Click(*wizard, "commandSettings");
    EXPECT_TRUE(settingsShown);
    EXPECT_EQ(commandList->topLevelItem(0)->text(1), "Amplify Gain (%) = 150");

    // Closing a new list: Cancel stays, and so does Yes when the Save As
    // is cancelled: the list the user wanted kept is not dropped.
    prompt_.QueueAnswer(PromptAnswer::Cancel);
    wizard->reject();
    prompt_.QueueAnswer(PromptAnswer::Yes);
    wizard->reject();
    EXPECT_EQ(CountShown("Do you want to save the command list?"), 2u);
    EXPECT_TRUE(wizard->isVisible());

    // Save As onto an existing file: No asks for another name.
    const std::string existing = Write("scripts/old.snb", "keep");
    const std::string saved = folder_ + "/scripts/new.snb";
    files_.saves = {existing, saved};
    prompt_.QueueAnswer(PromptAnswer::No);
    Click(*wizard, "saveScriptAs");
    EXPECT_EQ(files_.saveDialogs.at(1).title, "Locate Batch Script File");
    EXPECT_EQ(files_.saveDialogs.size(), 3u);
    EXPECT_EQ(CountShown("Another file with the same name already exists. Do you want to replace it?"), 1u);
    EXPECT_EQ(test::FileText(existing), "keep");
    EXPECT_EQ(test::FileText(saved),
              ScriptBytes({Command(BatchCommandId::Amplify, {150}), {4, DefaultBatchBlock(4, store_)}}));
    EXPECT_EQ(Child<QLineEdit>(*wizard, "scriptName")->text(), "new.snb");
    EXPECT_FALSE(wizard->Changed());

    // Remove, then close: the changed list is saved into its own file.
    SelectRows(commandList, {1});
    Click(*wizard, "removeCommand");
    prompt_.QueueAnswer(PromptAnswer::Yes);
    wizard->reject();
    EXPECT_EQ(prompt_.History().back().text, "Do you want to save the command list?");
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(test::FileText(saved), ScriptBytes({Command(BatchCommandId::Amplify, {150})}));
}

TEST_F(BatchWizardTest, ScriptErrorsAndTheSaveQuestionGuardTheList) {
    const std::string wrongVersion = Write("v1.snb", std::string("\x01", 1));
    const std::string good =
        Write("good.snb", ScriptBytes({Command(BatchCommandId::Echo, {400, 40}), {99, {1, 2}}}));
    auto wizard = MakeWizard();
    wizard->next();
    auto* commandList = Child<QTreeWidget>(*wizard, "commandList");

    // An id beyond the table is kept (and would be saved) but not shown.
    files_.opens.push_back({good});
    Click(*wizard, "openScript");
    EXPECT_EQ(files_.openDialogs.back().title, "Open Batch Script File");
    EXPECT_EQ(wizard->Commands().size(), 2u);
    ASSERT_EQ(commandList->topLevelItemCount(), 1);
    EXPECT_EQ(commandList->topLevelItem(0)->text(1), "Echo Time (ms) = 400, Echo Gain (%) = 40");
    EXPECT_TRUE(prompt_.History().empty());

    // A changed list: Cancel keeps it and asks for no file.
    SelectRows(commandList, {0});
    Click(*wizard, "removeCommand");
    prompt_.QueueAnswer(PromptAnswer::Cancel);
    Click(*wizard, "openScript");
    EXPECT_EQ(prompt_.History().back().text, "Do you want to save the command list?");
    EXPECT_EQ(files_.openDialogs.size(), 1u);
    EXPECT_EQ(wizard->Commands().size(), 1u);

    // No lets it go; the wrong version is refused and leaves an empty,
    // untitled list.
    prompt_.QueueAnswer(PromptAnswer::No);
    files_.opens.push_back({wrongVersion});
    Click(*wizard, "openScript");
    const ScriptedPrompt::Shown& refusal = prompt_.History().back();
    EXPECT_EQ(refusal.title, "File Error");
    EXPECT_EQ(
        refusal.text,
        "This file does not have the same version with the current Sonitor version or it is corrupted.");
    EXPECT_EQ(refusal.icon, PromptIcon::Error);
    EXPECT_TRUE(wizard->Commands().empty());
    EXPECT_EQ(Child<QLineEdit>(*wizard, "scriptName")->text(), "Untitled.snb");
}

TEST_F(BatchWizardTest, RunsTheListIntoANewFolderAsTheCoreWould) {
    const std::string a = Write("src/a.wav", test::PcmWav(8000, 1, 16, test::Pcm16(Ramp(4000, 7919))));
    const std::string b = Write("src/b.wav", test::PcmWav(8000, 1, 16, test::Pcm16(Ramp(2500, 104729))));
    const std::string rival = Write("other/a.wav", test::PcmWav(8000, 1, 16, test::Pcm16(Ramp(100, 3))));
    const std::vector<BatchCommand> commands = {Command(BatchCommandId::Amplify, {50}),
                                                Command(BatchCommandId::InsertSilenceStart, {10}),
                                                Command(BatchCommandId::ConvertChannels, {1})};
    const std::string script = Write("job.snb", ScriptBytes(commands));
    const std::string out = folder_ + "/out/new";

    auto wizard = MakeWizard();
    files_.opens.push_back({a, b, rival});
    Click(*wizard, "addFile");
    ASSERT_TRUE(wizard->LoadScript(script));
    wizard->next();
    wizard->next();
    ASSERT_EQ(wizard->currentId(), BatchWizard::kOutputPage);
    // Format Options: only while converting, and not for ".au".
    auto* formatOptions = Child<QPushButton>(*wizard, "formatOptions");
    EXPECT_FALSE(formatOptions->isEnabled());
    Child<QRadioButton>(*wizard, "convertFormat")->setChecked(true);
    Child<QComboBox>(*wizard, "formatCombo")->setCurrentIndex(2);
    EXPECT_FALSE(formatOptions->isEnabled());
    Child<QComboBox>(*wizard, "formatCombo")->setCurrentIndex(0);
    EXPECT_TRUE(formatOptions->isEnabled());
    Child<QRadioButton>(*wizard, "chosenFolder")->setChecked(true);
    Child<QLineEdit>(*wizard, "outputFolder")->setText(QString::fromStdString(out));
    QAbstractButton* finish = wizard->button(QWizard::FinishButton);

    // The warning once per Finish; Cancel stores nothing.
    prompt_.QueueAnswer(PromptAnswer::Cancel);
    finish->click();
    EXPECT_EQ(CountShown(kBatchConvertWarning), 1u);
    EXPECT_EQ(prompt_.History().back().title, "Warning");
    EXPECT_EQ(store_.ReadString("BatchConverter", "OutputFolder", "unset"), "unset");

    // The folder is created on Yes; then the two files bound for one
    // output are refused before anything is written.
    prompt_.QueueAnswer(PromptAnswer::Ok);
    prompt_.QueueAnswer(PromptAnswer::Yes);
    finish->click();
    EXPECT_EQ(CountShown("The folder  \"" + out + "\" does not exist. Do you want to create it now?"), 1u);
    EXPECT_TRUE(IsFolder(out));
    EXPECT_NE(prompt_.History().back().text.find(rival), std::string::npos);
    EXPECT_FALSE(FileExists(out + "/a.wav"));
    EXPECT_EQ(tasks_.opens, 0);
    EXPECT_TRUE(wizard->isVisible());

    wizard->back();
    wizard->back();
    auto* fileList = Child<QListWidget>(*wizard, "fileList");
    fileList->item(2)->setSelected(true);
    Click(*wizard, "removeFile");
    wizard->next();
    wizard->next();
    prompt_.ClearHistory();
    finish->click();
    EXPECT_EQ(prompt_.History().size(), 1u);  // the warning only
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(wizard->result(), QDialog::Accepted);
    EXPECT_FALSE(store_.ReadBool("BatchConverter", "SaveSameFileFormat", true));
    EXPECT_EQ(store_.ReadInt("BatchConverter", "SaveFileFormat", -1), 0);
    EXPECT_FALSE(store_.ReadBool("BatchConverter", "SameOutputFolder", true));
    EXPECT_EQ(store_.ReadString("BatchConverter", "OutputFolder", ""), out);

    for (const std::string& source : {a, b}) {
        const Ref<SoundDocument> expected = Load(source);
        const size_t sourceFrames = static_cast<size_t>(expected->Length());
        const std::vector<int32_t> before = test::ClipSamples(expected->clip);
        for (const BatchCommand& command : commands) {
            FunctionTask apply(
                "Apply", [&](ProgressTask& t) { return ApplyBatchCommand(t, *expected, command, store_); });
            ASSERT_EQ(RunTask(apply, tasks_), kTaskDone);
        }
        const Ref<SoundDocument> written = Load(out + "/" + FileNamePart(source));
        EXPECT_EQ(written->clip.SampleRate() * 10 + written->clip.Channels(), 80001u);
        // The core keeps more than 16 bits; the file holds 16.
        const std::vector<int32_t> samples = test::ClipSamples(written->clip);
        const std::vector<int32_t> want = test::ClipSamples(expected->clip);
        ASSERT_EQ(samples.size(), want.size()) << source;
        for (size_t i = 0; i < samples.size(); ++i)
            ASSERT_LE(std::abs(samples[i] - want[i]), 16) << source << " at " << i;
        // Independently of the core: 80 frames of silence, then half the
        // source.
        ASSERT_EQ(samples.size(), sourceFrames + 80);
        for (size_t i = 0; i < 80; ++i)
            ASSERT_EQ(samples[i], 0);
        for (size_t i = 0; i < sourceFrames; ++i)
            ASSERT_LE(std::abs(samples[80 + i] - before[i] / 2), std::abs(before[i]) / 100 + 16) << i;
    }
}

// The wizard is modal: the run's progress window must not be blocked by
// it, or its Cancel could not be pressed. The click goes through the window
// system, where modal blocking applies.
TEST_F(BatchWizardTest, CancelOfTheRunIsReachableAboveTheModalWizard) {
    const std::string a = Write("src/long.wav", test::PcmWav(8000, 1, 16, test::Pcm16(Ramp(400000, 7919))));
    BatchWizard wizard(nullptr, store_, prompt_, files_);
    bool cancelled = false;
    wizard.OwnTasks()->SetDialogShownHook([&](ProgressDialog& dialog) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        auto* cancel = dialog.findChild<QPushButton*>();
        QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {},
                          cancel->mapTo(&dialog, cancel->rect().center()));
        cancelled = dialog.Cancelled();
    });
    wizard.setWindowModality(Qt::ApplicationModal);
    wizard.show();
    files_.opens.push_back({a});
    Click(wizard, "addFile");
    wizard.next();
    wizard.next();
    Child<QRadioButton>(wizard, "chosenFolder")->setChecked(true);
    Child<QLineEdit>(wizard, "outputFolder")->setText(QString::fromStdString(folder_));
    Child<QRadioButton>(wizard, "convertFormat")->setChecked(true);
    Child<QComboBox>(wizard, "formatCombo")->setCurrentIndex(2);  // .au
    wizard.button(QWizard::FinishButton)->click();
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_FALSE(FileExists(folder_ + "/long.au"));
    EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(BatchWizardTest, TheFrameOpensTheConverterFromToolsAndFromItsCommandLine) {
    SettingsStore::Default().WriteBool("Settings", "PlayWhenOpen", false);
    const std::string script = Write("cl.snb", ScriptBytes({Command(BatchCommandId::Normalize, {80})}));
    MainFrame frame(SettingsStore::Default(), NullAudio(), ShellServices{&prompt_, &files_});
    frame.show();

    int shown = 0;
    OnModal("BatchConverter", [&](QDialog& dialog) {
        ++shown;
        EXPECT_TRUE(static_cast<BatchWizard&>(dialog).Commands().empty());
        dialog.reject();
    });
    EXPECT_FALSE(frame.OnCommand(cmd::kBatchConverter));
    EXPECT_EQ(shown, 1);

    // Opened after the command line has run, with the script loaded; an
    // empty script argument opens it without one.
    OnModal("BatchConverter", [&](QDialog& dialog) {
        ++shown;
        auto& wizard = static_cast<BatchWizard&>(dialog);
        EXPECT_EQ(wizard.ScriptPath(), script);
        EXPECT_EQ(wizard.Commands(), std::vector<BatchCommand>{Command(BatchCommandId::Normalize, {80})});
        EXPECT_EQ(Child<QLineEdit>(dialog, "scriptName")->text(), "cl.snb");
        dialog.reject();
        OnModal("BatchConverter", [&](QDialog& second) {
            ++shown;
            EXPECT_TRUE(static_cast<BatchWizard&>(second).ScriptPath().empty());
            second.reject();
        });
    });
    frame.CommandLineProcessor({"sonitor", "-batch", script, "ignored.wav"});
    frame.CommandLineProcessor({"sonitor", "-batch", ""});
    EXPECT_EQ(frame.PendingBatchScripts().size(), 2u);
    ASSERT_TRUE(WaitFor([&] { return shown == 3 && !frame.Busy(); }));
    EXPECT_TRUE(frame.PendingBatchScripts().empty());
    EXPECT_TRUE(frame.DocumentWindows().empty());
    EXPECT_TRUE(prompt_.History().empty());
}

}  // namespace
}  // namespace sonitor
