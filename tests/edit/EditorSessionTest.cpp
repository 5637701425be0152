// The session's rules that concern more than one document, on real clips
// checked against a flat copy of their samples, and the clipboard exchange
// as WAV bytes.
#include <cmath>
#include <deque>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "edit/EditorSession.h"
#include "formats/WavSource.h"
#include "formats/export/SaveCommands.h"
#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Samples = std::vector<int32_t>;

class RecordingHost final : public DocumentHost {
public:
    test::ScriptedPrompt prompt;
    std::deque<std::optional<std::string>> choices;
    std::vector<SaveFileDialog> dialogs;
    std::vector<std::string> closing;
    int arranged = 0;

    UserPrompt& Prompt() override { return prompt; }
    std::optional<std::string> ChooseSaveFile(const SaveFileDialog& dialog) override {
        dialogs.push_back(dialog);
        if (choices.empty()) return std::nullopt;
        std::optional<std::string> choice = choices.front();
        choices.pop_front();
        return choice;
    }
    void DocumentClosing(SoundDocument& d) override { closing.push_back(d.fileName); }
    void ArrangeWindows() override { ++arranged; }
};

// 16-bit values on the internal scale, so that WAV files give them back
// exactly; a different value in every sample.
Samples Ramp(int32_t frames, int channels) {
    Samples s(static_cast<size_t>(frames) * channels);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int32_t>(i % 60000) * 16 - 480000;
    return s;
}

AudioClip MakeClip(const Samples& samples, int32_t rate, int channels) {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, rate, channels);
    writer->Write(samples.data(), static_cast<int32_t>(samples.size() / channels));
    EXPECT_TRUE(writer->Close());
    return clip;
}

Samples ReadAll(const Ref<AudioSource>& source) {
    Samples s(static_cast<size_t>(source->Length()) * source->Channels());
    source->Seek(0);
    ReadInPieces(*source, s.data(), source->Length());
    return s;
}

Samples Of(const AudioClip& clip) {
    return ReadAll(OpenClipReader(clip));
}

Samples Frames(const Samples& all, int channels, int32_t start, int32_t end) {
    return Samples(all.begin() + int64_t{start} * channels, all.begin() + int64_t{end} * channels);
}

struct Fixture {
    std::string folder = test::MakeTempFolder("session");
    SettingsStore store{{folder + "/user.ini", folder + "/machine.ini"}};
    RecordingHost host;
    test::ScriptedTaskHost tasks;
    EditorSession session{host, tasks, store};

    Fixture() { store.WriteBool("Settings", "AutoPlaybackAfterEffects", false); }

    Ref<SoundDocument> Open(const Samples& samples, int32_t rate, int channels,
                            const std::string& name = "") {
        Ref<SoundDocument> d = session.NewDocument();
        d->clip = MakeClip(samples, rate, channels);
        if (!name.empty()) d->fileName = name;
        return d;
    }
};

TEST(EditorSession, UntitledNumbersCopyToNewAndSplit) {
    Fixture f;
    const Samples ramp = Ramp(1000, 1);
    Ref<SoundDocument> first = f.Open(ramp, 44100, 1);
    EXPECT_EQ(first->fileName, "Untitled 1");
    EXPECT_EQ(f.session.CopyToNew(), nullptr) << "Copy To New needs a selection";

    SetSelection(*first, 300, 100, 0, f.host);
    Ref<SoundDocument> copy = f.session.CopyToNew();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->fileName, "Untitled 2");
    EXPECT_TRUE(copy->modified);
    EXPECT_EQ(f.session.Active(), copy.Get());
    EXPECT_EQ(f.host.arranged, 1);
    EXPECT_EQ(Of(copy->clip), Frames(ramp, 1, 100, 300));

    f.session.Activate(first.Get());
    SetCursor(*first, 600, f.host);
    Ref<SoundDocument> rest = f.session.SplitAtCursor();
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->fileName, "Untitled 3");
    EXPECT_TRUE(rest->modified && first->modified);
    EXPECT_EQ(Of(first->clip), Frames(ramp, 1, 0, 600));
    EXPECT_EQ(Of(rest->clip), Frames(ramp, 1, 600, 1000));
    EXPECT_EQ(first->undo.SlotName(first->undo.Index()), "Split file at this point");
    ASSERT_TRUE(UndoEdit(*first, f.host));
    EXPECT_EQ(Of(first->clip), ramp);

    // A closed name is free again; the next one active is a neighbour.
    f.session.CloseDocument(*copy);
    EXPECT_EQ(f.host.closing, std::vector<std::string>{"Untitled 2"});
    EXPECT_EQ(f.session.Documents().size(), 2u);
    EXPECT_EQ(f.session.NewDocument()->fileName, "Untitled 2");

    // Splitting at 0 moves everything out.
    f.session.Activate(first.Get());
    SetCursor(*first, 0, f.host);
    Ref<SoundDocument> all = f.session.SplitAtCursor();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->fileName, "Untitled 4");
    EXPECT_EQ(first->Length(), 0);
    EXPECT_EQ(Of(all->clip), ramp);
}

