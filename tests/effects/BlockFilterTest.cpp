// The block filter against the filter as written, summed in plain 64-bit
// integers, and its response against double-precision arithmetic.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "effects/BlockFilter.h"
#include "support/MemorySources.h"

namespace sonitor {
namespace {

constexpr int kWindow = 12287;
constexpr int kBlock = 8192;
constexpr int kHistory = 2047;

std::vector<double> CosineSums(const BinCurve& curve) {
    std::vector<double> sums(2048);
    for (int k = 0; k < 2048; ++k) {
        double sum = 0;
        for (int i = 0; i < 2048; ++i)
            sum +=
                curve[static_cast<size_t>(i)] * std::cos(static_cast<double>(i * k) * 0.0015339807878856412);
        sums[static_cast<size_t>(k)] = sum;
    }
    return sums;
}

// Frames [start, start + frames) of the filter over a signal that is silent
// outside `input`: each block's window shifted to 16 bits, every output the
// full 64-bit sum, the kept frames restored by the block's shift when the
// window slides. overflowed tells whether any sum left the 32-bit range.
std::vector<int32_t> ReferenceFilter(const std::vector<int32_t>& input, int channels, const BinCurve& curve,
                                     int64_t start, int64_t frames, bool* overflowed = nullptr) {
    std::vector<int64_t> h;
    for (const double sum : CosineSums(curve))
        h.push_back((static_cast<int64_t>(std::trunc(sum)) + 4) >> 3);
    const int64_t length = static_cast<int64_t>(input.size()) / channels;
    const auto signal = [&](int64_t frame, int c) -> int64_t {
        return frame >= 0 && frame < length ? input[static_cast<size_t>(frame * channels + c)] : 0;
    };
    std::vector<std::vector<int64_t>> w(static_cast<size_t>(channels), std::vector<int64_t>(kWindow));
    int64_t blockStart = start;
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < kWindow; ++i)
            w[c][i] = signal(blockStart - kHistory + i, c);
    std::vector<int32_t> out;
    if (overflowed) *overflowed = false;
    for (;;) {
        int64_t peak = 0;
        for (const auto& channel : w)
            for (const int64_t v : channel)
                peak = std::max(peak, std::abs(v));
        int shift = 0;
        while ((peak >> shift) > 32767)
            ++shift;
        for (auto& channel : w)
            for (int64_t& v : channel)
                v >>= shift;
        for (int n = 0; n < kBlock; ++n) {
            if (static_cast<int64_t>(out.size()) == frames * channels) return out;
            for (int c = 0; c < channels; ++c) {
                const int64_t* x = w[c].data() + kHistory + n;
                int64_t y = h[0] * x[0];
                for (int k = 1; k < 2048; ++k)
                    y += h[k] * (x[k] + x[-k]);
                if (overflowed && (y > INT32_MAX || y < INT32_MIN)) *overflowed = true;
                const int64_t v = shift <= 15 ? y >> (15 - shift) : y * (int64_t{1} << (shift - 15));
                out.push_back(static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)));
            }
        }
        for (int c = 0; c < channels; ++c) {
            for (int i = 0; i < kWindow - kBlock; ++i)
                w[c][i] = w[c][i + kBlock] * (int64_t{1} << shift);
        }
        blockStart += kBlock;
        for (int c = 0; c < channels; ++c)
            for (int i = kWindow - kBlock; i < kWindow; ++i)
                w[c][i] = signal(blockStart - kHistory + i, c);
    }
}

std::vector<int32_t> Noise(size_t count, int64_t low, int64_t high, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int64_t> value(low, high);
    std::vector<int32_t> s(count);
    for (int32_t& v : s)
        v = static_cast<int32_t>(value(rng));
    return s;
}

std::vector<int32_t> ReadFrames(AudioSource& source, int64_t frames) {
    std::vector<int32_t> out(static_cast<size_t>(frames * source.Channels()));
    ReadInPieces(source, out.data(), frames);
    return out;
}

Ref<AudioSource> Filter(const std::vector<int32_t>& input, int channels, const BinCurve& curve) {
    return CreateBlockFilter(MakeRef<test::VectorSource>(input, 44100, channels), curve);
}

BinCurve RandomCurve(unsigned seed) {
    std::mt19937 rng(seed);
    BinCurve curve;
    for (uint8_t& v : curve)
        v = static_cast<uint8_t>(rng() % 256);
    return curve;
}

