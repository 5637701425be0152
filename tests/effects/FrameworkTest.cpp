#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "effects/AudioEffect.h"
#include "effects/Decibels.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectCommand.h"
#include "effects/PointRecord.h"
#include "effects/Processor.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

// Adds a running count to every sample, so that block boundaries, seeks and
// misplaced frames all show in the output.
class CountingProcessor final : public InPlaceProcessor {
public:
    explicit CountingProcessor(Ref<AudioSource> upstream) : InPlaceProcessor(std::move(upstream)) {}

private:
    void Reset() override { count_ = 0; }
    void Process(int32_t* samples, int32_t frames) override {
        for (int64_t i = 0; i < int64_t{frames} * Channels(); ++i)
            samples[i] += count_++;
    }
    int32_t count_ = 0;
};

AudioClip MakeClip(int32_t frames, int channels, std::vector<int32_t>& samples) {
    samples.resize(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int32_t>((i * 7919) % 20000) * 16 - 160000;
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, channels);
    writer->Write(samples.data(), frames);
    EXPECT_TRUE(writer->Close());
    return clip;
}

std::vector<int32_t> ReadAll(const AudioClip& clip) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    std::vector<int32_t> out(static_cast<size_t>(clip.Length()) * clip.Channels());
    ReadInPieces(*reader, out.data(), clip.Length());
    return out;
}

int32_t Apply(test::ScriptedTaskHost& host, AudioClip& clip, int32_t start, int32_t end) {
    FunctionEffect effect("Counting", [](Ref<AudioSource> s) -> Ref<AudioSource> {
        return MakeRef<CountingProcessor>(std::move(s));
    });
    FunctionTask task("Apply", [&](ProgressTask& t) { return ApplyEffect(t, clip, start, end, effect); });
    return RunTask(task, host);
}

TEST(EffectFrameworkTest, ApplyChangesOnlyTheRangeAndKeepsItsLength) {
    std::vector<int32_t> original;
    AudioClip clip = MakeClip(20000, 2, original);
    test::ScriptedTaskHost host;
    ASSERT_EQ(Apply(host, clip, 5000, 17000), kTaskDone);
    ASSERT_EQ(clip.Length(), 20000);
    const std::vector<int32_t> out = ReadAll(clip);
    for (size_t i = 0; i < out.size(); ++i) {
        const size_t frame = i / 2;
        const int32_t expected =
            frame >= 5000 && frame < 17000 ? original[i] + static_cast<int32_t>(i - 10000) : original[i];
        ASSERT_EQ(out[i], expected) << i;
    }

    // An empty or inverted range changes nothing at all.
    const std::vector<int32_t> before = ReadAll(clip);
    EXPECT_EQ(Apply(host, clip, 300, 300), kTaskDone);
    EXPECT_EQ(Apply(host, clip, 400, 300), kTaskDone);
    EXPECT_EQ(ReadAll(clip), before);

    // Cancelling half-way leaves the clip as it was.
    host.cancelAfterPumps = host.pumps + 1;
    EXPECT_EQ(Apply(host, clip, 0, 20000), kTaskCancelled);
    EXPECT_EQ(ReadAll(clip), before);
}

struct CommandHost final : DocumentHost {
    test::ScriptedPrompt prompt;
    std::vector<int32_t> playedFrom;
    UserPrompt& Prompt() override { return prompt; }
    void StartPlayback(SoundDocument&, int32_t position) override { playedFrom.push_back(position); }
};

TEST(EffectFrameworkTest, CommandFlow) {
    const std::string folder = test::MakeTempFolder("fx");
    SettingsStore settings({folder + "/user.ini", folder + "/machine.ini"});
    CommandHost host;
    test::ScriptedTaskHost tasks;
    EditContext ctx{host, tasks, settings};
    Ref<SoundDocument> document = MakeRef<SoundDocument>();
    std::vector<int32_t> original;
    document->clip = MakeClip(44100, 1, original);

    EffectDefinition effect;
    effect.id = "counting";
    effect.name = "Counting";
    effect.stereoOnly = true;
    effect.validate = [](const EffectValues& v) -> std::optional<InvalidValue> {
        if (IntValue(v, "Level") > 10) return InvalidEffectValue("Level must be at most 10.");
        return std::nullopt;
    };
    effect.run = [](ProgressTask& t, EffectRange& r, const EffectValues&) {
        FunctionEffect counting("Counting", [](Ref<AudioSource> s) -> Ref<AudioSource> {
            return MakeRef<CountingProcessor>(std::move(s));
        });
        return ApplyEffect(t, r.clip, r.start, r.end, counting);
    };

    // Mono refused for a stereo-only effect: the message, no undo point.
    EXPECT_EQ(ApplyEffectCommand(*document, effect, {}, ctx), kTaskFailed);
    ASSERT_EQ(host.prompt.History().size(), 1u);
    EXPECT_EQ(host.prompt.History()[0].title, kStereoOnlyTitle);
    EXPECT_FALSE(document->undo.CanUndo());

    // Invalid values: the message under "Invalid value".
    effect.stereoOnly = false;
    EXPECT_EQ(ApplyEffectCommand(*document, effect, {{"Level", "11"}}, ctx), kTaskFailed);
    EXPECT_EQ(host.prompt.History().back().title, "Invalid value");
    EXPECT_EQ(host.prompt.History().back().text, "Level must be at most 10.");

    // A selection 0.2 s in: applied there, undo named after the effect,
    // playback from max(0, start - 0.5 s).
    SetSelection(*document, 8820, 20000, 8820, host);
    ASSERT_EQ(ApplyEffectCommand(*document, effect, {{"Level", "10"}}, ctx), kTaskDone);
    EXPECT_EQ(document->undo.UndoMenuText(), "Undo Counting\tCtrl+Z");
    ASSERT_EQ(host.playedFrom.size(), 1u);
    EXPECT_EQ(host.playedFrom[0], 0);
    const std::vector<int32_t> out = ReadAll(document->clip);
    EXPECT_EQ(out[8819], original[8819]);
    EXPECT_EQ(out[8820], original[8820]);  // the count starts at 0
    EXPECT_EQ(out[8821], original[8821] + 1);
    EXPECT_EQ(out[20000], original[20000]);
}

