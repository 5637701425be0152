// The Edit menu's list edits against a flat model: the samples a document
// should hold are kept in a plain vector and edited the naive way beside
// it; a ClipReader over the document must give exactly those samples.
// FinishEdit's cursor and preroll show in where automatic playback starts.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "formats/WavSink.h"
#include "foundation/SettingsStore.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Samples = std::vector<int32_t>;
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

class RecordingHost final : public DocumentHost {
public:
    test::ScriptedPrompt prompt;
    int stops = 0;
    int announces = 0;
    bool playing = false;
    std::vector<int32_t> plays;

    UserPrompt& Prompt() override { return prompt; }
    void StopPlayback() override {
        ++stops;
        playing = false;
    }
    bool IsPlaying() const override { return playing; }
    void StartPlayback(SoundDocument&, int32_t position) override {
        plays.push_back(position);
        playing = true;
    }
    void AnnounceClipboard() override { ++announces; }
};

// Distinct values that survive 16-bit files (multiples of 16).
Samples Ramp(int32_t frames, int channels = 1, int32_t first = 1) {
    Samples s(static_cast<size_t>(frames) * channels);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = (first + static_cast<int32_t>(i)) * 16;
    return s;
}

AudioClip Written(const Samples& samples, uint32_t rate, int channels) {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, static_cast<int32_t>(rate), channels);
    writer->Write(samples.data(), static_cast<int32_t>(samples.size() / channels));
    EXPECT_TRUE(writer->Close());
    return clip;
}

Samples Read(const AudioClip& clip) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    Samples out(static_cast<size_t>(clip.Length()) * clip.Channels());
    ReadInPieces(*reader, out.data(), clip.Length());
    return out;
}

// A document whose clip has two segments over two files, so that edits
// cross a segment boundary.
Ref<SoundDocument> MakeDocument(const Samples& samples, uint32_t rate, int channels = 1) {
    auto doc = MakeRef<SoundDocument>(rate, static_cast<uint8_t>(channels));
    const auto half = samples.begin() + static_cast<ptrdiff_t>(samples.size() / channels / 2 * channels);
    doc->clip = Written(Samples(samples.begin(), half), rate, channels);
    EXPECT_TRUE(ClipInsert(doc->clip, doc->Length(), Written(Samples(half, samples.end()), rate, channels)));
    doc->fileName = "/music/take.wav";
    return doc;
}

Samples Slice(const Samples& s, int32_t from, int32_t to) {
    return Samples(s.begin() + from, s.begin() + to);
}

void Erase(Samples& s, int32_t from, int32_t to) {
    s.erase(s.begin() + from, s.begin() + to);
}

void Insert(Samples& s, int32_t at, const Samples& what) {
    s.insert(s.begin() + at, what.begin(), what.end());
}

std::pair<int32_t, int32_t> Selection(const SoundDocument& doc) {
    return {doc.selectionStart, doc.selectionEnd};
}

std::string UndoText(const std::string& name) {
    return "Undo " + name + "\tCtrl+Z";
}

class EditOperationsTest : public ::testing::Test {
protected:
    static SettingsStore FreshStore() {
        const std::string folder = test::MakeTempFolder("editops");
        return SettingsStore(SettingsLocation{folder + "/user.ini", folder + "/machine.ini"});
    }

    SettingsStore settings = FreshStore();  // "AutoPlaybackAfterEffects" unset: playback follows edits
    RecordingHost host;
    test::ScriptedTaskHost tasks;
    EditContext ctx{host, tasks, settings};
    AudioClip clipboard;
};