// Bursts of tone, 0.3 s each, with half a second of silence around each.
Samples Bursts(int32_t rate, int count) {
    const int32_t burst = rate * 3 / 10;
    const int32_t gap = rate / 2;
    Samples s(static_cast<size_t>(gap + count * (burst + gap)), 0);
    for (int b = 0; b < count; ++b) {
        const int32_t at = gap + b * (burst + gap);
        for (int32_t i = 0; i < burst; ++i)
            s[static_cast<size_t>(at + i)] =
                static_cast<int32_t>(std::lround(200000 * std::sin(i * 0.2))) & ~15;
    }
    return s;
}

TEST(EditorSession, AutoSplitNamesPartsAfterTheFileAndRefusesOneRegion) {
    Fixture f;
    AutoSplitSettings settings;
    settings.thresholdDb = -36;
    settings.durationMs = 100;

    const Samples one = Bursts(8000, 1);
    Ref<SoundDocument> single = f.Open(one, 8000, 1, "/music/take.one.wav");
    EXPECT_TRUE(f.session.AutoSplit(settings).empty());
    ASSERT_EQ(f.host.prompt.History().size(), 1u);
    EXPECT_EQ(f.host.prompt.History()[0].title, "Auto Split Complete");
    EXPECT_EQ(
        f.host.prompt.History()[0].text,
        "Sonitor cannot find any region to split. Please try to lower the silence detection threshold or "
        "the duration then try again.");
    EXPECT_EQ(f.host.prompt.History()[0].icon, PromptIcon::Information);
    EXPECT_EQ(f.session.Documents().size(), 1u);
    EXPECT_EQ(single->Length(), static_cast<int32_t>(one.size()));

    const Samples three = Bursts(8000, 3);
    Ref<SoundDocument> doc = f.Open(three, 8000, 1, "/music/take.one.wav");
    std::vector<SplitRegion> regions;
    FunctionTask find("find",
                      [&](ProgressTask& t) { return FindSplitRegions(t, doc->clip, settings, regions); });
    ASSERT_EQ(RunTask(find, f.tasks), kTaskDone);
    ASSERT_EQ(regions.size(), 3u);

    const std::vector<Ref<SoundDocument>> parts = f.session.AutoSplit(settings);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(f.host.closing.back(), "/music/take.one.wav");
    EXPECT_EQ(f.session.Documents().size(), 4u) << "the other document stays, the split one is closed";
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(parts[i]->fileName, "take.one (" + std::to_string(i) + ").wav");
        EXPECT_TRUE(parts[i]->modified);
        EXPECT_EQ(Of(parts[i]->clip), Frames(three, 1, regions[i].start, regions[i].end));
    }
}

