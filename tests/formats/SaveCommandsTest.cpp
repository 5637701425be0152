#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ClipWriter.h"
#include "document/SoundDocument.h"
#include "formats/WavSource.h"
#include "formats/export/ExportDispatcher.h"
#include "formats/export/SaveCommands.h"
#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/SettingsStore.h"
#include "support/MemorySources.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

// A host whose save dialog answers from a queue and records what it showed.
class DialogHost final : public DocumentHost {
public:
    test::ScriptedPrompt prompt;
    std::deque<std::optional<std::string>> choices;
    std::vector<SaveFileDialog> dialogs;
    bool optionsOk = true;
    std::vector<std::string> optionsShown;

    UserPrompt& Prompt() override { return prompt; }
    std::optional<std::string> ChooseSaveFile(const SaveFileDialog& dialog) override {
        dialogs.push_back(dialog);
        if (choices.empty()) return std::nullopt;
        std::optional<std::string> choice = choices.front();
        choices.pop_front();
        return choice;
    }
    bool ShowFormatOptions(const std::string& extension, int32_t, int) override {
        optionsShown.push_back(extension);
        return optionsOk;
    }
};

struct SaveCommandFixture {
    std::string folder = test::MakeTempFolder("savecmd");
    SettingsStore store{{folder + "/user.ini", folder + "/machine.ini"}};
    DialogHost host;
    test::ScriptedTaskHost tasks;
    Ref<SoundDocument> document = MakeRef<SoundDocument>(22050, 2);

    SaveCommandFixture() {
        test::ToneSource tone(22050, 2, 2205);
        std::vector<int32_t> samples(2205 * 2);
        tone.Read(samples.data(), 2205);
        Ref<ClipWriter> writer = CreateClipWriter(&document->clip, 22050, 2);
        for (int32_t& s : samples) s *= 256;  // working samples are 24-bit
        writer->Write(samples.data(), 2205);
        EXPECT_TRUE(writer->Close());
        document->fileName = "Untitled 3";
        document->modified = true;
    }
    ~SaveCommandFixture() { SetFreeSpaceProbeForTesting({}); }
};

TEST(SaveCommandTest, UntitledSaveGoesThroughTheDialogAndRemembersIt) {
    SaveCommandFixture f;
    f.store.WriteString("Settings", "SaveAsDir", f.folder);
    f.host.choices.push_back(f.folder + "/take");  // a bare name gets the default extension
    ASSERT_TRUE(SaveCommand(*f.document, f.host, f.tasks, f.store));

    ASSERT_EQ(f.host.dialogs.size(), 1u);
    const SaveFileDialog& shown = f.host.dialogs[0];
    EXPECT_EQ(shown.title, "Save Audio File As");
    EXPECT_EQ(shown.folder, f.folder);
    EXPECT_EQ(shown.fileName, "Untitled 3");
    EXPECT_EQ(shown.defaultExtension, "wav");
    EXPECT_EQ(shown.filterIndex, 1);
    ASSERT_EQ(shown.filters.size(), 16u);
    EXPECT_EQ(shown.filters[3].description, "Apple AIFF(*.aif, *.aiff)");
    EXPECT_EQ(shown.filters[3].patterns, "*.aif;*.aiff");
    EXPECT_EQ(f.host.optionsShown, std::vector<std::string>{".wav"});

    const std::string saved = f.folder + "/take.wav";
    EXPECT_EQ(f.document->fileName, saved);
    EXPECT_FALSE(f.document->modified);
    EXPECT_EQ(f.store.ReadString("Settings", "SaveAsFormat", ""), "wav");
    // Without a saved wave format: 16-bit PCM at the document's rate and
    // channels, and the samples come back as they were.
    Ref<AudioSource> back = OpenWavSource(saved);
    ASSERT_TRUE(back && back->Status() == 0);
    EXPECT_EQ(back->SampleRate(), 22050);
    EXPECT_EQ(back->Channels(), 2);
    EXPECT_EQ(back->Length(), 2205);

    // Save again goes straight to the file.
    f.document->modified = true;
    ASSERT_TRUE(SaveCommand(*f.document, f.host, f.tasks, f.store));
    EXPECT_EQ(f.host.dialogs.size(), 1u);
    EXPECT_FALSE(f.document->modified);
}

TEST(SaveCommandTest, SavedWaveFormatChoosesTheCoding) {
    SaveCommandFixture f;
    WaveFormat mulaw = MakePcmWaveFormat(8000, 8, 1);
    mulaw.tag = kWaveTagMuLaw;
    mulaw.avgBytesPerSec = 8000;
    ASSERT_TRUE(StoreSavedWaveFormat(SavedWaveFormatPath(), mulaw));
    EXPECT_EQ(FileSize(SavedWaveFormatPath()).value_or(0), 1024);
    EXPECT_EQ(LoadSavedWaveFormat(SavedWaveFormatPath()), mulaw);

    f.host.choices.push_back(f.folder + "/phone.wav");
    const bool saved = SaveAsCommand(*f.document, f.host, f.tasks, f.store);
    std::remove(SavedWaveFormatPath().c_str());
    ASSERT_TRUE(saved);
    const std::optional<std::string> bytes = ReadWholeFile(f.folder + "/phone.wav");
    ASSERT_TRUE(bytes && bytes->size() > 40);
    EXPECT_EQ(static_cast<uint8_t>((*bytes)[20]), kWaveTagMuLaw);
    EXPECT_EQ(static_cast<uint8_t>((*bytes)[22]), 1);  // mono
    // 0.1 s at 8000 Hz, one byte a frame, give or take the resampler's edge.
    Ref<AudioSource> back = OpenWavSource(f.folder + "/phone.wav");
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->Length(), 800, 2);
}