// A conversion of the whole clip keeps the selection at the same times:
// both ends move, not only the end.
TEST(EffectFrameworkTest, CommandTakesTheRangeBackFromTheWork) {
    const std::string folder = test::MakeTempFolder("fx");
    SettingsStore settings({folder + "/user.ini", folder + "/machine.ini"});
    CommandHost host;
    test::ScriptedTaskHost tasks;
    EditContext ctx{host, tasks, settings};
    Ref<SoundDocument> document = MakeRef<SoundDocument>();
    std::vector<int32_t> original;
    document->clip = MakeClip(88200, 1, original);
    SetSelection(*document, 44100, 66150, 44100, host);
    const EffectDefinition* convert = FindEffect("convert-sample-rate");
    ASSERT_NE(convert, nullptr);
    ASSERT_EQ(ApplyEffectCommand(*document, *convert, {{"SampleRate", "22050"}}, ctx), kTaskDone);
    EXPECT_EQ(document->clip.SampleRate(), 22050u);
    EXPECT_EQ(document->selectionStart, 22050);
    EXPECT_EQ(document->selectionEnd, 33075);
}

TEST(EffectFrameworkTest, ValuesAndDecibels) {
    const EffectValues values{
        {"A", "-42xyz"}, {"B", "99999999999"}, {"Mod", "0.5"}, {"Deg", "-1.25"}, {"E", ""}};
    EXPECT_EQ(IntValue(values, "A"), -42);
    EXPECT_EQ(IntValue(values, "B"), INT32_MAX);
    EXPECT_EQ(IntValue(values, "E"), 0);
    EXPECT_EQ(IntValue(values, "missing"), 0);
    EXPECT_DOUBLE_EQ(DecimalValue(values, "Mod"), 0.5);
    EXPECT_DOUBLE_EQ(DecimalValue(values, "Deg"), -1.25);

    EXPECT_EQ(AmplitudeGain(0), 16777216);
    EXPECT_EQ(AmplitudeGain(-127), 0);
    EXPECT_EQ(AmplitudeGain(-6), 8408526);  // 10^(-0.3) * 2^24, rounded
    EXPECT_EQ(AmplitudeGain(127), 2147483647);
    EXPECT_EQ(PowerGain(3), 33474947);
    EXPECT_EQ(DecibelFromGain(0), -127);
    EXPECT_EQ(DecibelFromGain(16777216), 0);
    EXPECT_EQ(DecibelFromGain(8408526), -6);
    EXPECT_EQ(DecibelFromGain(int64_t{1} << 40), 96);
}

TEST(EffectFrameworkTest, CurveFilesLoadByTheRules) {
    const std::string folder = test::MakeTempFolder("curve");
    const std::string path = folder + "/envelope.dat";
    // Missing and empty files become the flat curve, written back.
    EXPECT_EQ(LoadCurveFile(path), FlatCurve());
    EXPECT_EQ(ReadWholeFile(path).value_or(""), std::string("\x02\x00\x80\xff\x80", 5));

    // Positions forced non-decreasing; a count beyond the bytes present
    // takes the whole points that are there.
    ASSERT_TRUE(WriteFileAtomically(path, std::string("\x09\x10\x01\x05\x02\xff\x03\x20", 8)));
    const std::vector<CurvePoint> points = LoadCurveFile(path);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[1], (CurvePoint{0x10, 2}));
    EXPECT_EQ(points[2], (CurvePoint{0xff, 3}));

    // More than 64 points are cut to 64.
    std::string many(1 + 2 * 100, '\x01');
    many[0] = static_cast<char>(100);
    ASSERT_TRUE(WriteFileAtomically(path, many));
    EXPECT_EQ(LoadCurveFile(path).size(), kMaxCurvePoints);
}

}  // namespace
}  // namespace sonitor