TEST(EditorSession, AutoSplitOfAChangedDocumentAsksToSaveFirst) {
    Fixture f;
    AutoSplitSettings settings;
    settings.durationMs = 100;
    const std::string path = f.folder + "/take.wav";
    Ref<SoundDocument> doc = f.Open(Bursts(8000, 2), 8000, 1, path);
    doc->modified = true;

    f.host.prompt.QueueAnswer(PromptAnswer::No);
    EXPECT_TRUE(f.session.AutoSplit(settings).empty());
    ASSERT_EQ(f.host.prompt.History().size(), 1u);
    EXPECT_EQ(f.host.prompt.History()[0].title, "Save File");
    EXPECT_EQ(
        f.host.prompt.History()[0].text,
        "You need to save the file first before performing an auto split on this file. Do you want to save "
        "it now?");
    EXPECT_EQ(f.host.prompt.History()[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(f.tasks.opens, 0) << "No ends the command before any work";
    EXPECT_FALSE(FileExists(path));

    // Yes saves, then splits.
    EXPECT_EQ(f.session.AutoSplit(settings).size(), 2u);
    Ref<AudioSource> saved = OpenWavSource(path);
    ASSERT_TRUE(saved && saved->Status() == 0);
    EXPECT_EQ(saved->Length(), doc->Length());
}

TEST(EditorSession, SaveSelectionWritesExactlyTheSelection) {
    Fixture f;
    const Samples ramp = Ramp(5000, 2);
    Ref<SoundDocument> doc = f.Open(ramp, 22050, 2, f.folder + "/song.mp3");
    const std::string taken = f.folder + "/taken.wav";
    ASSERT_TRUE(WriteFileAtomically(taken, "keep"));

    SetSelection(*doc, 1000, 3000, 0, f.host);
    f.host.choices = {taken, f.folder + "/part"};
    f.host.prompt.QueueAnswer(PromptAnswer::No);
    ASSERT_TRUE(f.session.SaveSelectionAs());
    ASSERT_EQ(f.host.dialogs.size(), 2u) << "No to the replace question asks for another name";
    EXPECT_EQ(f.host.dialogs[0].title, "Save Audio File As");
    ASSERT_EQ(f.host.dialogs[0].filters.size(), 1u);
    EXPECT_EQ(f.host.dialogs[0].filters[0].description, "Wave (*.wav)");
    EXPECT_EQ(f.host.prompt.History().at(0).text, kReplaceQuestion);
    EXPECT_EQ(ReadWholeFile(taken).value_or(""), "keep");
    EXPECT_EQ(f.store.ReadString("Settings", "SaveAsDir"), f.folder);

    EXPECT_EQ(ReadAll(OpenWavSource(f.folder + "/part.wav")), Frames(ramp, 2, 1000, 3000));

    // Cancel ends; without a selection the whole document is written.
    f.host.choices = {taken};
    f.host.prompt.QueueAnswer(PromptAnswer::Cancel);
    EXPECT_FALSE(f.session.SaveSelectionAs());
    EXPECT_EQ(ReadWholeFile(taken).value_or(""), "keep");
    SetCursor(*doc, 10, f.host);
    ASSERT_TRUE(f.session.SaveSelectionTo(f.folder + "/all.wav"));
    EXPECT_EQ(ReadAll(OpenWavSource(f.folder + "/all.wav")), ramp);
}

TEST(EditorSession, ClipboardWavRoundTripsExactly) {
    test::ScriptedTaskHost tasks;
    const std::string rendered = JoinPath(UserDataFolder(), "_clipboard.wav");
    const std::string taken = JoinPath(UserDataFolder(), "clipboard.wav");
    for (const auto& [rate, channels] : {std::pair{44100, 2}, std::pair{8000, 1}}) {
        const Samples ramp = Ramp(3000, channels);
        std::string bytes;
        ASSERT_TRUE(RenderClipAsWav(MakeClip(ramp, rate, channels), tasks, bytes));
        EXPECT_FALSE(FileExists(rendered));
        // A plain 16-bit PCM file of the clip's own format.
        const size_t data = bytes.find("data");
        ASSERT_NE(data, std::string::npos);
        EXPECT_EQ(bytes.size(), data + 8 + ramp.size() * 2);
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(std::tuple(bytes[20], bytes[22], bytes[34]), std::tuple(1, channels, 16));
        EXPECT_EQ(static_cast<uint8_t>(bytes[24]) | static_cast<uint8_t>(bytes[25]) << 8, rate & 0xFFFF);

        AudioClip back;
        ASSERT_EQ(TakeWavIntoClip(bytes, tasks, back), kTaskDone);
        EXPECT_EQ(back.SampleRate(), static_cast<uint32_t>(rate));
        EXPECT_EQ(back.Channels(), channels);
        EXPECT_EQ(Of(back), ramp);
        EXPECT_EQ(ReadWholeFile(taken).value_or(""), bytes) << "the taken file stays for the next take";
    }

    // Nothing on the clipboard gives nothing; bytes that are no audio file
    // fail and leave the clip alone.
    AudioClip clip = MakeClip(Ramp(10, 1), 8000, 1);
    EXPECT_EQ(TakeWavIntoClip(std::string("RIFF\x04\0\0\0WAVE", 12), tasks, clip), kTaskFailed);
    EXPECT_EQ(clip.Length(), 10);
    EXPECT_EQ(TakeWavIntoClip("", tasks, clip), kTaskDone);
    EXPECT_EQ(clip.Length(), 0);
}

}  // namespace
}  // namespace sonitor