TEST_F(EditOperationsTest, CutCopyAndPaste) {
    Samples model = Ramp(5000);
    auto doc = MakeDocument(model, 1000);

    // Copy without a selection takes everything, does not stop playback and
    // saves no undo state; it promises the audio to other programs.
    EXPECT_TRUE(EditCopy(*doc, clipboard, ctx));
    EXPECT_EQ(Read(clipboard), model);
    EXPECT_EQ(Selection(*doc), std::pair(0, 5000));
    EXPECT_EQ(std::tuple(host.stops, host.announces, doc->undo.CanUndo()), std::tuple(0, 1, false));

    SelectFrames(*doc, 3500, 2000, host);
    EXPECT_TRUE(EditCut(*doc, clipboard, ctx));
    const Samples cut = Slice(model, 2000, 3500);
    Erase(model, 2000, 3500);
    EXPECT_EQ(Read(clipboard), cut);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(2000, 2000));
    EXPECT_EQ(host.plays.back(), 1000);  // FinishEdit(start, 1 s)
    // Cut stops playback but does not announce the clipboard.
    EXPECT_EQ(std::tuple(host.stops, host.announces), std::tuple(1, 1));
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Cut"));

    // Without a selection Paste inserts at the cursor and selects what came in.
    SetCursor(*doc, 3000, host);
    EXPECT_EQ(EditPaste(*doc, clipboard, ctx), kTaskDone);
    Insert(model, 3000, cut);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(3000, 4500));
    EXPECT_EQ(host.plays.back(), 2500);  // FinishEdit(start, 0.5 s)
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Paste"));

    // Over a selection it replaces it; Undo brings the selection's audio back.
    const Samples beforeReplace = model;
    SelectFrames(*doc, 100, 200, host);
    EXPECT_EQ(EditPaste(*doc, clipboard, ctx), kTaskDone);
    Erase(model, 100, 200);
    Insert(model, 100, cut);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(100, 1600));
    ASSERT_TRUE(UndoEdit(*doc, host));
    EXPECT_EQ(Read(doc->clip), beforeReplace);
    EXPECT_EQ(Selection(*doc), std::pair(100, 200));
    model = beforeReplace;

    // The document pasted into itself: what it held before goes in whole.
    SetCursor(*doc, 1000, host);
    EXPECT_EQ(EditPaste(*doc, doc->clip, ctx), kTaskDone);
    Insert(model, 1000, beforeReplace);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(1000, 6000));

    // A selection reaching past the end (left from before the document
    // shrank) is limited to the document: the clipboard gets no padding.
    doc->selectionStart = 4000;
    doc->selectionEnd = 99999;
    EXPECT_TRUE(EditCut(*doc, clipboard, ctx));
    EXPECT_EQ(Read(clipboard), Slice(model, 4000, static_cast<int32_t>(model.size())));
    model.resize(4000);
    EXPECT_EQ(Read(doc->clip), model);

    // Cut without a selection cuts the whole document.
    SetCursor(*doc, 10, host);
    EXPECT_TRUE(EditCut(*doc, clipboard, ctx));
    EXPECT_EQ(doc->Length(), 0);
    EXPECT_EQ(Read(clipboard), model);
}

