// The time stretcher against the input itself (100 %) and against measured
// tone frequency, level and length; the speed, pitch and conversion entries
// of the catalogue on clips; their checks and refusals.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "effects/EffectCatalogue.h"
#include "effects/TimeStretch.h"
#include "foundation/ConvertStream.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"
#include "support/SourceReading.h"

namespace sonitor {
namespace {

using Samples = std::vector<int32_t>;

Samples Tone(int32_t rate, int channels, int32_t frames, double hz) {
    test::ToneSource tone(rate, channels, frames, hz);
    return test::ReadFrames(tone, frames);
}

// From the interpolated rising zero crossings of one channel over the middle
// half of the samples (away from both ends' transients).
double Frequency(const Samples& s, int channels, int32_t rate, int channel = 0) {
    const size_t frames = s.size() / static_cast<size_t>(channels);
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t f = frames / 4; f + 1 < frames * 3 / 4; ++f) {
        const double a = s[f * channels + channel], b = s[(f + 1) * channels + channel];
        if (a < 0 && b >= 0) {
            const double t = static_cast<double>(f) + a / (a - b);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * rate / (last - first);
}

// RMS of one channel's middle half in decibels of 16-bit full scale.
double LevelDb(const Samples& s, int channels = 1, int channel = 0) {
    double sum = 0;
    const size_t frames = s.size() / static_cast<size_t>(channels), from = frames / 4, to = frames * 3 / 4;
    for (size_t f = from; f < to; ++f) {
        const double v = s[f * channels + channel];
        sum += v * v;
    }
    return 10 * std::log10(sum / static_cast<double>(to - from)) - 20 * std::log10(kFullScale16);
}

AudioClip MakeClip(const Samples& x, int32_t rate, int channels) {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, rate, channels);
    writer->Write(x.data(), static_cast<int32_t>(x.size() / static_cast<size_t>(channels)));
    EXPECT_TRUE(writer->Close());
    return clip;
}

Samples ReadClip(const AudioClip& clip) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    return test::ReadFrames(*reader, clip.Length());
}

int32_t RunEffect(const char* id, EffectRange& range, const std::string& value,
                  test::ScriptedTaskHost& host) {
    const EffectDefinition* effect = FindEffect(id);
    EffectValues values = DefaultEffectValues(*effect);
    values[effect->parameters.at(0).key] = value;
    FunctionTask task(effect->name, [&](ProgressTask& t) { return effect->run(t, range, values); });
    return RunTask(task, host);
}

TEST(TimeStretchTest, AtOneHundredPercentTheInputComesBack) {
    std::mt19937 rng(3);
    for (const int channels : {1, 2, 3}) {
        for (const int32_t rate : {8000, 44100}) {
            Samples x(static_cast<size_t>(channels) * 20011);
            for (int32_t& v : x)
                v = static_cast<int32_t>(rng() % 1048545) - 524272;
            Ref<AudioSource> s = StretchStream(MakeRef<test::VectorSource>(x, rate, channels), 1.0);
            ASSERT_TRUE(s->Ok());
            ASSERT_EQ(s->Length(), 20011);
            EXPECT_EQ(s->FullScale(), 2 * kFullScale16);
            const Samples y = test::ReadFrames(*s, 20011);
            int32_t worst = 0;
            for (size_t i = 0; i < x.size(); ++i)
                worst = std::max(worst, std::abs(y[i] - x[i]));
            EXPECT_LE(worst, 1) << channels << " channels at " << rate;  // rounding only: no delay, no gain
            s->Seek(12345);
            EXPECT_EQ(s->Position(), 12345);
            const Samples z = test::ReadFrames(*s, 100);
            for (size_t i = 0; i < z.size(); ++i)
                ASSERT_LE(std::abs(z[i] - x[12345 * channels + i]), 1);
        }
    }
}

TEST(TimeStretchTest, TonesKeepFrequencyAndLevelAtEveryFactor) {
    // 1000 Hz on the left, 1500 Hz 6 dB lower on the right: the two
    // channels share a transform and must not leak into each other.
    const int32_t frames = 88200;
    const Samples left = Tone(44100, 1, frames, 1000), right = Tone(44100, 1, frames, 1500);
    Samples x(2 * static_cast<size_t>(frames));
    for (size_t f = 0; f < left.size(); ++f) {
        x[2 * f] = left[f];
        x[2 * f + 1] = right[f] / 2;
    }
    const double hz[] = {1000, 1500};
    for (const double factor : {0.5, 0.8, 2.0, 3.0, 8.0}) {
        Ref<AudioSource> s = StretchStream(MakeRef<test::VectorSource>(x, 44100, 2), factor);
        ASSERT_EQ(s->Length(), static_cast<int32_t>(std::ceil(frames / factor))) << factor;
        const Samples y = test::ReadFrames(*s, s->Length());
        for (const int c : {0, 1}) {
            EXPECT_NEAR(Frequency(y, 2, 44100, c), hz[c], hz[c] * 0.005) << factor;
            EXPECT_NEAR(LevelDb(y, 2, c), LevelDb(x, 2, c), 1) << factor;
        }
        // A seek clears what reading left behind: the same frames as a
        // fresh stretcher seeked there.
        Ref<AudioSource> fresh = StretchStream(MakeRef<test::VectorSource>(x, 44100, 2), factor);
        s->Seek(5000);
        fresh->Seek(5000);
        EXPECT_EQ(test::ReadFrames(*s, 3000), test::ReadFrames(*fresh, 3000)) << factor;
    }
}

TEST(TimeStretchTest, FactorsOutsideTheRangeGiveAnUnusableSource) {
    for (const double factor : {0.0, -1.0, 8.01, std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity()}) {
        Ref<AudioSource> s = StretchStream(MakeRef<test::VectorSource>(Samples(2000), 44100, 2), factor);
        EXPECT_EQ(s->Status(), kSourceUnusable) << factor;
        EXPECT_EQ(s->Length(), 0);
        EXPECT_EQ(s->Channels(), 2);
    }
    EXPECT_EQ(StretchFftSize(44100), 2048);
    EXPECT_EQ(StretchFftSize(8000), 256);
    EXPECT_EQ(StretchFftSize(100), 8);
}

TEST(SpeedPitchTest, EachCommandChangesSpeedOrPitchByItsFactor) {
    const int32_t rate = 44100;
    const Samples x = Tone(rate, 2, 3 * rate, 1000);
    const int32_t start = rate / 2, end = rate / 2 + 2 * rate;
    const struct {
        const char* id;
        const char* percent;
        int32_t length;  // of the changed selection
        double hz;
    } cases[] = {
        {"speed-and-pitch", "200", rate, 2000}, {"speed-and-pitch", "50", 4 * rate, 500},
        {"speed", "200", rate, 1000},           {"speed", "75", 117600, 1000},
        {"pitch", "150", 2 * rate, 1500},       {"pitch", "13", 2 * rate, 130},
        {"pitch", "300", 2 * rate, 3000},
    };
    for (const auto& c : cases) {
        AudioClip clip = MakeClip(x, rate, 2);
        EffectRange range{clip, start, end};
        test::ScriptedTaskHost host;
        ASSERT_EQ(RunEffect(c.id, range, c.percent, host), kTaskDone) << c.id << c.percent;
        EXPECT_EQ(host.texts.front(), std::make_pair(0, std::string("Speed and Pitch Change")));
        EXPECT_EQ(range.end - range.start, c.length) << c.id << c.percent;
        ASSERT_EQ(clip.Length(), 3 * rate - (end - start) + c.length);
        const Samples y = ReadClip(clip);
        const size_t a = static_cast<size_t>(start) * 2, b = static_cast<size_t>(range.end) * 2;
        EXPECT_TRUE(std::equal(y.begin(), y.begin() + a, x.begin()));
        EXPECT_TRUE(std::equal(y.begin() + b, y.end(), x.begin() + end * 2));
        const Samples part(y.begin() + a, y.begin() + b);
        EXPECT_NEAR(Frequency(part, 2, rate), c.hz, c.hz * 0.005) << c.id << c.percent;
        EXPECT_NEAR(LevelDb(part, 2), LevelDb(x, 2), 1) << c.id << c.percent;
    }
}

TEST(SpeedPitchTest, ChecksRefusalsAndCancel) {
    const std::string tooFast = "Invalid value: Speed Change Percent must be less than 300.";
    const struct {
        const char* id;
        const char* percent;
        std::string message;
    } cases[] = {
        {"speed-and-pitch", "300", ""},
        {"speed-and-pitch", "301", tooFast},
        {"speed", "1", ""},
        {"speed", "0", "Invalid value: Speed Change Percent must be more than 0."},
        {"speed-and-pitch", "-5", "Invalid value: Speed Change Percent must be more than 0."},
        {"pitch", "13", ""},
        {"pitch", "12", "Invalid value: Pitch Change Percent must be at least 13."},
        {"pitch", "301", tooFast},
        {"convert-sample-rate", "6000", ""},
        {"convert-sample-rate", "196001",
         "Invalid value: Sample rates must be between 6000 and 196000 samples per second."},
        {"convert-channels", "3", "Invalid value: Channels must be 1 (mono) or 2 (stereo)."},
    };
    for (const auto& c : cases) {
        const EffectDefinition* effect = FindEffect(c.id);
        ASSERT_NE(effect, nullptr) << c.id;
        EffectValues values = DefaultEffectValues(*effect);
        EXPECT_FALSE(effect->validate(values)) << c.id;
        values[effect->parameters.at(0).key] = c.percent;
        const std::optional<InvalidValue> invalid = effect->validate(values);
        EXPECT_EQ(invalid ? invalid->title + ": " + invalid->text : "", c.message) << c.id << c.percent;
    }

    // A slowed-down selection that would pass 2^31 frames is refused before
    // any work; after that refusal and after a cancel the clip is as it was.
    AudioClip huge(44100, 1);
    ASSERT_TRUE(ClipInsertSilence(huge, 1 << 30, 0));
    const std::vector<ClipSegment> before = huge.Segments();
    EffectRange whole{huge, 0, 1 << 30};
    test::ScriptedTaskHost host;
    EXPECT_EQ(RunEffect("speed-and-pitch", whole, "50", host), kTaskFailed);
    EXPECT_EQ(RunEffect("pitch", whole, "13", host), kTaskFailed);  // its varispeed part would overflow
    EXPECT_EQ(host.errors.size(), 2u);
    EXPECT_EQ(huge.Segments(), before);

    AudioClip clip = MakeClip(Tone(44100, 1, 50000, 440), 44100, 1);
    const std::vector<ClipSegment> kept = clip.Segments();
    EffectRange range{clip, 0, 50000};
    test::ScriptedTaskHost cancelling;
    cancelling.cancelAfterPumps = 3;
    EXPECT_EQ(RunEffect("pitch", range, "80", cancelling), kTaskCancelled);
    EXPECT_EQ(clip.Segments(), kept);
    EXPECT_EQ(range.end, 50000);
}

TEST(SpeedPitchTest, ConversionsConvertTheWholeClipAndKeepTheTimes) {
    std::mt19937 rng(5);
    Samples x(2 * 30000);
    for (int32_t& v : x)
        v = static_cast<int32_t>(rng() % 65535) - 32767;
    {
        AudioClip clip = MakeClip(x, 44100, 2);
        EffectRange range{clip, 4410, 8820};  // 100 ms .. 200 ms
        test::ScriptedTaskHost host;
        ASSERT_EQ(RunEffect("convert-sample-rate", range, "22050", host), kTaskDone);
        EXPECT_EQ(clip.SampleRate(), 22050u);
        EXPECT_EQ(range.start, 2205);
        EXPECT_EQ(range.end, 4410);
        // The same conversion read straight from the converter, bit for bit.
        Ref<AudioSource> direct =
            ConvertStream(MakeRef<test::VectorSource>(x, 44100, 2, kFullScaleHeadroom), 22050, 2);
        ASSERT_EQ(clip.Length(), direct->Length());
        EXPECT_EQ(ReadClip(clip), test::ReadFrames(*direct, direct->Length()));
    }
    {
        AudioClip clip = MakeClip(x, 44100, 2);
        EffectRange range{clip, 100, 200};
        test::ScriptedTaskHost host;
        ASSERT_EQ(RunEffect("convert-channels", range, "1", host), kTaskDone);
        ASSERT_EQ(clip.Channels(), 1);
        const Samples mono = ReadClip(clip);
        ASSERT_EQ(mono.size(), 30000u);
        for (size_t f = 0; f < mono.size(); ++f)
            ASSERT_EQ(mono[f], x[2 * f]);  // the left channel, bit for bit
        EXPECT_EQ(range.start, 100);
        EXPECT_EQ(range.end, 200);
        ASSERT_EQ(RunEffect("convert-channels", range, "2", host), kTaskDone);
        const Samples stereo = ReadClip(clip);
        for (size_t f = 0; f < mono.size(); ++f)
            ASSERT_TRUE(stereo[2 * f] == mono[f] && stereo[2 * f + 1] == mono[f]);
    }
}

}  // namespace
}  // namespace sonitor
