// The noise gate against a one-pole model when wide open and by what it does
// to gaps; spectral subtraction by exact identity under a silent profile,
// closed-form tone magnitudes and percentiles for the profile, and measured
// noise and tone levels; the noise sample's refusals.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/EffectRunning.h"

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "effects/EffectCatalogue.h"
#include "effects/NoiseReduction.h"
#include "support/ClipSamples.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"
#include "support/SourceReading.h"

namespace sonitor {

// NoiseReduction.cpp

namespace {

std::vector<int32_t> Noise(size_t count, double sigma, std::mt19937& rng) {
    std::normal_distribution<double> normal(0.0, sigma);
    std::vector<int32_t> out(count);
    for (int32_t& s : out)
        s = static_cast<int32_t>(std::lround(normal(rng)));
    return out;
}

double MeanSquare(const std::vector<int32_t>& v, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(v[i]) * v[i];
    return sum / static_cast<double>(to - from);
}

double Db(double powerRatio) {
    return 10 * std::log10(powerRatio);
}

NoiseProfile ProfileOf(const std::vector<int32_t>& samples, int channels, int32_t rate, int percentile) {
    auto source = MakeRef<test::VectorSource>(samples, rate, channels);
    test::ScriptedTaskHost host;
    NoiseProfile profile;
    FunctionTask task("profile", [&](ProgressTask& t) {
        return BuildNoiseProfile(t, *source, 0, source->Length(), percentile, profile);
    });
    EXPECT_EQ(RunTask(task, host), kTaskDone);
    return profile;
}

}  // namespace

TEST(NoiseGateTest, WideOpenAtTheLowestLevelsItIsTheLowCutAlone) {
    // At -127 dB the amplitude is 0 and at -110 dB the threshold passes 32
    // bits: both saturate, every band stays open, and the four bands add up
    // to the 50 Hz one-pole high-pass exactly.
    std::mt19937 rng(1);
    for (int32_t rate : {44100, 8000}) {
        const int channels = 2;
        std::vector<int32_t> input = Noise(size_t(30000) * channels, 60000, rng);
        input[1001] = INT32_MAX;  // a loud sample must not wrap the bands
        for (int level : {-127, -110}) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, " << level << " dB");
            const int64_t k = static_cast<int64_t>(256.0 * (1.0 - std::exp(-314.15926535 / rate)));
            std::vector<int32_t> expected(input.size());
            for (int c = 0; c < channels; ++c) {
                int64_t s = 0;
                for (size_t i = size_t(c); i < input.size(); i += channels) {
                    const int64_t x = input[i] - (s >> 8);
                    s += k * x;
                    expected[i] = static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
                }
            }
            Ref<AudioSource> gate =
                CreateNoiseGate(MakeRef<test::VectorSource>(input, rate, channels), level);
            EXPECT_EQ(gate->Position(), 0);
            // Not up to the end: the silence after it rightly closes the gate.
            const std::vector<int32_t> out = test::ReadInRandomPieces(*gate, 25000, rng, 5000);
            EXPECT_EQ(gate->Position(), 25000);
            for (size_t i = 0; i < out.size(); ++i)
                ASSERT_EQ(out[i], expected[i]) << i;
        }
    }
}

