// Amplify, normalize, the envelope engine and cross fade, and what every
// effect of the family shares: the catalogue entries, the limits, selection
// boundaries and cancel.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "effects/EffectCatalogue.h"
#include "effects/PointRecord.h"
#include "foundation/FileUtil.h"
#include "foundation/Numbers.h"
#include "support/ClipSamples.h"
#include "support/ScriptedTaskHost.h"

namespace sonitor {
namespace {

std::vector<int32_t> Noise(int32_t frames, int channels, int32_t amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> s(static_cast<size_t>(frames) * channels);
    for (int32_t& v : s)
        v = static_cast<int32_t>(rng() % (2 * static_cast<uint32_t>(amplitude) + 1)) - amplitude;
    return s;
}

struct Outcome {
    int32_t result;
    int32_t end;  // the range end the effect left
    std::vector<std::string> errors;
};

Outcome RunEffect(const char* id, AudioClip& clip, int32_t start, int32_t end,
                  const EffectValues& values = {}, int cancelAfterPumps = -1) {
    const EffectDefinition* effect = FindEffect(id);
    EXPECT_NE(effect, nullptr) << id;
    if (!effect) return {kTaskFailed, end, {}};
    EffectValues all = DefaultEffectValues(*effect);
    for (const auto& [key, value] : values)
        all[key] = value;
    EffectRange range{clip, start, end};
    test::ScriptedTaskHost host;
    host.cancelAfterPumps = cancelAfterPumps;
    FunctionTask task(effect->name, [&](ProgressTask& t) { return effect->run(t, range, all); });
    const int32_t result = RunTask(task, host);
    return {result, range.end, host.errors};
}

const char* const kFamily[] = {"amplify",    "normalize",         "fade-in",
                               "fade-out",   "fade-out-and-trim", "envelope",
                               "cross-fade", "compressor",        "dc-offset-correction",
                               "stereo-pan", "reduce-vocals",     "automatic-gain-control"};

TEST(AmplitudeFamilyTest, CatalogueEntriesAndLimits) {
    for (const char* id : kFamily)
        EXPECT_NE(FindEffect(id), nullptr) << id;
    EXPECT_EQ(FindEffect("cross-fade")->section, "CrossFade");
    EXPECT_EQ(FindEffect("cross-fade")->leadInDivisor, 1);
    EXPECT_TRUE(FindEffect("reduce-vocals")->stereoOnly && FindEffect("stereo-pan")->stereoOnly);

    // Each check at its limits: the values accepted, then the ones refused.
    struct Limit {
        const char* id;
        const char* key;
        std::vector<const char*> accepted, refused;
        const char* message;  // null: a message of our own
    };
    const Limit limits[] = {
        {"amplify",
         "AmplifyGain",
         {"400", "-50"},
         {"401"},
         "Amplify Gain must be less than 400%. Please try again."},
        {"normalize",
         "NormalizePeakLevel",
         {"100"},
         {"101"},
         "Normailze Peak Level must be less than 100%. Please try again."},
        {"compressor", "CompressorRatio", {"0", "6"}, {"-1", "7"}, nullptr},
        {"stereo-pan", "StereoPan", {"0", "100"}, {"-1", "101"}, nullptr},
    };
    for (const Limit& l : limits) {
        const EffectDefinition* effect = FindEffect(l.id);
        for (const char* v : l.accepted)
            EXPECT_FALSE(effect->validate({{l.key, v}})) << l.id << " " << v;
        for (const char* v : l.refused) {
            const std::optional<InvalidValue> refusal = effect->validate({{l.key, v}});
            ASSERT_TRUE(refusal) << l.id << " " << v;
            EXPECT_EQ(refusal->title, "Invalid value");
            if (l.message) {
                EXPECT_EQ(refusal->text, l.message);
            }
        }
    }
}

// Each effect changes only its selection (cross fade and the trim change
// the clip's shape by design and are checked on their own), and cancelling
// at the first or a later block leaves the clip as it was.
TEST(AmplitudeFamilyTest, OnlyTheSelectionChangesAndCancelChangesNothing) {
    const std::vector<int32_t> input = Noise(40000, 2, 300000, 1);
    const int32_t start = 9000, end = 31000;
    ASSERT_TRUE(SaveCurveFile(EnvelopeFilePath(), {{0, 128}, {255, 40}}));
    for (const char* id : kFamily) {
        SCOPED_TRACE(id);
        const std::string name = id;
        AudioClip clip = test::ClipFromSamples(input, 2);
        if (name != "cross-fade" && name != "fade-out-and-trim") {
            ASSERT_EQ(RunEffect(id, clip, start, end, {{"AmplifyGain", "50"}, {"StereoPan", "20"}}).result,
                      kTaskDone);
            const std::vector<int32_t> out = test::ClipSamples(clip);
            ASSERT_EQ(out.size(), input.size());
            EXPECT_TRUE(std::equal(input.begin(), input.begin() + 2 * start, out.begin()));
            EXPECT_TRUE(std::equal(input.begin() + 2 * end, input.end(), out.begin() + 2 * end));
            EXPECT_NE(std::vector<int32_t>(out.begin() + 2 * start, out.begin() + 2 * end),
                      std::vector<int32_t>(input.begin() + 2 * start, input.begin() + 2 * end));
        }
        if (name == "amplify") continue;  // no task: gains only
        bool cancelled = false;
        for (int after : {1, 4}) {
            AudioClip fresh = test::ClipFromSamples(input, 2);
            if (RunEffect(id, fresh, 0, 40000, {}, after).result == kTaskCancelled) {
                cancelled = true;
                EXPECT_EQ(test::ClipSamples(fresh), input) << after;
            }
        }
        EXPECT_TRUE(cancelled);
    }
}

TEST(AmplifyTest, ScalesPieceGainsAndSaturates) {
    AudioClip clip = test::ClipFromSamples(Noise(3000, 1, 1000, 2), 1);
    const auto amplify = [&](int32_t from, int32_t to, const char* percent) {
        ASSERT_EQ(RunEffect("amplify", clip, from, to, {{"AmplifyGain", percent}}).result, kTaskDone);
    };
    amplify(0, 3000, "200");
    EXPECT_EQ(clip.Segments()[0].gain, 33554400);  // (16777216 / 100) * 200, not 2^25
    // Only the selection's pieces; exact to 1/100 of the gain until it
    // would pass 2^31 - 1, where it saturates.
    for (const char* percent : {"400", "400", "400"})
        amplify(1000, 2000, percent);
    EXPECT_EQ(clip.Segments()[1].gain, 2147481600);
    amplify(1000, 2000, "200");
    ASSERT_EQ(clip.Segments().size(), 3u);
    EXPECT_EQ(clip.Segments()[0].gain, 33554400);
    EXPECT_EQ(clip.Segments()[1].gain, INT32_MAX);
    EXPECT_EQ(clip.Segments()[2].gain, 33554400);
    // A saturated piece still comes down when made quieter.
    amplify(1000, 2000, "50");
    EXPECT_EQ(clip.Segments()[1].gain, INT32_MAX / 100 * 50);
}

TEST(NormalizeTest, PercentFromThePeakCappedAt400) {
    struct Case {
        int32_t peak;
        const char* level;
        int32_t gain;
    };
    // 524272 * 100 / 262136 = 200 %; a peak of 100 asks for far more than
    // the cap; 75 % of 400000 is trunc(98.3) = 98 %.
    const Case cases[] = {{262136, "100", 33554400}, {100, "100", 67108800}, {-400000, "75", 16441656}};
    for (const Case& k : cases) {
        std::vector<int32_t> s(5000, 10);
        s[1234] = k.peak;
        AudioClip clip = test::ClipFromSamples(s, 1);
        ASSERT_EQ(RunEffect("normalize", clip, 0, 5000, {{"NormalizePeakLevel", k.level}}).result, kTaskDone);
        ASSERT_EQ(clip.Segments().size(), 1u);
        EXPECT_EQ(clip.Segments()[0].gain, k.gain) << k.peak;
    }
    AudioClip silent = test::ClipFromSamples(std::vector<int32_t>(5000, 0), 1);
    ASSERT_EQ(RunEffect("normalize", silent, 0, 5000).result, kTaskDone);
    EXPECT_EQ(silent.Segments()[0].gain, kUnityGain);
}

TEST(EnvelopeTest, FadeInOverFiveHundredTenFrames) {
    const std::vector<int32_t> input = Noise(510, 2, 500000, 3);
    AudioClip clip = test::ClipFromSamples(input, 2);
    ASSERT_EQ(RunEffect("fade-in", clip, 0, 510).result, kTaskDone);
    const std::vector<int32_t> out = test::ClipSamples(clip);
    // Points at frames 0 and 510; one slope 2^24 / 510 for the whole block,
    // the same gain for both channels of a frame.
    for (int32_t f = 0; f < 510; ++f)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(out[size_t(f) * 2 + size_t(c)],
                      MulQ24(input[size_t(f) * 2 + size_t(c)], f * (16777216 / 510)));
    EXPECT_EQ(out[0], 0);
}

// The piecewise-linear gain through the points, in double.
double CurveGain(const std::vector<CurvePoint>& points, double frame, int64_t length) {
    std::vector<double> at;
    for (const CurvePoint& p : points)
        at.push_back(double((length % 255) * p.position / 255 + length / 255 * p.position));
    // The first point's level holds from the start; later points are joined
    // by straight lines.
    double from = 0, level = points[0].level;
    for (size_t k = 1; k < points.size(); ++k) {
        if (at[k] <= from) continue;
        if (frame < at[k])
            return (level + (points[k].level - level) * (frame - from) / (at[k] - from)) / 128.0;
        from = at[k];
        level = points[k].level;
    }
    return level / 128.0;
}

TEST(EnvelopeTest, DrawnEnvelopeFollowsItsPointsAcrossBlocks) {
    const std::string path = EnvelopeFilePath();
    // A dip, two points at one position (the engine never jumps: the second
    // is passed over), a rise to almost double.
    const std::vector<CurvePoint> points = {{0, 128},  {60, 20},   {120, 200},
                                            {120, 90}, {200, 255}, {255, 128}};
    ASSERT_TRUE(SaveCurveFile(path, points));
    const int32_t frames = 50000;
    const std::vector<int32_t> input = Noise(frames, 1, 400000, 4);
    AudioClip clip = test::ClipFromSamples(input, 1);
    ASSERT_EQ(RunEffect("envelope", clip, 0, frames).result, kTaskDone);
    const std::vector<int32_t> out = test::ClipSamples(clip);
    for (int32_t f = 0; f < frames; ++f) {
        // The integer slopes fall short of the true ones by less than a Q24
        // step per frame and are redone every block, so the gain is never
        // more than two blocks' worth of steps off.
        const double expected = input[size_t(f)] * CurveGain(points, f, frames);
        ASSERT_NEAR(out[size_t(f)], expected, std::abs(input[size_t(f)]) * 16384.0 / 16777216.0 + 2.0) << f;
    }

    // An empty record becomes the flat envelope, written back, and leaves
    // the audio bit for bit.
    ASSERT_TRUE(WriteFileAtomically(path, std::string(1, '\0')));
    clip = test::ClipFromSamples(input, 1);
    ASSERT_EQ(RunEffect("envelope", clip, 0, frames).result, kTaskDone);
    EXPECT_EQ(test::ClipSamples(clip), input);
    EXPECT_EQ(ReadWholeFile(path).value_or(""), std::string("\x02\x00\x80\xff\x80", 5));
}

TEST(EnvelopeTest, FadeOutAndTrimEndsTheClipAtTheSelection) {
    const std::vector<int32_t> input = Noise(20000, 1, 300000, 5);
    AudioClip clip = test::ClipFromSamples(input, 1);
    ASSERT_EQ(RunEffect("fade-out-and-trim", clip, 5000, 15000).result, kTaskDone);
    ASSERT_EQ(clip.Length(), 15000);
    const std::vector<int32_t> out = test::ClipSamples(clip);
    EXPECT_TRUE(std::equal(input.begin(), input.begin() + 5000, out.begin()));
    EXPECT_EQ(out[5000], input[5000]);
    EXPECT_LT(std::abs(out[14999]), 300000 / 1000);
}

TEST(CrossFadeTest, JoinsAroundTheGapAndRemovesTheSelection) {
    const int32_t rate = 1000, frames = 5000;
    const std::vector<int32_t> input = Noise(frames, 2, 400000, 6);
    // 300 ms each at 1000 Hz: d = 0, N = 300; B is read from e - 300.
    AudioClip clip = test::ClipFromSamples(input, 2, rate);
    const int32_t s = 1000, e = 3000;
    Outcome done = RunEffect("cross-fade", clip, s, e);
    ASSERT_EQ(done.result, kTaskDone);
    EXPECT_EQ(done.end, s + 300);
    ASSERT_EQ(clip.Length(), frames - (e - s) + 300);
    std::vector<int32_t> out = test::ClipSamples(clip);
    for (int32_t f = 0; f < clip.Length(); ++f) {
        for (int c = 0; c < 2; ++c) {
            const auto at = [&](int32_t frame) { return input[size_t(frame) * 2 + size_t(c)]; };
            int32_t expected;
            if (f < s) {
                expected = at(f);
            } else if (f < s + 300) {
                const int32_t n = f - s;
                const int32_t ga = n == 0 ? 16777216 : int32_t((300.0 - n) / 300.0 * 16777216.0);
                const int32_t gb = n == 0 ? 0 : int32_t(n / 300.0 * 16777216.0);
                expected = MulQ24(at(e - 300 + n), gb) + MulQ24(at(s + n), ga);
            } else {
                expected = at(f - s - 300 + e);
            }
            ASSERT_EQ(out[size_t(f) * 2 + size_t(c)], expected) << f;
        }
    }

    // A fade-in longer than the gap near the file start: the joined part can
    // only begin at frame 0 (d = 100 instead of 200), and the fade-in is
    // under way there.
    clip = test::ClipFromSamples(input, 2, rate);
    done = RunEffect("cross-fade", clip, 100, 2000, {{"FadeInTimeMS", "500"}});
    ASSERT_EQ(done.result, kTaskDone);
    EXPECT_EQ(done.end, 400);  // N = max(100 + 300, 100 + 300)
    ASSERT_EQ(clip.Length(), frames - 2000 + 400);
    out = test::ClipSamples(clip);
    EXPECT_EQ(out[0], MulQ24(input[size_t(2000 - 400) * 2], int32_t(100 / 500.0 * 16777216.0)) + input[0]);
    EXPECT_EQ(out[2 * 400], input[2 * 2000]);

    // No gap and no fades: the selection is simply deleted.
    clip = test::ClipFromSamples(input, 2, rate);
    done = RunEffect("cross-fade", clip, s, e,
                     {{"GapTimeMS", "0"}, {"FadeInTimeMS", "0"}, {"FadeOutTimeMS", "0"}});
    ASSERT_EQ(done.result, kTaskDone);
    EXPECT_EQ(done.end, s);
    AudioClip deleted = test::ClipFromSamples(input, 2, rate);
    ClipDeleteRange(deleted, s, e);
    EXPECT_EQ(test::ClipSamples(clip), test::ClipSamples(deleted));

    // Times past what a clip can hold are refused before anything is written.
    clip = test::ClipFromSamples(input, 2, rate);
    done = RunEffect("cross-fade", clip, s, e, {{"GapTimeMS", "2147483647"}});
    EXPECT_EQ(done.result, kTaskFailed);
    EXPECT_EQ(done.errors.size(), 1u);
    EXPECT_EQ(test::ClipSamples(clip), input);
}

}  // namespace
}  // namespace sonitor
