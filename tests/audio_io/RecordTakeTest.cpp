// The Record command's core: the "Recorder" values, a take recorded from the
// null input into a working-file clip, and its insertion into a document,
// checked against a flat model of the document's samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_io/NullAudio.h"
#include "audio_io/RecordMixer.h"
#include "audio_io/RecordTake.h"
#include "audio_io/SoundRecorder.h"
#include "document/ClipReader.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "foundation/Notifier.h"
#include "foundation/SettingsStore.h"
#include "support/ScriptedPrompt.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Samples = std::vector<int32_t>;

class CountingHost final : public DocumentHost {
public:
    test::ScriptedPrompt prompt;
    int stops = 0;
    int changes = 0;
    UserPrompt& Prompt() override { return prompt; }
    void StopPlayback() override { ++stops; }
    void DocumentChanged(SoundDocument&) override { ++changes; }
};

Samples ReadAll(const AudioClip& clip) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    return test::ReadFrames(*reader, clip.Length());
}

AudioClip Written(const Samples& samples, int32_t rate, int channels) {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, rate, channels);
    writer->Write(samples.data(), static_cast<int32_t>(samples.size() / static_cast<size_t>(channels)));
    EXPECT_TRUE(writer->Close());
    return clip;
}

Samples Ramp(int32_t frames) {
    Samples s(static_cast<size_t>(frames));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int32_t>(i % 1000) * 16 + 16;
    return s;
}

// Defaults, what the engine gets from them, and the limits on read; the
// input line and volume reach the mixer (a missing card has no lines).
TEST(RecorderSettingsTest, DefaultsEngineSettingsAndMixer) {
    const std::string folder = test::MakeTempFolder("recorder");
    const SettingsStore store({folder + "/settings.ini", folder + "/machine.ini"});
    const RecorderSettings defaults = RecorderSettings::Load(store);
    EXPECT_TRUE(defaults.autostart && defaults.autotrim && !defaults.voiceActivated);
    EXPECT_EQ(defaults.EngineThreshold(), -24);
    EXPECT_EQ(defaults.SilenceLimitMs(), 216000000);
    EXPECT_EQ(defaults.channel, -1);

    store.WriteBool("Recorder", "Autotrim", false);
    store.WriteBool("Recorder", "Vor", true);
    store.WriteInt("Recorder", "Threshold", -500);
    store.WriteInt("Recorder", "Channel", 1);
    const RecorderSettings stored = RecorderSettings::Load(store);
    EXPECT_EQ(stored.EngineThreshold(), -127);  // without AutoTrim every buffer passes
    EXPECT_EQ(stored.threshold, -127);
    EXPECT_EQ(stored.SilenceLimitMs(), 5000);

    NullRecordMixer mixer;
    ApplyRecorderInput(mixer, stored);
    EXPECT_EQ(mixer.SelectedLine(), 1);
    EXPECT_EQ(mixer.Level(), 51264u);  // 0 dB on the output volume's scale
    const std::unique_ptr<RecordMixer> missing = OpenAlsaRecordMixer("hw:99");
    EXPECT_TRUE(missing->Lines().empty());
    EXPECT_FALSE(missing->SelectLine(0));
    EXPECT_FALSE(missing->SetVolume(0));
}

// A take with the default settings from silence, a 1 s tone and silence
// again, recorded into working files and put over a document's selection:
// the take starts half a buffer before the buffer where the tone begins and
// ends 50 ms after the last loud one; the rest of the document is as it
// was; one undo brings the old document back.
TEST(RecordTakeTest, RecordedTakeReplacesTheSelectionWithUndo) {
    NullAudio().ResetForTesting();
    NullAudio().SetManualClock(true);
    NullAudio().SetInputGenerator([](int64_t frame, int) -> int16_t {
        if (frame < 44100 || frame >= 88200) return 0;
        return static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 440.0 * frame / 44100)));
    });

    CountingHost host;
    Ref<SoundDocument> document = MakeRef<SoundDocument>(44100u, uint8_t{1});
    const Samples original = Ramp(10000);
    document->clip = Written(original, 44100, 1);
    SetSelection(*document, 2000, 3000, 2500, host);

    AudioClip take;
    {
        SoundRecorder recorder(NullAudio());
        Ref<ClipWriter> writer = CreateTakeWriter(*document, &take);
        ASSERT_TRUE(StartTake(recorder, writer, RecorderSettings{}));
        for (int i = 0; i < 30; ++i) {
            NullAudio().Advance(4410);
            ASSERT_GT(WaitAndPumpNotifications(10000), 0);
        }
        recorder.StopRecording();
        EXPECT_EQ(writer->RefCount(), 1);  // the recorder has let go
        ASSERT_TRUE(writer->Close());
    }
    NullAudio().ResetForTesting();
    // Buffer 10 holds the tone from its first frame: the second half of
    // buffer 9 leads in; buffer 19 is the last loud one.
    ASSERT_EQ(take.Length(), 2205 + 10 * 4410 + 2205);
    const Samples recorded = ReadAll(take);
    EXPECT_EQ(recorded[100], 0);
    EXPECT_NE(recorded[2205 + 100], 0);

    ASSERT_TRUE(InsertTake(*document, take, host));
    EXPECT_EQ(host.stops, 1);
    EXPECT_TRUE(document->modified);
    EXPECT_EQ(document->selectionStart, 2000);
    EXPECT_EQ(document->selectionEnd, 2000 + take.Length());
    EXPECT_EQ(document->cursor, 2000);
    EXPECT_EQ(document->undo.SlotName(document->undo.Index()), "Record");

    Samples model(original.begin(), original.begin() + 2000);
    model.insert(model.end(), recorded.begin(), recorded.end());
    model.insert(model.end(), original.begin() + 3000, original.end());
    EXPECT_EQ(ReadAll(document->clip), model);

    ASSERT_TRUE(UndoEdit(*document, host));
    EXPECT_EQ(ReadAll(document->clip), original);
    EXPECT_EQ(document->selectionStart, 2000);
    EXPECT_EQ(document->selectionEnd, 3000);
    EXPECT_FALSE(document->modified);
}

// Without a selection the take goes in at the selection start; an empty
// take, or one of another format, changes nothing and leaves no undo step.
TEST(RecordTakeTest, InsertsAtTheSelectionStartAndRefusesUnfitTakes) {
    CountingHost host;
    SoundDocument document(8000, 1);
    const Samples original = Ramp(1000);
    document.clip = Written(original, 8000, 1);
    SetSelection(document, 400, 400, 400, host);

    const Samples piece = {16, 32, 48};
    ASSERT_TRUE(InsertTake(document, Written(piece, 8000, 1), host));
    Samples model(original.begin(), original.begin() + 400);
    model.insert(model.end(), piece.begin(), piece.end());
    model.insert(model.end(), original.begin() + 400, original.end());
    EXPECT_EQ(ReadAll(document.clip), model);
    EXPECT_EQ(document.selectionEnd, 403);

    document.undo.Clear();
    const std::vector<ClipSegment> before = document.clip.Segments();
    EXPECT_FALSE(InsertTake(document, AudioClip(8000, 1), host));
    EXPECT_FALSE(InsertTake(document, Written(piece, 11025, 1), host));
    EXPECT_FALSE(InsertTake(document, Written({16, 16, 32, 32}, 8000, 2), host));
    EXPECT_EQ(document.clip.Segments(), before);
    EXPECT_FALSE(document.undo.CanUndo());
}

}  // namespace
}  // namespace sonitor