TEST(NoiseGateTest, ShutsTheGapsAndPassesTheToneAndRestartsOnSeek) {
    const int32_t rate = 44100;
    const int32_t part = rate / 2;
    const int32_t total = 4 * part;
    std::mt19937 rng(2);
    // Tone, a second of quiet hiss (about -60 dB), tone.
    std::vector<int32_t> input = Noise(size_t(total), 500, rng);
    for (int32_t i = 0; i < total; ++i)
        if (i < part || i >= 3 * part)
            input[size_t(i)] += static_cast<int32_t>(262136 * std::sin(2 * M_PI * 1000 * i / rate));
    Ref<AudioSource> gate = CreateNoiseGate(MakeRef<test::VectorSource>(input, rate, 1), -30);
    const std::vector<int32_t> out = test::ReadInRandomPieces(*gate, total, rng, 5000);
    // Closing halves the upper bands' gains every 1/30 s block and takes a
    // quarter off the lowest band's: after half a second the gap is shut.
    const size_t gapFrom = size_t(2 * part), gapTo = size_t(3 * part - rate / 10);
    EXPECT_LT(Db(MeanSquare(out, gapFrom, gapTo) / MeanSquare(input, gapFrom, gapTo)), -40.0);
    // The tone, away from where the gate ramps.
    const size_t margin = size_t(rate) / 10;
    for (size_t from : {size_t(margin), size_t(3 * part) + margin})
        EXPECT_NEAR(Db(MeanSquare(out, from, from + part - 2 * margin) /
                       MeanSquare(input, from, from + part - 2 * margin)),
                    0.0, 1.0);

    // A seek starts afresh there, as a new gate over the rest would.
    const int32_t at = part - 1234;
    gate->Seek(at);
    EXPECT_EQ(gate->Position(), at);
    const std::vector<int32_t> rest(input.begin() + at, input.end());
    Ref<AudioSource> fresh = CreateNoiseGate(MakeRef<test::VectorSource>(rest, rate, 1), -30);
    EXPECT_EQ(test::ReadInRandomPieces(*gate, total - at, rng, 5000), test::ReadFrames(*fresh, total - at));
}

TEST(NoiseProfileTest, BinMagnitudesAndPercentilesOfKnownTones) {
    // Tones in the middle of bins 10 (left) and 50 (right): the windowed
    // peak is A / 2 x sum(w) = A x 0.27 N. Each 1024-frame analysis frame
    // has its own amplitude: 70 quiet frames and 30 loud ones.
    const int32_t rate = 44100;
    const int n = NoiseFftSize(rate);
    ASSERT_EQ(n, 1024);
    const double quiet = 2000, loud = 40000;
    std::vector<int32_t> samples(size_t(100) * n * 2);
    for (int f = 0; f < 100; ++f) {
        const double a = f % 10 < 3 ? loud : quiet;
        for (int i = 0; i < n; ++i) {
            const size_t at = (size_t(f) * n + size_t(i)) * 2;
            samples[at] = static_cast<int32_t>(std::lround(a * std::cos(2 * M_PI * 10 * i / n)));
            samples[at + 1] = static_cast<int32_t>(std::lround(a / 4 * std::sin(2 * M_PI * 50 * i / n)));
        }
    }
    const auto levelOf = [](double magnitude) { return 20 * std::log10(magnitude / 92682.0); };
    for (int percentile : {30, 70, 71, 90}) {
        SCOPED_TRACE(percentile);
        const NoiseProfile profile = ProfileOf(samples, 2, rate, percentile);
        ASSERT_EQ(profile.fftSize, n);
        ASSERT_EQ(profile.channels, 2);
        ASSERT_EQ(profile.magnitudes[0].size(), size_t(n / 2));
        // 70 of 100 frames are quiet: up to the 70th percentile the quiet
        // level is the answer, from the 71st the loud one.
        const double a = percentile <= 70 ? quiet : loud;
        EXPECT_NEAR(levelOf(profile.magnitudes[0][10]), levelOf(a * 0.27 * n), 0.55);
        EXPECT_NEAR(levelOf(profile.magnitudes[1][50]), levelOf(a / 4 * 0.27 * n), 0.55);
        // Each channel's tone stays out of the other's spectrum.
        EXPECT_LT(levelOf(profile.magnitudes[0][50]), levelOf(a / 4 * 0.27 * n) - 60);
        EXPECT_LT(levelOf(profile.magnitudes[1][10]), levelOf(a * 0.27 * n) - 60);
    }
}

