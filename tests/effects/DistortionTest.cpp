// The distortion curve against its real-valued shape, the one-pole sections
// against a 64-bit transcription, and the AM radio and telephone chains.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "effects/EffectProcessors.h"
#include "foundation/AudioSource.h"
#include "support/MemorySources.h"

namespace sonitor {

namespace {

using Samples = std::vector<int32_t>;

Ref<AudioSource> Over(const Samples& samples, int32_t rate, int channels) {
    return MakeRef<test::VectorSource>(samples, rate, channels);
}

Samples ReadAt(AudioSource& source, int32_t from, int32_t frames) {
    source.Seek(from);
    Samples out(static_cast<size_t>(frames) * static_cast<size_t>(source.Channels()));
    ReadInPieces(source, out.data(), frames);
    return out;
}

// Magnitudes spread evenly over every power of two, either sign, and the
// two ends of the 32-bit range.
Samples AnyLevel(std::mt19937& rng, size_t count) {
    Samples s(count);
    for (int32_t& v : s) {
        const auto m = static_cast<int32_t>((rng() & 0x7FFFFFFF) >> (rng() % 31));
        v = rng() % 2 ? m : -m;
    }
    s[0] = INT32_MAX;
    s[1] = INT32_MIN;
    return s;
}

// The curve in reals: slopes 1 + 0.66 d, 1 - 0.22 d and 1 - d with the
// breaks at a quarter of the threshold and at the threshold.
double Curve(double x, double threshold, double degree) {
    const double a = 1 - degree, b = 1 - 0.22 * degree, c = 1 + 0.66 * degree;
    const double quarter = std::floor(threshold / 4);
    const double k1 = quarter * (c - b), k2 = k1 + threshold * (b - a);
    const double m = std::fabs(x);
    const double y = m < quarter ? c * m : m < threshold ? b * m + k1 : a * m + k2;
    return x < 0 ? -y : y;
}

TEST(DistortionTest, FollowsItsCurveAtEveryLevel) {
    std::mt19937 rng(21);
    const Samples x = AnyLevel(rng, 20000);
    for (const int level : {-127, -40, -8, -3, 0, 40, 127}) {
        const double threshold = std::min(std::trunc(std::pow(10.0, level / 20.0) * 131072), 2147483647.0);
        for (const double degree : {0.0, 0.05, 0.1, 0.5, 1.0}) {
            Ref<AudioSource> distortion = CreateDistortion(Over(x, 44100, 2), level, degree);
            const Samples y = ReadAt(*distortion, 0, 10000);
            for (size_t i = 0; i < x.size(); ++i) {
                const double expected = Curve(x[i], threshold, degree);
                // The Q24 products drop their low parts; the slopes are
                // truncated to 24 fraction bits.
                const double tolerance = 8 + (std::fabs(x[i]) + threshold) / 4194304;
                ASSERT_NEAR(y[i], expected, tolerance) << level << " " << degree << " " << x[i];
            }
            if (degree == 0.0) {
                EXPECT_EQ(y, x) << level;
            }
        }
    }

    // Degree 1 at 0 dB clips flat at K2 = 131071 from 131072 outwards.
    Ref<AudioSource> clip = CreateDistortion(Over({131072, INT32_MAX, -131072, INT32_MIN}, 44100, 1), 0, 1.0);
    EXPECT_EQ(ReadAt(*clip, 0, 4), (Samples{131071, 131071, -131071, -131071}));
}

// The one-pole sections with a 64-bit accumulator per channel.
Samples OnePole(const Samples& x, int channels, int64_t k, bool highPass) {
    std::vector<int64_t> sums(static_cast<size_t>(channels), 0);
    Samples y(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        int64_t& s = sums[i % static_cast<size_t>(channels)];
        int64_t v = x[i];
        if (highPass) {
            v -= s >> 8;
            s += k * v;
        } else {
            s += k * (v - (s >> 8));
            v = s >> 8;
        }
        y[i] = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    }
    return y;
}

TEST(DistortionTest, OnePoleSectionsAndTheAmRadioChain) {
    std::mt19937 rng(22);
    Samples x(2 * 30000);
    for (int32_t& v : x)
        v = rng() % 16 ? static_cast<int32_t>(rng() % 1048545) - 524272 : static_cast<int32_t>(rng());
    // k = 3 at 100 Hz and 130 at 5000 Hz for 44100 Hz.
    Ref<AudioSource> high = CreateOnePoleHighPass(Over(x, 44100, 2), 100);
    Ref<AudioSource> low = CreateOnePoleLowPass(Over(x, 44100, 2), 5000);
    EXPECT_EQ(ReadAt(*high, 0, 30000), OnePole(x, 2, 3, true));
    EXPECT_EQ(ReadAt(*low, 0, 30000), OnePole(x, 2, 130, false));
    EXPECT_EQ(high->FullScale(), 2 * kFullScale16);

    // At 8000 Hz the same frequencies give 19 and 250.
    const Samples band = OnePole(OnePole(x, 2, 19, true), 2, 250, false);
    Ref<AudioSource> expected = CreateDistortion(Over(band, 8000, 2), -8, 0.05);
    Ref<AudioSource> radio = CreateAmRadio(Over(x, 8000, 2));
    const Samples whole = ReadAt(*expected, 0, 30000);
    Samples pieces(whole.size());
    for (int32_t done = 0; done < 30000;) {
        const int32_t n = std::min<int32_t>(30000 - done, static_cast<int32_t>(rng() % 8192) + 1);
        radio->Read(pieces.data() + 2 * done, n);
        done += n;
    }
    EXPECT_EQ(pieces, whole);
    // The chain has run to the end: a seek back forgets all of it.
    Ref<AudioSource> fresh = CreateAmRadio(Over(x, 8000, 2));
    EXPECT_EQ(ReadAt(*radio, 6789, 12000), ReadAt(*fresh, 6789, 12000));

    // A steady level: the low-pass settles on it exactly, the high-pass on 0.
    const Samples dc(5000, 100000);
    Ref<AudioSource> dcLow = CreateOnePoleLowPass(Over(dc, 44100, 1), 5000);
    Ref<AudioSource> dcHigh = CreateOnePoleHighPass(Over(dc, 44100, 1), 100);
    EXPECT_EQ(ReadAt(*dcLow, 0, 5000).back(), 100000);
    EXPECT_EQ(ReadAt(*dcHigh, 0, 5000).back(), 0);
}

double Rms(const Samples& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

TEST(DistortionTest, TelephonePassesOnlyItsBand) {
    for (const double frequency : {100.0, 250.0, 400.0, 1000.0, 3000.0, 4500.0, 8000.0}) {
        Ref<AudioSource> tone = MakeRef<test::ToneSource>(44100, 1, 22050, frequency);
        const Samples dry = ReadAt(*tone, 0, 22050);
        Ref<AudioSource> phone = CreateTelephone(tone);
        const Samples wet = ReadAt(*phone, 0, 22050);
        const double ratio = Rms(wet, 4096, 18000) / Rms(dry, 4096, 18000);
        if (frequency > 300 && frequency < 3600)
            EXPECT_GT(ratio, 0.5) << frequency;
        else
            EXPECT_LT(ratio, 0.1) << frequency;
    }
}

}  // namespace
}  // namespace sonitor
