// The dynamics effects: the compressor against a whole-buffer 64-bit model,
// stereo pan against the decibel rule in double, DC offset and vocal
// reduction against exact sums, and the gain control's behaviour.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/EffectRunning.h"

#include "support/SourceReading.h"

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "effects/Decibels.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectProcessors.h"
#include "foundation/Numbers.h"
#include "support/ClipSamples.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"

namespace sonitor {

// Dynamics.cpp

namespace {

// The compressor over a whole buffer, written from its description: the
// gain table in double, block levels from the high/low split mean of
// (x >> 5)^2, one block of look-ahead, every sum in 64 bits.
std::vector<int32_t> ModelCompressor(const std::vector<int32_t>& in, int channels, int32_t rate,
                                     int threshold, int ratio, int limit) {
    const double factors[] = {1.0,
                              0.9623506263981255,
                              0.9440608762859234,
                              0.9261187281287935,
                              0.9172759353897796,
                              0.9120108393559098,
                              0.8912509382363546};
    const auto saturate = [](double g) -> int64_t { return g >= 2147483647.0 ? 2147483647 : int64_t(g); };
    const double r = factors[ratio];
    std::array<int64_t, 256> table{};
    double g = threshold < 0 ? 16777216.0 / std::pow(r, -threshold) : 16777216.0;
    for (int i = 0; i <= threshold + 127; ++i)
        table[size_t(i)] = saturate(g);
    for (int i = threshold + 128; i < limit + 128; ++i, g *= r)
        table[size_t(i)] = saturate(g);
    for (int i = limit + 128; i < 256; ++i, g *= 0.8913)
        table[size_t(i)] = saturate(g);

    const int64_t w = std::clamp<int64_t>(int64_t{45} * rate / 1000, 128, 8192), count = w * channels;
    const int64_t frames = int64_t(in.size()) / channels, blocks = (frames + w - 1) / w;
    std::vector<int64_t> gains;
    for (int64_t b = 0; b <= blocks; ++b) {
        int64_t high = 0, low = 0;
        for (int64_t i = b * count; i < std::min<int64_t>((b + 1) * count, int64_t(in.size())); ++i) {
            const int64_t sq = int64_t{in[size_t(i)] >> 5} * (in[size_t(i)] >> 5);
            high += sq >> 13;
            low += sq & 8191;
        }
        const int64_t total = high + (low >> 13);
        const int64_t ms = ((total / count) << 13) + (((total % count) << 13) / count);
        const double db = 10 * std::log10(double(ms) / 8388626.0);
        const int level =
            ms == 0 ? -127 : std::clamp(int(std::trunc(ms >= 8388626 ? db + 0.5 : db - 0.5)), -127, 127);
        gains.push_back(table[size_t(level + 128)]);
    }
    std::vector<int32_t> out(in.size());
    int64_t gain = gains[0], previous = gains[0];
    for (int64_t b = 0; b < blocks; ++b) {
        const int64_t next = gains[size_t(b + 1)];
        const int64_t step =
            next < gain ? (next - gain) / (w + w / 4) : ((previous + next) / 2 - gain) / (2 * w);
        for (int64_t f = b * w; f < std::min(frames, (b + 1) * w); ++f, gain += step)
            for (int64_t i = f * channels; i < (f + 1) * channels; ++i)
                out[size_t(i)] = MulQ24(in[size_t(i)], int32_t(gain));
        previous = next;
    }
    return out;
}

TEST(CompressorTest, MatchesTheModelInAnyPiecesAndAfterSeek) {
    std::mt19937 rng(7);
    // Noise whose loudness changes every 3000 samples, from silence to far
    // past 16-bit full scale (squares of x >> 5 beyond 32 bits).
    const int32_t amplitudes[] = {0, 1000, 60000, 524272, 2000000, 4000000};
    struct Case {
        int threshold, ratio, limit, channels, rate;
    };
    // Defaults and presets; "Limit" from -127 dB, whose make-up gains
    // saturate; a limit below the threshold; the 128-frame floor.
    for (const Case k :
         {Case{0, 0, 0, 2, 44100}, Case{-10, 1, 4, 2, 44100}, Case{-6, 2, 3, 1, 22050},
          Case{-127, 6, 127, 2, 44100}, Case{20, 3, -20, 2, 48000}, Case{-40, 5, 10, 1, 2000}}) {
        SCOPED_TRACE(::testing::Message() << k.threshold << "/" << k.ratio << "/" << k.limit);
        const int32_t frames = 40000;
        std::vector<int32_t> input(size_t(frames) * k.channels);
        for (size_t i = 0, a = 0; i < input.size(); ++i) {
            if (i % 3000 == 0) a = size_t(amplitudes[rng() % 6]);
            input[i] = a ? int32_t(rng() % (2 * a)) - int32_t(a) : 0;
        }
        auto source = MakeRef<test::VectorSource>(input, k.rate, k.channels);
        Ref<AudioSource> compressor = CreateCompressor(source, k.threshold, k.ratio, k.limit);
        EXPECT_EQ(compressor->FullScale(), 4194303);
        EXPECT_EQ(test::ReadInRandomPieces(*compressor, frames, rng, 8192),
                  ModelCompressor(input, k.channels, k.rate, k.threshold, k.ratio, k.limit));

        // A seek starts afresh there, as a new chain over the rest would.
        const auto at = static_cast<int32_t>(1 + rng() % 20000);
        compressor->Seek(at);
        EXPECT_EQ(compressor->Position(), at);
        const std::vector<int32_t> rest(input.begin() + at * k.channels, input.end());
        EXPECT_EQ(test::ReadInRandomPieces(*compressor, frames - at, rng, 8192),
                  ModelCompressor(rest, k.channels, k.rate, k.threshold, k.ratio, k.limit));
    }
}

TEST(StereoPanTest, FollowsTheDecibelRuleAndKeepsTheCentre) {
    std::mt19937 rng(3);
    std::vector<int32_t> input(20000);
    for (int32_t& s : input)
        s = static_cast<int32_t>(rng() % 1048544) - 524272;
    // Each side's gain in double, rounded to whole decibels.
    const auto weight = [](double share) {
        const double db = 20 * std::log10(std::sqrt(share) * 1.4142);
        return share == 0 ? 0 : AmplitudeGain(int(std::trunc(db >= 0 ? db + 0.5 : db - 0.5)));
    };
    for (int pan : {0, 1, 25, 50, 73, 100}) {
        const int32_t left = weight(1 - pan / 100.0), right = weight(pan / 100.0);
        Ref<AudioSource> panned = CreateStereoPan(MakeRef<test::VectorSource>(input, 44100, 2), pan);
        const std::vector<int32_t> out = test::ReadInRandomPieces(*panned, 10000, rng, 8192);
        for (size_t i = 0; i < out.size(); i += 2) {
            ASSERT_EQ(out[i], MulQ24(input[i], left)) << pan << " " << i;
            ASSERT_EQ(out[i + 1], MulQ24(input[i + 1], right)) << pan << " " << i;
        }
    }
    // The centre, applied: the clip stays as it was (no channel folded into
    // the other).
    AudioClip clip = test::ClipFromSamples(input, 2);
    ASSERT_EQ(test::RunEffect("stereo-pan", clip, 0, clip.Length()), kTaskDone);
    EXPECT_EQ(test::ClipSamples(clip), input);
}

TEST(DcOffsetTest, SubtractsEachChannelsMeanInTheSelectionOnly) {
    std::mt19937 rng(11);
    std::vector<int32_t> input(60000);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<int32_t>(rng() % 200001) - 100000 + (i % 2 ? -3333 : 12345);
    input[2 * 20000 + 1] = INT32_MIN + 5;  // must not wrap when the offset below 0 comes off
    AudioClip clip = test::ClipFromSamples(input, 2);
    const int32_t start = 1000, end = 25000;
    ASSERT_EQ(test::RunEffect("dc-offset-correction", clip, start, end), kTaskDone);
    int64_t sums[2] = {0, 0};
    for (size_t i = 2 * start; i < 2 * end; ++i)
        sums[i % 2] += input[i];
    ASSERT_LT(sums[1] / (end - start), 0);
    const std::vector<int32_t> out = test::ClipSamples(clip);
    for (size_t i = 0; i < out.size(); ++i) {
        const bool inside = i >= 2 * start && i < 2 * end;
        const int64_t expected = input[i] - (inside ? sums[i % 2] / (end - start) : 0);
        ASSERT_EQ(out[i], std::clamp<int64_t>(expected, INT32_MIN, INT32_MAX)) << i;
    }
}

TEST(ReduceVocalsTest, LeavesTheDifferenceInBothChannelsUnderTheCeiling) {
    std::mt19937 rng(5);
    const int32_t frames = 30000;
    std::vector<int32_t> input(size_t(frames) * 2), loud(input.size());
    for (size_t f = 0; f < size_t(frames); ++f) {
        const auto voice = static_cast<int32_t>(300000 * std::sin(0.02 * double(f)));
        const auto side = static_cast<int32_t>(rng() % 200001) - 100000;
        input[2 * f] = voice + side;
        input[2 * f + 1] = voice - side;
        loud[2 * f] = static_cast<int32_t>(524272 * std::sin(0.05 * double(f)));
        loud[2 * f + 1] = -loud[2 * f];
    }
    // Below the ceiling the limiter passes the difference as it is.
    AudioClip clip = test::ClipFromSamples(input, 2);
    ASSERT_EQ(test::RunEffect("reduce-vocals", clip, 2000, 28000), kTaskDone);
    const std::vector<int32_t> out = test::ClipSamples(clip);
    for (size_t i = 0; i < out.size(); ++i) {
        const size_t f = i / 2;
        ASSERT_EQ(out[i], f >= 2000 && f < 28000 ? input[2 * f] - input[2 * f + 1] : input[i]) << i;
    }
    // Opposite full-scale channels differ by twice full scale: limited.
    clip = test::ClipFromSamples(loud, 2);
    ASSERT_EQ(test::RunEffect("reduce-vocals", clip, 0, frames), kTaskDone);
    int32_t peak = 0;
    for (int32_t s : test::ClipSamples(clip))
        peak = std::max(peak, std::abs(s));
    EXPECT_LE(peak, 524272 + 1024);
    EXPECT_GT(peak, 500000);
}

TEST(AutomaticGainControlTest, BringsLevelsTowardTheTargetAndLeavesQuietEndsAlone) {
    std::mt19937 rng(9);
    const int32_t rate = 44100, half = rate / 2, frames = 5 * half;
    // Room noise, a soft passage, a loud passage, room noise.
    std::vector<int32_t> input(size_t(frames) * 2);
    for (int32_t f = 0; f < frames; ++f) {
        const double tone = std::sin(2 * M_PI * 1000 * f / rate);
        const double v =
            f < half || f >= 4 * half ? double(rng() % 401) - 200 : (f < 3 * half ? 20000 : 400000) * tone;
        input[size_t(f) * 2] = input[size_t(f) * 2 + 1] = static_cast<int32_t>(v);
    }
    AudioClip clip = test::ClipFromSamples(input, 2, rate);
    ASSERT_EQ(test::RunEffect("automatic-gain-control", clip, 0, frames), kTaskDone);
    const std::vector<int32_t> out = test::ClipSamples(clip);
    // The noise before the first active window and after the last one (the
    // gain returns to unity within that window) is untouched.
    for (int32_t f = 0; f < frames; ++f) {
        if (f < half || f >= 4 * half + rate / 50) {
            ASSERT_EQ(out[size_t(f) * 2], input[size_t(f) * 2]) << f;
        }
        ASSERT_EQ(out[size_t(f) * 2], out[size_t(f) * 2 + 1]) << f;
        ASSERT_LE(std::abs(out[size_t(f) * 2]), 524272 + 1024) << f;
    }
    const auto change = [&](int32_t from, int32_t to) {
        double a = 0, b = 0;
        for (int32_t f = from; f < to; ++f) {
            a += double(out[size_t(f) * 2]) * out[size_t(f) * 2];
            b += double(input[size_t(f) * 2]) * input[size_t(f) * 2];
        }
        return 10 * std::log10(a / b);
    };
    // Soft, about 7 dB under the target: raised by about half of that, at
    // most 6 dB. Loud, about 19 dB over: lowered by about half.
    EXPECT_NEAR(change(half + half / 2, 2 * half), 3.5, 1.5);
    EXPECT_NEAR(change(3 * half + half / 4, 4 * half - half / 4), -9.5, 2.0);

    AudioClip silent = test::ClipFromSamples(std::vector<int32_t>(20000, 0), 1, rate);
    ASSERT_EQ(test::RunEffect("automatic-gain-control", silent, 0, 20000), kTaskDone);
    EXPECT_EQ(test::ClipSamples(silent), std::vector<int32_t>(20000, 0));
}

}  // namespace
}  // namespace sonitor
