#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/PeakLimiter.h"
#include "support/MemorySources.h"

namespace sonitor {
namespace {

using test::VectorSource;

constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// s * g / 2^24 from 12-bit halves with floor divisions in place of shifts.
int32_t ModelScale(int32_t s, int32_t g) {
    const int64_t sHigh = FloorDiv(s, 4096), sLow = s - sHigh * 4096;
    const int64_t gHigh = FloorDiv(g, 4096), gLow = g - gHigh * 4096;
    return static_cast<int32_t>(sHigh * gHigh + FloorDiv(sLow * gHigh, 4096) + FloorDiv(gLow * sHigh, 4096));
}

// The limiter over whole arrays: block gains from the peaks of consecutive
// blocks counted from `start`, and the gain of frame i of block k written as
// its distance from the block's target, T - q * (B - i).
std::vector<int32_t> ModelLimit(const std::vector<int32_t>& data, int channels, int32_t rate, int32_t ceiling,
                                int64_t start, int32_t frames) {
    int32_t b = rate / 35;
    if (b < 20) b = 20;
    if (b > 8192) b = 8192;
    const int64_t length = static_cast<int64_t>(data.size()) / channels;
    auto sample = [&](int64_t frame, int c) -> int64_t {
        return frame >= 0 && frame < length ? data[frame * channels + c] : 0;
    };
    const int64_t m = std::min(ceiling, 4194303);
    std::vector<int64_t> gains;
    for (int64_t k = 0; k < frames / b + 3; ++k) {
        int64_t peak = 0;
        for (int64_t f = start + k * b; f < start + (k + 1) * b; ++f)
            for (int c = 0; c < channels; ++c)
                peak = std::max(peak, std::abs(sample(f, c)));
        gains.push_back(peak <= m ? 1 << 24 : m * 512 / ((peak + 64) / 64) * 512);
    }
    std::vector<int32_t> out(static_cast<size_t>(frames) * channels);
    int64_t blockStart = gains[0];
    for (int64_t k = 0; k * b < frames; ++k) {
        const int64_t previous = gains[k == 0 ? 0 : k - 1];
        const int64_t average = (previous + gains[k] + gains[k + 1] + gains[k + 2]) / 4;
        const int64_t target = std::min({gains[k], gains[k + 1], average});
        const int64_t q = (target - blockStart) / b;
        for (int64_t i = 0; i < b && k * b + i < frames; ++i) {
            const auto g = static_cast<int32_t>(target - q * (b - i));
            for (int c = 0; c < channels; ++c)
                out[(k * b + i) * channels + c] =
                    ModelScale(static_cast<int32_t>(sample(start + k * b + i, c)), g);
        }
        blockStart = target;
    }
    return out;
}

// Reads `frames` frames in random pieces, some empty, some spanning blocks.
std::vector<int32_t> ReadInRandomPieces(AudioSource& source, int32_t frames, std::mt19937& rng) {
    std::vector<int32_t> out(static_cast<size_t>(frames) * source.Channels());
    const int32_t b = LimiterBlockFrames(source.SampleRate());
    std::uniform_int_distribution<int32_t> size(0, 3 * b + 5);
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min(frames - done, rng() % 16 == 0 ? 1 : size(rng));
        source.Read(out.data() + static_cast<size_t>(done) * source.Channels(), n);
        done += n;
    }
    return out;
}

// Segments of random length and loudness, up to the extremes of 32 bits.
std::vector<int32_t> LoudNoise(int32_t frames, int channels, std::mt19937& rng) {
    const int32_t amplitudes[] = {1000, 524272, 600000, 1048544, 4194303, 40000000, kMax32};
    std::vector<int32_t> data;
    while (data.size() < static_cast<size_t>(frames) * channels) {
        const int32_t amplitude = amplitudes[rng() % std::size(amplitudes)];
        std::uniform_int_distribution<int32_t> value(-amplitude, amplitude);
        for (uint32_t i = rng() % 400 * channels; i > 0; --i)
            data.push_back(rng() % 500 == 0 ? kMin32 : value(rng));
    }
    data.resize(static_cast<size_t>(frames) * channels);
    return data;
}

std::vector<int32_t> Impulses(int32_t frames, int32_t blockFrames, std::mt19937& rng) {
    std::vector<int32_t> data(frames);
    for (auto& s : data)
        s = static_cast<int32_t>(rng() % 201) - 100;
    const int32_t at[] = {0, blockFrames - 1, blockFrames, 5 * blockFrames + 7, frames / 2, frames - 1};
    const int32_t value[] = {kMin32, kMax32, 1048544, -524273, 524273, -40000000};
    for (size_t i = 0; i < std::size(at); ++i)
        data[at[i]] = value[i];
    return data;
}

// Three channels of a rising sweep whose level climbs from a quarter of the
// ceiling to eight times it.
std::vector<int32_t> Sweep(int32_t frames, int32_t rate) {
    std::vector<int32_t> data;
    for (int32_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / frames;
        const double phase = 2 * M_PI * (50.0 * f + 0.5 * t * f * (rate / 2.0 - 50.0)) / rate;
        const auto v = static_cast<int32_t>(std::sin(phase) * 524272.0 * (0.25 + 7.75 * t));
        data.insert(data.end(), {v, -v, v / 2});
    }
    return data;
}

struct Case {
    const char* name;
    std::vector<int32_t> data;
    int channels;
    int32_t rate;
    int32_t ceiling;
};

std::vector<Case> Cases(std::mt19937& rng) {
    std::vector<Case> cases;
    cases.push_back({"stereo noise", LoudNoise(40 * 228, 2, rng), 2, 8000, kLimiterCeiling});
    cases.push_back({"mono noise, largest ceiling", LoudNoise(3000, 1, rng), 1, 700, kLimiterMaxCeiling});
    cases.push_back({"mono noise, small ceiling", LoudNoise(3000, 1, rng), 1, 1400, 1000});
    cases.push_back({"impulses", Impulses(600, 20, rng), 1, 300, kLimiterCeiling});
    cases.push_back({"impulses, zero ceiling", Impulses(600, 20, rng), 1, 300, 0});
    // Falling gains from the first block on, where the average that includes
    // the first block's gain twice sets the target.
    std::vector<int32_t> falling(10 * 20, 4000000);
    std::fill(falling.begin(), falling.begin() + 40, 1048544);
    cases.push_back({"loud from the start", falling, 1, 700, kLimiterCeiling});
    cases.push_back({"sweep", Sweep(30 * 1260, 44100), 3, 44100, kLimiterCeiling});
    return cases;
}

TEST(PeakLimiter, MatchesFlatModelAndStaysWithinTheCeiling) {
    std::mt19937 rng(1234);
    for (const Case& c : Cases(rng)) {
        SCOPED_TRACE(c.name);
        PeakLimiterSource limiter(MakeRef<VectorSource>(c.data, c.rate, c.channels), c.ceiling);
        // Past the end, so that the last blocks run out into silence.
        const int32_t frames =
            static_cast<int32_t>(c.data.size()) / c.channels + 3 * limiter.BlockFrames() + 11;
        const std::vector<int32_t> out = ReadInRandomPieces(limiter, frames, rng);
        ASSERT_EQ(out, ModelLimit(c.data, c.channels, c.rate, c.ceiling, 0, frames));
        // The block gain never lets a peak past the ceiling; the truncation of
        // the multiply can move a negative sample by up to 2 further.
        const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
        EXPECT_LE(*hi, c.ceiling);
        EXPECT_GE(*lo, -c.ceiling - 2);
    }
}

TEST(PeakLimiter, SeekRestartsFromTheNewPositionAndPositionCountsDelivered) {
    std::mt19937 rng(99);
    const int32_t rate = 8000, b = LimiterBlockFrames(rate), length = 30 * b;
    const std::vector<int32_t> data = LoudNoise(length, 2, rng);
    auto inner = MakeRef<VectorSource>(data, rate, 2);
    inner->Seek(37);
    PeakLimiterSource limiter(inner, kLimiterCeiling);
    EXPECT_EQ(limiter.Position(), 37);  // nothing delivered yet: where the inner source stands
    EXPECT_EQ(limiter.Length(), length);
    ReadInRandomPieces(limiter, 100, rng);
    EXPECT_EQ(limiter.Position(), 137);

    for (int32_t to : {-b / 2 - 3, 0, 1000, 7 * b, length - 5, length + 300, 0}) {
        SCOPED_TRACE(to);
        ReadInRandomPieces(limiter, static_cast<int32_t>(rng() % (4 * b)), rng);
        limiter.Seek(to);
        EXPECT_EQ(limiter.Position(), to);
        const int32_t frames = 1 + static_cast<int32_t>(rng() % (6 * b));
        EXPECT_EQ(ReadInRandomPieces(limiter, frames, rng),
                  ModelLimit(data, 2, rate, kLimiterCeiling, to, frames));
        EXPECT_EQ(limiter.Position(), to + frames);
    }
}

TEST(PeakLimiter, GainRampStartsTwoBlocksBeforeALoudBlockAndRecovers) {
    const int32_t rate = 700, b = 20, loud = 8;
    std::vector<int32_t> data(20 * b, 500000);
    std::fill(data.begin() + loud * b, data.begin() + (loud + 1) * b, 4000000);
    PeakLimiterSource limiter(MakeRef<VectorSource>(data, rate, 1), kLimiterCeiling);
    std::vector<int32_t> out(data.size());
    limiter.Read(out.data(), static_cast<int32_t>(out.size()));

    const auto frame = [&](int32_t block, int32_t i) { return static_cast<size_t>(block * b + i); };
    for (size_t f = 0; f < frame(loud - 2, 0); ++f)
        ASSERT_EQ(out[f], data[f]) << f;
    EXPECT_LT(out[frame(loud - 2, b - 1)], data[0]);
    for (size_t f = frame(loud - 2, 1); f < frame(loud, 0); ++f)
        ASSERT_LE(out[f], out[f - 1]) << f;
    for (size_t f = frame(loud, 0); f < frame(loud + 1, 0); ++f)
        ASSERT_LE(out[f], kLimiterCeiling) << f;
    // Back to unity once the loud block has left the four known gains.
    EXPECT_LT(out[frame(loud + 2, b - 2)], data[0]);
    for (size_t f = frame(loud + 3, 0); f < out.size(); ++f)
        ASSERT_EQ(out[f], data[f]) << f;
}

TEST(PeakLimiter, BlockGainsAndLengths) {
    EXPECT_EQ(LimiterBlockGain(0, kLimiterCeiling), 1 << 24);
    EXPECT_EQ(LimiterBlockGain(524272, kLimiterCeiling), 1 << 24);
    EXPECT_EQ(LimiterBlockGain(524273, kLimiterCeiling), 16776704);
    EXPECT_EQ(LimiterBlockGain(2 * 524272, kLimiterCeiling), 8388096);
    EXPECT_EQ(LimiterBlockGain(2147483648, kLimiterCeiling), 3584);  // |INT32_MIN|
    EXPECT_EQ(LimiterBlockGain(2147483648, kLimiterMaxCeiling), 32256);
    EXPECT_EQ(LimiterBlockGain(2147483648, kMax32), 32256);  // ceiling lowered to the largest
    EXPECT_EQ(LimiterBlockGain(1, 0), 0);

    EXPECT_EQ(LimiterBlockFrames(44100), 1260);
    EXPECT_EQ(LimiterBlockFrames(6000), 171);
    EXPECT_EQ(LimiterBlockFrames(699), 20);
    EXPECT_EQ(LimiterBlockFrames(1), 20);
    EXPECT_EQ(LimiterBlockFrames(734), 20);
    EXPECT_EQ(LimiterBlockFrames(735), 21);
    EXPECT_EQ(LimiterBlockFrames(286720), 8192);
    EXPECT_EQ(LimiterBlockFrames(384000), 8192);
    EXPECT_EQ(PeakLimiterSource(MakeRef<VectorSource>(std::vector<int32_t>{}, 44100, 2), 0).BlockFrames(),
              1260);
}

TEST(PeakLimiter, MultiplyIsTheFloorOfTheExactProductLessAtMostTwo) {
    const int32_t samples[] = {kMin32, kMin32 + 1, -4097, -4096, -1, 0, 1, 4095, 4096, kMax32 - 1, kMax32};
    for (int32_t s : samples) {
        EXPECT_EQ(LimiterMultiply(s, 1 << 24), s);
        EXPECT_EQ(LimiterMultiply(s, 0), 0);
    }
    EXPECT_EQ(LimiterMultiply(-1, 1 << 23), -1);
    EXPECT_EQ(LimiterMultiply(1, 1 << 23), 0);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int32_t> gain(0, 1 << 24);
    for (int i = 0; i < 200000; ++i) {
        const int32_t s = i < 1000 ? samples[i % std::size(samples)] : static_cast<int32_t>(rng());
        const int32_t g = gain(rng);
        const int64_t exact = FloorDiv(static_cast<int64_t>(s) * g, 1 << 24);
        const int32_t r = LimiterMultiply(s, g);
        ASSERT_EQ(r, ModelScale(s, g)) << s << " " << g;
        ASSERT_TRUE(r <= exact && r >= exact - 2) << s << " " << g;
    }
}

TEST(PeakLimiter, LimitPeaksWrapsOnlySourcesThatCanExceedTheCeiling) {
    Ref<AudioSource> reader = MakeRef<VectorSource>(std::vector<int32_t>(10), 22050, 2, kFullScale16);
    EXPECT_EQ(LimitPeaks(reader, kLimiterCeiling).Get(), reader.Get());

    Ref<AudioSource> loud = MakeRef<VectorSource>(std::vector<int32_t>(10), 22050, 2, kFullScaleHeadroom);
    {
        Ref<AudioSource> limited = LimitPeaks(loud);
        ASSERT_NE(limited.Get(), loud.Get());
        EXPECT_EQ(loud->RefCount(), 2);
        EXPECT_EQ(limited->FullScale(), kLimiterCeiling);
        EXPECT_EQ(limited->SampleRate(), 22050);
        EXPECT_EQ(limited->Channels(), 2);
        EXPECT_EQ(limited->Length(), 5);
        EXPECT_TRUE(limited->Ok());
        EXPECT_EQ(LimitPeaks(loud, kFullScaleHeadroom).Get(), loud.Get());
        Ref<AudioSource> wild = MakeRef<VectorSource>(std::vector<int32_t>(10), 22050, 2, kMax32);
        EXPECT_EQ(LimitPeaks(wild, 5000000)->FullScale(), kLimiterMaxCeiling);
    }
    EXPECT_EQ(loud->RefCount(), 1);
}

}  // namespace
}  // namespace sonitor