TEST_F(EditOperationsTest, PasteConvertsAndSelectsTheConvertedLength) {
    // 44,100 frames copied from a 44,100 Hz document select 48,000 frames
    // in a 48,000 Hz one; mono is spread to both channels.
    const Samples around = Ramp(100, 2);
    auto doc = MakeDocument(around, 48000, 2);
    clipboard = Written(Ramp(44100), 44100, 1);
    SetCursor(*doc, 50, host);
    EXPECT_EQ(EditPaste(*doc, clipboard, ctx), kTaskDone);
    EXPECT_EQ(Selection(*doc), std::pair(50, 48050));
    EXPECT_EQ(std::tuple(doc->clip.SampleRate(), doc->clip.Channels()), std::tuple(48000u, uint8_t{2}));
    // The converter approximates the rate ratio to within 0.1%.
    const int32_t pasted = doc->Length() - 100;
    EXPECT_NEAR(pasted, 48000, 48);
    const Samples after = Read(doc->clip);
    EXPECT_EQ(Slice(after, 0, 100), Slice(around, 0, 100));
    EXPECT_EQ(Slice(after, 2 * (50 + pasted), 2 * doc->Length()), Slice(around, 100, 200));

    // At the same rate the selection covers exactly what was pasted, also
    // when it is shorter than a millisecond.
    doc = MakeDocument(Ramp(1000), 44100);
    clipboard = Written(Ramp(3, 1, 9000), 44100, 1);
    SetCursor(*doc, 500, host);
    EXPECT_EQ(EditPaste(*doc, clipboard, ctx), kTaskDone);
    EXPECT_EQ(Selection(*doc), std::pair(500, 503));

    // A cancelled conversion, or a task that cannot be shown, pastes
    // nothing; the undo state taken before stays.
    const Samples model = Ramp(1000);
    doc = MakeDocument(model, 8000);
    clipboard = Written(Ramp(20000), 44100, 1);
    tasks.cancelAfterPumps = tasks.pumps;
    EXPECT_EQ(EditPaste(*doc, clipboard, ctx), kTaskCancelled);
    tasks.cancelAfterPumps = -1;
    tasks.failToOpen = true;
    EXPECT_EQ(EditPaste(*doc, clipboard, ctx), kTaskFailed);
    tasks.failToOpen = false;
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Paste"));
}

TEST_F(EditOperationsTest, DeleteTrimsAndSilence) {
    Samples model = Ramp(6000);
    auto doc = MakeDocument(model, 1000);

    // Delete needs a selection: without one nothing happens at all.
    SetCursor(*doc, 300, host);
    EXPECT_FALSE(EditDelete(*doc, ctx));
    EXPECT_EQ(std::tuple(host.stops, doc->undo.CanUndo(), doc->modified), std::tuple(0, false, false));

    SelectFrames(*doc, 2500, 3000, host);
    EXPECT_TRUE(EditDelete(*doc, ctx));
    Erase(model, 2500, 3000);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(2500, 2500));
    EXPECT_EQ(host.plays.back(), 1500);
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Delete"));

    // Trim Start removes what lies before the selection and leaves the
    // selection's values; Trim End removes what follows it.
    SelectFrames(*doc, 1000, 2000, host);
    EXPECT_TRUE(EditTrimStart(*doc, ctx));
    Erase(model, 0, 1000);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(1000, 2000));
    EXPECT_EQ(std::tuple(doc->cursor, host.plays.back()), std::tuple(0, 0));
    EXPECT_TRUE(EditTrimEnd(*doc, ctx));
    model.resize(2000);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Trim End"));

    SelectFrames(*doc, 500, 1500, host);
    EXPECT_TRUE(EditTrim(*doc, ctx));
    model = Slice(model, 500, 1500);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(std::tuple(doc->selectionStart, doc->selectionEnd, doc->cursor), std::tuple(0, 0, 0));
    // Without a selection Trim keeps everything.
    EXPECT_TRUE(EditTrim(*doc, ctx));
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Trim"));

    // A selection left past the end by the trims trims nothing away.
    doc->selectionStart = 700;
    doc->selectionEnd = 5000;
    EXPECT_TRUE(EditTrimEnd(*doc, ctx));
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(700, 1000));

    SelectFrames(*doc, 200, 450, host);
    EXPECT_TRUE(EditSilenceSelection(*doc, ctx));
    std::fill(model.begin() + 200, model.begin() + 450, 0);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(200, 450));
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Edit Silence"));
    EXPECT_EQ(host.stops, 7);
}