BinCurve FlatCurve(uint8_t level) {
    BinCurve curve;
    curve.fill(level);
    return curve;
}

// Three blocks (the last one partial), so the slides and their restore are
// covered: a flat curve on moderate audio (32-bit sums), a random curve
// (sums that may overflow 32 bits), and a full boost on samples up to the
// 32-bit limit (sums that overflow, shifts above 15). Read in random pieces,
// and again from seeks, also to before the start.
TEST(BlockFilterTest, MatchesThePlainIntegerFilter) {
    struct Case {
        int channels;
        BinCurve curve;
        int64_t low, high;
        int overflows;  // whether some 32-bit sum overflows: 0, 1, or -1 for either
    };
    const Case cases[] = {
        {2, FlatCurve(128), -524272, 524272, 0},
        {1, RandomCurve(7), -2000000, 2000000, -1},
        {2, FlatCurve(255), INT32_MIN, INT32_MAX, 1},
    };
    std::mt19937 rng(5);
    for (const Case& c : cases) {
        const int64_t frames = 2 * kBlock + 3000;
        const std::vector<int32_t> input =
            Noise(static_cast<size_t>(frames * c.channels), c.low, c.high, rng());
        bool overflowed = false;
        const std::vector<int32_t> expected =
            ReferenceFilter(input, c.channels, c.curve, 0, frames, &overflowed);
        if (c.overflows >= 0) {
            EXPECT_EQ(overflowed, c.overflows == 1);
        }
        Ref<AudioSource> filter = Filter(input, c.channels, c.curve);
        std::vector<int32_t> got;
        while (static_cast<int64_t>(got.size()) < frames * c.channels) {
            const int64_t left = frames - static_cast<int64_t>(got.size()) / c.channels;
            const std::vector<int32_t> part =
                ReadFrames(*filter, std::min<int64_t>(rng() % kBlock + 1, left));
            got.insert(got.end(), part.begin(), part.end());
        }
        EXPECT_TRUE(got == expected) << c.channels << " channels";
        EXPECT_EQ(filter->Position(), frames);
        for (const int32_t p : {9000, -3000}) {
            filter->Seek(p);
            EXPECT_EQ(filter->Position(), p);
            EXPECT_TRUE(ReadFrames(*filter, 3000) == ReferenceFilter(input, c.channels, c.curve, p, 3000))
                << p;
        }
    }
}

// At the centre of bin m a sine comes out scaled by the response of the
// taps, computed here in double precision from the untruncated coefficients,
// and in phase (the filter has no delay); that response is close to
// curve[m] / 128. The flat curve passes a tone between bins at unity.
TEST(BlockFilterTest, ResponseFollowsTheCurveWithoutDelay) {
    BinCurve ramp;
    for (int i = 0; i < 2048; ++i)
        ramp[static_cast<size_t>(i)] = static_cast<uint8_t>(32 + i * 200 / 2047);
    const std::vector<double> sums = CosineSums(ramp);
    const auto worstError = [](const BinCurve& curve, double omega, double gain) {
        const int64_t frames = 2 * kBlock;
        std::vector<int32_t> input(static_cast<size_t>(frames));
        for (int64_t n = 0; n < frames; ++n)
            input[static_cast<size_t>(n)] =
                static_cast<int32_t>(std::lround((1 << 20) * std::sin(omega * n)));
        const std::vector<int32_t> out = ReadFrames(*Filter(input, 1, curve), frames);
        double worst = 0;
        for (size_t n = 4096; n < static_cast<size_t>(frames) - 4096; ++n)
            worst = std::max(worst, std::abs(out[n] - gain * input[n]));
        return worst / (1 << 20);
    };
    for (const int m : {64, 700, 1400, 1990}) {
        const double omega = M_PI * m / 2048;
        double response = sums[0] / 8;
        for (int k = 1; k < 2048; ++k)
            response += 2 * sums[static_cast<size_t>(k)] / 8 * std::cos(omega * k);
        response /= 32768;
        EXPECT_NEAR(response, ramp[static_cast<size_t>(m)] / 128.0, 0.01) << m;
        EXPECT_LT(worstError(ramp, omega, response), 0.002) << m;
    }
    EXPECT_LT(worstError(FlatCurve(128), 2 * M_PI * 1000 / 44100, 1.0), 0.005);
}

}  // namespace
}  // namespace sonitor