TEST(SpectralSubtractionTest, ASilentProfileLeavesEverySampleInPlace) {
    // A profile of silence removes well under one unit per sample: the
    // output must be the input itself, which pins the alignment, the
    // cross-fade weights and the channel pairing.
    std::mt19937 rng(4);
    for (const auto& [rate, channels] : {std::pair{44100, 2}, std::pair{8000, 1}, std::pair{22050, 3}}) {
        SCOPED_TRACE(::testing::Message() << rate << " Hz, " << channels << " channels");
        const auto silence = std::make_shared<NoiseProfile>(
            ProfileOf(std::vector<int32_t>(size_t(MinimumNoiseFrames(rate)) * channels), channels, rate, 90));
        const int32_t frames = 3 * rate / 2;
        const std::vector<int32_t> input = Noise(size_t(frames) * channels, 100000, rng);
        auto source = MakeRef<test::VectorSource>(input, rate, channels);
        Ref<AudioSource> subtraction = CreateSpectralSubtraction(source, silence);
        EXPECT_EQ(test::ReadInRandomPieces(*subtraction, frames, rng, 5000), input);
        const int32_t at = frames / 3 + 17;
        subtraction->Seek(at);
        EXPECT_EQ(subtraction->Position(), at);
        const std::vector<int32_t> rest = test::ReadInRandomPieces(*subtraction, frames - at, rng, 5000);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), input.begin() + ptrdiff_t(at) * channels));
    }
}