TEST_F(EditOperationsTest, RepeatLoopAndItsLimits) {
    Samples model = Ramp(3000);
    auto doc = MakeDocument(model, 1000);
    SelectFrames(*doc, 1200, 1700, host);
    EXPECT_TRUE(EditRepeatLoop(*doc, RepeatSettings{2}, ctx));
    const Samples piece = Slice(model, 1200, 1700);
    Insert(model, 1200, piece);
    Insert(model, 1200, piece);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(Selection(*doc), std::pair(1200, 1700));  // the first copy
    EXPECT_EQ(host.plays.back(), 200);
    EXPECT_EQ(host.stops, 0);  // playback goes on
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Repeat Loop"));

    // Repeats the clip cannot hold are refused and leave no trace: beyond
    // 2^31 - 1 frames, and a one-frame range repeated two billion times
    // (within the frame limit, but two billion segments).
    doc->modified = false;
    const int undoIndex = doc->undo.Index();
    EXPECT_FALSE(EditRepeatLoop(*doc, RepeatSettings{kMax}, ctx));
    SelectFrames(*doc, 10, 11, host);
    EXPECT_FALSE(EditRepeatLoop(*doc, RepeatSettings{2000000000}, ctx));
    EXPECT_FALSE(EditRepeatLoop(*doc, RepeatSettings{0}, ctx));
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(std::tuple(doc->modified, doc->undo.Index()), std::tuple(false, undoIndex));

    // Without a selection the whole document is repeated.
    SetCursor(*doc, 0, host);
    EXPECT_TRUE(EditRepeatLoop(*doc, RepeatSettings{1}, ctx));
    const Samples once = model;
    Insert(model, 0, once);
    EXPECT_EQ(Read(doc->clip), model);
}

TEST_F(EditOperationsTest, InsertSilenceAtTheThreePlaces) {
    Samples model = Ramp(100);
    auto doc = MakeDocument(model, 44100);
    SetCursor(*doc, 60, host);
    // 1,000 ms at 44,100 Hz is 44,100 frames.
    EXPECT_TRUE(EditInsertSilence(*doc, InsertPosition::Current, SilenceSettings{1000}, ctx));
    Insert(model, 60, Samples(44100, 0));
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Insert Silence At Current Position"));

    EXPECT_TRUE(EditInsertSilence(*doc, InsertPosition::Begin, SilenceSettings{10}, ctx));
    Insert(model, 0, Samples(441, 0));
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Insert Silence At The Start"));
    EXPECT_TRUE(EditInsertSilence(*doc, InsertPosition::End, SilenceSettings{1}, ctx));
    Insert(model, static_cast<int32_t>(model.size()), Samples(44, 0));
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Insert Silence At The End"));
    EXPECT_EQ(Read(doc->clip), model);

    // A time no clip can hold (the frame count would pass 2^31 - 1), and a
    // time the dialog refuses, change nothing.
    const int undoIndex = doc->undo.Index();
    EXPECT_FALSE(EditInsertSilence(*doc, InsertPosition::End, SilenceSettings{kMax}, ctx));
    EXPECT_FALSE(EditInsertSilence(*doc, InsertPosition::End, SilenceSettings{48696000}, ctx));
    EXPECT_FALSE(EditInsertSilence(*doc, InsertPosition::End, SilenceSettings{0}, ctx));
    EXPECT_EQ(doc->undo.Index(), undoIndex);
    EXPECT_EQ(Read(doc->clip), model);
}