TEST(SaveCommandTest, ReplaceQuestionAnswers) {
    SaveCommandFixture f;
    const std::string existing = f.folder + "/keep.wav";
    ASSERT_TRUE(WriteFileAtomically(existing, "old"));

    // No shows the dialog again; Cancel then stops without touching anything.
    f.host.choices = {existing, existing};
    f.host.prompt.QueueAnswer(PromptAnswer::No);
    f.host.prompt.QueueAnswer(PromptAnswer::Cancel);
    EXPECT_FALSE(SaveAsCommand(*f.document, f.host, f.tasks, f.store));
    EXPECT_EQ(f.host.dialogs.size(), 2u);
    ASSERT_EQ(f.host.prompt.History().size(), 2u);
    EXPECT_EQ(f.host.prompt.History()[0].title, "Sonitor");
    EXPECT_EQ(f.host.prompt.History()[0].text, kReplaceQuestion);
    EXPECT_EQ(f.host.prompt.History()[0].buttons, PromptButtons::YesNoCancel);
    EXPECT_EQ(ReadWholeFile(existing).value_or(""), "old");
    EXPECT_EQ(f.document->fileName, "Untitled 3");

    // Yes replaces.
    f.host.choices = {existing};
    f.host.prompt.QueueAnswer(PromptAnswer::Yes);
    EXPECT_TRUE(SaveAsCommand(*f.document, f.host, f.tasks, f.store));
    EXPECT_GT(FileSize(existing).value_or(0), 100);

    // Cancelling the options dialog saves nothing.
    f.host.optionsOk = false;
    f.host.choices = {f.folder + "/other.au"};
    EXPECT_FALSE(SaveAsCommand(*f.document, f.host, f.tasks, f.store));
    EXPECT_FALSE(FileExists(f.folder + "/other.au"));
}

TEST(SaveCommandTest, RealAudioTargetsAreRefused) {
    SaveCommandFixture f;
    f.document->fileName = f.folder + "/stream.RM";
    f.host.prompt.QueueAnswer(PromptAnswer::No);
    EXPECT_FALSE(SaveCommand(*f.document, f.host, f.tasks, f.store));
    ASSERT_EQ(f.host.prompt.History().size(), 1u);
    EXPECT_EQ(f.host.prompt.History()[0].text, kRealAudioQuestion);
    EXPECT_TRUE(f.host.dialogs.empty());

    // Yes opens Save As; a real-audio name there asks again, and Yes shows
    // the dialog once more.
    f.host.prompt.QueueAnswer(PromptAnswer::Yes);
    f.host.prompt.QueueAnswer(PromptAnswer::Yes);
    f.host.choices = {f.folder + "/again.ram", f.folder + "/fine.aiff"};
    EXPECT_TRUE(SaveCommand(*f.document, f.host, f.tasks, f.store));
    EXPECT_EQ(f.host.dialogs.size(), 2u);
    EXPECT_EQ(f.document->fileName, f.folder + "/fine.aiff");
    EXPECT_FALSE(FileExists(f.folder + "/again.ram"));
    EXPECT_EQ(f.host.dialogs[1].fileName, "stream");
}

TEST(SaveCommandTest, FailuresKeepTheEditsAndTheOldFile) {
    SaveCommandFixture f;
    // Low space in the working folder: the message, and nothing written.
    f.document->fileName = f.folder + "/song.wav";
    SetFreeSpaceProbeForTesting([](const std::string&) { return 1024u; });
    EXPECT_FALSE(SaveCommand(*f.document, f.host, f.tasks, f.store));
    ASSERT_EQ(f.host.prompt.History().size(), 1u);
    EXPECT_EQ(f.host.prompt.History()[0].title, "Low Disk Space");
    EXPECT_EQ(f.host.prompt.History()[0].text, SaveLowSpaceMessage(f.folder + "/song.wav"));
    EXPECT_FALSE(FileExists(f.folder + "/song.wav"));
    SetFreeSpaceProbeForTesting({});

    // An encoder that fails: the task says so, the old file stays, the
    // document keeps its name and its modified flag.
    const std::string script = f.folder + "/enc";
    ASSERT_TRUE(WriteFileAtomically(script, "#!/bin/sh\ncat > /dev/null\nexit 3\n", 0755));
    f.store.WriteString("Components\\mp3el", "Path", script);
    const std::string mp3 = f.folder + "/old.mp3";
    ASSERT_TRUE(WriteFileAtomically(mp3, "previous"));
    f.host.choices = {mp3};
    f.host.prompt.QueueAnswer(PromptAnswer::Yes);
    EXPECT_FALSE(SaveAsCommand(*f.document, f.host, f.tasks, f.store));
    EXPECT_EQ(ReadWholeFile(mp3).value_or(""), "previous");
    EXPECT_EQ(f.document->fileName, f.folder + "/song.wav");
    EXPECT_TRUE(f.document->modified);
    ASSERT_FALSE(f.tasks.errors.empty());
    EXPECT_NE(f.tasks.errors.back().find("could not be saved"), std::string::npos);
}

}  // namespace
}  // namespace sonitor