TEST(SpectralSubtractionTest, NoiseSampleTakesOutTheHissAndKeepsTheTone) {
    // One second of hiss (about -36 dB), then three of hiss with a 1 kHz
    // tone at a quarter of full scale. The sample is the first second, taken
    // from the same file as a batch run does. (The tone's window side lobes
    // stand above the hiss in the bins around it, and there the hiss stays:
    // the louder the tone beside the hiss, the more of it.)
    const int32_t rate = 44100;
    const double sigma = 8000;
    std::mt19937 rng(5);
    const std::vector<int32_t> hiss = Noise(size_t(4 * rate), sigma, rng);
    std::vector<int32_t> input = hiss;
    for (int32_t i = rate; i < 4 * rate; ++i)
        input[size_t(i)] += static_cast<int32_t>(131068 * std::sin(2 * M_PI * 1000 * (i - rate) / rate));
    AudioClip clip = test::ClipFromSamples(input, 1, rate);
    test::ScriptedTaskHost host;
    ASSERT_EQ(
        test::RunEffect("noise-reduction-sample", clip, 0, clip.Length(), {{"NoiseSample", "0:1000"}}, host),
        kTaskDone);
    ASSERT_EQ(clip.Length(), 4 * rate);
    const std::vector<int32_t> out = test::ClipSamples(clip);

    EXPECT_LT(Db(MeanSquare(out, 4096, size_t(rate) - 4096) / (sigma * sigma)), -12.0);
    // The tone by least squares over two seconds; what is left is noise.
    const size_t from = size_t(3 * rate / 2), to = size_t(7 * rate / 2);
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    for (size_t i = from; i < to; ++i) {
        const double p = 2 * M_PI * 1000 * (double(i) - rate) / rate;
        ss += std::sin(p) * std::sin(p);
        cc += std::cos(p) * std::cos(p);
        sc += std::sin(p) * std::cos(p);
        ys += out[i] * std::sin(p);
        yc += out[i] * std::cos(p);
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    EXPECT_NEAR(20 * std::log10(std::hypot(a, b) / 131068), 0.0, 1.0);
    double residual = 0;
    for (size_t i = from; i < to; ++i) {
        const double p = 2 * M_PI * 1000 * (double(i) - rate) / rate;
        const double r = out[i] - a * std::sin(p) - b * std::cos(p);
        residual += r * r;
    }
    EXPECT_LT(Db(residual / double(to - from) / (sigma * sigma)), -12.0);
}

TEST(NoiseSampleTest, RefusalsAndTheStoredSample) {
    const int32_t rate = 44100;
    const int32_t minimum = MinimumNoiseFrames(rate);
    EXPECT_EQ(minimum, 10240);
    // Seconds are truncated: up to 8.99 s is still 8.
    EXPECT_FALSE(NoiseSampleRefusal(8 * rate, rate));
    EXPECT_FALSE(NoiseSampleRefusal(9 * rate - 1, rate));
    const auto tooLong = NoiseSampleRefusal(9 * rate, rate);
    ASSERT_TRUE(tooLong);
    EXPECT_EQ(tooLong->title, "Manual Noise Reduction Error");
    EXPECT_EQ(tooLong->text, kNoiseSampleTooLongMessage);
    EXPECT_FALSE(NoiseSampleRefusal(minimum, rate));
    const auto tooShort = NoiseSampleRefusal(minimum - 1, rate);
    ASSERT_TRUE(tooShort);
    EXPECT_EQ(tooShort->text,
              "You cannot sample an area of your audio shorter than 233 milliseconds. Please select a longer "
              "area.");

    std::mt19937 rng(6);
    const std::vector<int32_t> stereo = Noise(size_t(rate) * 2, 2000, rng);
    AudioClip clip = test::ClipFromSamples(stereo, 2, rate);
    AudioClip mono =
        test::ClipFromSamples(std::vector<int32_t>(stereo.begin(), stereo.begin() + rate), 1, rate);
    test::ScriptedTaskHost host;
    StoreNoiseSample(nullptr);
    // Nothing taken yet; then a sample that is too short changes nothing.
    EXPECT_EQ(test::RunEffect("noise-reduction-sample", clip, 0, rate, {}, host), kTaskFailed);
    FunctionTask shortSample("Get Noise Sample",
                             [&](ProgressTask& t) { return TakeNoiseSample(t, clip, 0, minimum - 1); });
    EXPECT_EQ(RunTask(shortSample, host), kTaskFailed);
    EXPECT_EQ(StoredNoiseSample(), nullptr);

    FunctionTask take("Get Noise Sample", [&](ProgressTask& t) { return TakeNoiseSample(t, clip, 0, rate); });
    ASSERT_EQ(RunTask(take, host), kTaskDone);
    ASSERT_NE(StoredNoiseSample(), nullptr);
    // A stereo sample does not fit a mono clip.
    const std::vector<int32_t> monoBefore = test::ClipSamples(mono);
    EXPECT_EQ(test::RunEffect("noise-reduction-sample", mono, 0, mono.Length(), {}, host), kTaskFailed);
    EXPECT_EQ(test::ClipSamples(mono), monoBefore);
    EXPECT_EQ(test::RunEffect("noise-reduction-sample", clip, 0, clip.Length(), {}, host), kTaskDone);
    EXPECT_LT(Db(MeanSquare(test::ClipSamples(clip), 4096, stereo.size() - 4096) / (2000.0 * 2000.0)), -12.0);
    StoreNoiseSample(nullptr);

    // The automatic variant cannot take a profile from a selection that
    // short either, and its percentile is a percentage.
    EXPECT_EQ(test::RunEffect("noise-reduction-auto", mono, 0, minimum - 1, {}, host), kTaskFailed);
    EXPECT_EQ(test::ClipSamples(mono), monoBefore);
    const EffectDefinition* automatic = FindEffect("noise-reduction-auto");
    EXPECT_FALSE(automatic->validate({{"SSNoiseThreshold", "100"}}));
    EXPECT_TRUE(automatic->validate({{"SSNoiseThreshold", "101"}}));

    EXPECT_EQ(
        host.errors,
        (std::vector<std::string>{
            "There is no noise sample. Please select an area that holds only the noise and take a "
            "noise sample first.",
            kNoiseSampleMismatchMessage,
            "The selection is too short for noise reduction. Please select at least 233 milliseconds."}));
}

}  // namespace sonitor