TEST_F(EditOperationsTest, InsertFileConvertsOrInsertsNothing) {
    const std::string folder = test::MakeTempFolder("insertfile");
    const auto writeWav = [&](const std::string& name, const Samples& samples, int32_t rate, int channels) {
        Ref<AudioSink> sink = CreatePcmWavSink(folder + "/" + name, rate, 16, channels);
        sink->Write(samples.data(), static_cast<int32_t>(samples.size() / channels));
        EXPECT_TRUE(sink->Close());
        return folder + "/" + name;
    };
    const Samples file = Ramp(400, 1, 5000);
    const std::string same = writeWav("same.wav", file, 1000, 1);
    const std::string other = writeWav("other.wav", Ramp(400, 2), 2000, 2);

    Samples model = Ramp(1000);
    auto doc = MakeDocument(model, 1000);
    SetCursor(*doc, 700, host);
    EXPECT_EQ(EditInsertFile(*doc, InsertPosition::Current, same, ctx), kTaskDone);
    Insert(model, 700, file);
    EXPECT_EQ(Read(doc->clip), model);
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Insert File At Current Position"));
    EXPECT_EQ(host.plays.back(), 0);  // FinishEdit(selection start, 1 s)

    // Another rate and channel count: converted, 400 frames at 2,000 Hz
    // become 200 at 1,000 Hz.
    EXPECT_EQ(EditInsertFile(*doc, InsertPosition::Begin, other, ctx), kTaskDone);
    EXPECT_EQ(doc->Length(), static_cast<int32_t>(model.size()) + 200);
    EXPECT_EQ(Slice(Read(doc->clip), 200, doc->Length()), model);
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Insert File At Beginning"));
    model = Read(doc->clip);

    // A file that cannot be loaded saves no undo state; a conversion that
    // is cancelled inserts nothing.
    const int undoIndex = doc->undo.Index();
    EXPECT_NE(EditInsertFile(*doc, InsertPosition::End, folder + "/missing.wav", ctx), kTaskDone);
    EXPECT_EQ(doc->undo.Index(), undoIndex);
    AudioClip probe;
    FunctionTask load("probe", [&](ProgressTask& task) { return LoadFileIntoClip(task, other, probe); });
    const int before = tasks.pumps;
    ASSERT_EQ(RunTask(load, tasks), kTaskDone);
    tasks.cancelAfterPumps = tasks.pumps + (tasks.pumps - before);
    EXPECT_EQ(EditInsertFile(*doc, InsertPosition::End, other, ctx), kTaskCancelled);
    tasks.cancelAfterPumps = -1;
    EXPECT_EQ(doc->undo.UndoMenuText(), UndoText("Insert File At The End"));
    EXPECT_EQ(Read(doc->clip), model);
}

TEST_F(EditOperationsTest, SelectionCommandsAndMarks) {
    auto doc = MakeDocument(Ramp(5000), 1000);
    doc->cursor = 7000;  // stale
    SelectToStart(*doc, host);
    EXPECT_EQ(Selection(*doc), std::pair(0, 5000));
    SetCursor(*doc, 2000, host);
    SelectToEnd(*doc, host);
    EXPECT_EQ(Selection(*doc), std::pair(2000, 5000));
    SelectFrames(*doc, 4000, -5, host);
    EXPECT_EQ(std::tuple(doc->selectionStart, doc->selectionEnd, doc->cursor), std::tuple(0, 4000, 0));
    SetCursor(*doc, 1234, host);
    SelectAll(*doc, host);
    EXPECT_EQ(std::tuple(doc->selectionStart, doc->selectionEnd, doc->cursor, doc->viewStart, doc->viewEnd),
              std::tuple(0, 5000, 1234, 0, 5000));

    // The second mark before any first one selects from 0 to the cursor.
    SetCursor(*doc, 3000, host);
    MarkSecondPosition(*doc, host);
    EXPECT_EQ(std::tuple(doc->selectionStart, doc->selectionEnd, doc->cursor), std::tuple(0, 3000, 0));
    SetCursor(*doc, 4000, host);
    MarkFirstPosition(*doc, host);
    EXPECT_EQ(std::tuple(doc->selectionStart, doc->selectionEnd, doc->cursor), std::tuple(3000, 4000, 4000));
    EXPECT_TRUE(host.plays.empty());

    // Recalling during playback restarts it on the recalled selection;
    // marks past the end of a shortened document are limited to it.
    host.playing = true;
    doc->firstMark = 9000;
    RecallMarkSelection(*doc, host);
    EXPECT_EQ(std::tuple(doc->selectionStart, doc->selectionEnd, doc->cursor), std::tuple(3000, 5000, 5000));
    EXPECT_EQ(host.plays, std::vector<int32_t>{3000});
    EXPECT_EQ(host.stops, 3);  // every recall stops playback first
    EXPECT_FALSE(doc->undo.CanUndo());
}

}  // namespace
}  // namespace sonitor
