#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/AudioSource.h"
#include "foundation/ResampleStream.h"
#include "support/MemorySources.h"

namespace sonitor {
namespace {

using test::VectorSource;

constexpr double kPi = std::numbers::pi;
constexpr double kStageGain = 65536.0 / (1 << kResampleOutputShift);
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

Ref<AudioSource> Source(int32_t rate, int channels, std::vector<int32_t> samples) {
    return MakeRef<VectorSource>(std::move(samples), rate, channels);
}

std::vector<int32_t> ReadAt(AudioSource& s, int32_t from, int32_t frames) {
    std::vector<int32_t> out(static_cast<size_t>(frames) * s.Channels(), 12345);
    s.Seek(from);
    ReadInPieces(s, out.data(), frames);
    return out;
}

// Half-scale 16-bit sine on the internal scale.
std::vector<int32_t> Sine(int32_t rate, double freq, int32_t frames) {
    std::vector<int32_t> v(frames);
    for (int32_t n = 0; n < frames; ++n)
        v[n] = 16 * static_cast<int32_t>(std::lround(16383.5 * std::sin(2 * kPi * freq * n / rate)));
    return v;
}

// Oracle: the same design in double, with I0 from the standard library.
std::vector<double> ReferenceTaps(const ResampleDesign& d) {
    std::vector<double> taps;
    for (int p = 0; p < d.phases; ++p) {
        std::vector<double> h;
        double sum = 0;
        for (int j = -31; j <= 31; ++j) {
            const double x = j - static_cast<double>(p) / d.phases;
            const double sinc = x == 0 ? d.cutoff : std::sin(kPi * d.cutoff * x) / (kPi * x);
            h.push_back(sinc * std::cyl_bessel_i(0.0, d.beta * std::sqrt(1 - x * x / 1024)) /
                        std::cyl_bessel_i(0.0, d.beta));
            sum += h.back();
        }
        for (double t : h)
            taps.push_back(t / sum);
    }
    return taps;
}

std::vector<double> ReferenceConvert(std::vector<double> x, int32_t from, int32_t to) {
    for (const ResampleStage& st : PlanResampleStages(from, to)) {
        const ResampleDesign d = DesignResampler(st.sourceRate, st.targetRate, st.firstOfTwo);
        const std::vector<double> h = ReferenceTaps(d);
        std::vector<double> y((static_cast<int64_t>(x.size()) * d.phases + d.step - 1) / d.step);
        for (int64_t k = 0; k < static_cast<int64_t>(y.size()); ++k) {
            const int64_t n = k * d.step / d.phases, p = k * d.step % d.phases;
            for (int64_t j = std::max<int64_t>(-31, -n); j <= 31 && n + j < static_cast<int64_t>(x.size());
                 ++j)
                y[k] += kStageGain * x[n + j] * h[p * 63 + j + 31];
        }
        x = std::move(y);
    }
    return x;
}

// Amplitude at one frequency through a Blackman-Harris window, without the
// edges where the filter starts and stops.
template <class T>
double Amplitude(const std::vector<T>& v, int32_t rate, double freq) {
    const size_t skip = v.size() / 20, n = v.size() - 2 * skip;
    std::complex<double> acc;
    double wsum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double a = 2 * kPi * static_cast<double>(i) / static_cast<double>(n - 1);
        const double w =
            0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
        acc += w * static_cast<double>(v[skip + i]) *
               std::polar(1.0, -2 * kPi * freq * static_cast<double>(i) / rate);
        wsum += w;
    }
    return 2 * std::abs(acc) / wsum;
}

TEST(ResampleDesign, PhaseCountsStepsAndTableMatchTheDoubleDesign) {
    const ResampleDesign half = DesignResampler(44100, 22050), up = DesignResampler(44100, 48000);
    EXPECT_EQ(half.phases, 1);
    EXPECT_EQ(half.step, 2);
    EXPECT_EQ(up.phases, 37);
    EXPECT_EQ(up.step, 34);
    // Nothing comes within 0.001 of 100/48000: the closest fraction wins, never a step of 0.
    const ResampleDesign extreme = DesignResampler(100, 48000);
    EXPECT_EQ(extreme.phases, 255);
    EXPECT_EQ(extreme.step, 1);
    EXPECT_TRUE(DesignResampler(0, 48000).taps.empty());

    for (const ResampleDesign& d : {half, up, DesignResampler(48000, 16000, true)}) {
        const std::vector<double> ref = ReferenceTaps(d);
        ASSERT_EQ(d.taps.size(), ref.size());
        for (size_t i = 0; i < ref.size(); ++i)
            ASSERT_NEAR(d.taps[i], 65536 * ref[i], 1.0) << i;
    }
}

TEST(ResampleDesign, StagesNeverGoBelowAQuarter) {
    const auto two = PlanResampleStages(48000, 8000);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].targetRate, 16000);
    EXPECT_TRUE(two[0].firstOfTwo);
    EXPECT_FALSE(two[1].firstOfTwo);
    EXPECT_EQ(PlanResampleStages(44100, 22050).size(), 1u);
    EXPECT_EQ(PlanResampleStages(11025, 44100).size(), 1u);

    const auto chain = PlanResampleStages(48000, 100);
    ASSERT_GT(chain.size(), 2u);
    EXPECT_EQ(chain.front().sourceRate, 48000);
    EXPECT_EQ(chain.back().targetRate, 100);
    for (size_t i = 0; i < chain.size(); ++i) {
        EXPECT_GE(4 * chain[i].targetRate, chain[i].sourceRate);
        EXPECT_EQ(chain[i].sourceRate, i == 0 ? 48000 : chain[i - 1].targetRate);
        EXPECT_GT(DesignResampler(chain[i].sourceRate, chain[i].targetRate, chain[i].firstOfTwo).cutoff, 0);
    }
    // A steady level comes through the whole chain with each stage's gain.
    Ref<AudioSource> s = ResampleStream(Source(48000, 1, std::vector<int32_t>(96000, 1000)), 100);
    EXPECT_EQ(s->SampleRate(), 100);
    const double expected = 1000 * std::pow(kStageGain, chain.size());
    EXPECT_NEAR(ReadAt(*s, 100, 1)[0], expected, expected * 1e-3);
}

TEST(ResampleStream, ResponseMatchesTheDoublePrecisionDesign) {
    struct Case {
        int32_t from, to;
        std::vector<double> pass, stop;  // stop: tones whose alias or image is measured
    };
    for (const Case& c : {Case{44100, 22050, {100, 1000, 5000, 9000}, {12500, 15000, 20000}},
                          Case{44100, 48000, {100, 1000, 10000, 19000}, {8000, 15000}},
                          Case{48000, 8000, {100, 1000, 3000}, {5000, 10000, 19000}}}) {
        SCOPED_TRACE(::testing::Message() << c.from << " -> " << c.to);
        // N/P only approximates S/T: frequencies move by this factor.
        double input = 16383.5 * 16, factor = 1;
        for (const ResampleStage& st : PlanResampleStages(c.from, c.to)) {
            const ResampleDesign d = DesignResampler(st.sourceRate, st.targetRate, st.firstOfTwo);
            factor *=
                static_cast<double>(d.step) * d.targetRate / (static_cast<double>(d.sourceRate) * d.phases);
            input *= kStageGain;
        }
        // dB re the input at where a tone (or, upsampling, its image at S - f) lands.
        auto measure = [&](double tone, bool image) {
            const double m = std::fmod((image ? c.from - tone : tone) * factor, c.to);
            const double at = m > c.to / 2 ? c.to - m : m;
            const std::vector<int32_t> x = Sine(c.from, tone, c.from / 2);
            Ref<AudioSource> s = ResampleStream(Source(c.from, 1, x), c.to);
            const double ours = Amplitude(ReadAt(*s, 0, s->Length()), c.to, at);
            const double ref = Amplitude(ReferenceConvert({x.begin(), x.end()}, c.from, c.to), c.to, at);
            return std::pair{20 * std::log10(ours / input), 20 * std::log10(ref / input)};
        };
        for (double f : c.pass) {
            const auto [ours, ref] = measure(f, false);
            EXPECT_NEAR(ours, ref, 0.05) << f;
            EXPECT_NEAR(ours, 0, 0.3) << f;
        }
        for (double f : c.stop) {
            const auto [ours, ref] = measure(f, c.from < c.to);
            EXPECT_LT(ours, -40) << f;
            // Further down, the Q16 rounding of the taps sets our floor.
            if (ref > -70) {
                EXPECT_NEAR(ours, ref, 3) << f;
            }
        }
    }
}

TEST(ResampleStream, ToneKeepsItsFrequency) {
    Ref<AudioSource> s = ResampleStream(Source(44100, 1, Sine(44100, 1000, 88200)), 48000);
    const std::vector<int32_t> out = ReadAt(*s, 0, s->Length());
    double first = -1, last = 0;  // rising zero crossings, interpolated
    int cycles = -1;
    for (size_t i = 200; i + 200 < out.size(); ++i)
        if (out[i - 1] < 0 && out[i] >= 0) {
            last = static_cast<double>(i - 1) + static_cast<double>(-out[i - 1]) / (out[i] - out[i - 1]);
            if (first < 0) first = last;
            ++cycles;
        }
    // 34/37 input frames per output frame: 1000 Hz lands at 1000.18 Hz.
    EXPECT_NEAR(cycles * 48000.0 / (last - first), 1000.0 * 34 * 48000 / (44100.0 * 37), 0.02);
}

TEST(ResampleStream, SeekThenReadEqualsReadingStraightThrough) {
    std::mt19937 rng(7);
    std::vector<int32_t> noise(2 * 30000);
    for (size_t i = 0; i < noise.size(); ++i)  // loud and quiet stretches: varying headroom shifts
        noise[i] = (static_cast<int32_t>(rng() % 1000001) - 500000) >> (i / 20000 % 2 ? 8 : 0);
    for (int32_t to : {48000, 22050, 8000}) {
        Ref<AudioSource> s = ResampleStream(Source(44100, 2, noise), to);
        const int32_t start = -100, frames = s->Length() + 300;
        const std::vector<int32_t> all = ReadAt(*s, start, frames);
        // Starts of input blocks (8192 frames), out of order, then anywhere.
        const ResampleDesign d = DesignResampler(44100, to);
        std::vector<int32_t> seeks;
        for (int64_t b : {0, 2, 1, 3})
            seeks.push_back(static_cast<int32_t>(b * 8192 * d.phases / d.step + 1));
        for (int i = 0; i < 40; ++i)
            seeks.push_back(start + static_cast<int32_t>(rng() % (frames - 900)));
        for (int32_t at : seeks) {
            const int32_t n = 1 + static_cast<int32_t>(rng() % 900);
            const std::vector<int32_t> part = ReadAt(*s, at, n);
            ASSERT_TRUE(std::equal(part.begin(), part.end(), all.begin() + 2 * (at - start)))
                << to << " at " << at;
            EXPECT_EQ(s->Position(), at + n);
        }
        // Far outside, with input positions beyond 32 bits: silence, every sample written.
        for (int32_t at : {kInt32Min, std::numeric_limits<int32_t>::max() - 10}) {
            const std::vector<int32_t> far = ReadAt(*s, at, 20);
            EXPECT_EQ(std::count(far.begin(), far.end(), 0), 40);
        }
    }
}

TEST(ResampleStream, LengthTailAndEmptySource) {
    for (auto [from, to] : {std::pair{44100, 48000}, std::pair{44100, 22050}, std::pair{8000, 44100}}) {
        const ResampleDesign d = DesignResampler(from, to);
        for (int32_t len : {0, 1, 37, 12345}) {
            Ref<AudioSource> s = ResampleStream(Source(from, 1, std::vector<int32_t>(len, 8000)), to);
            const double exact = static_cast<double>(len) * d.phases / d.step;
            EXPECT_GE(s->Length(), exact);
            EXPECT_LT(s->Length(), exact + 1);
        }
        // The filter rings out past the end, then falls silent.
        Ref<AudioSource> s = ResampleStream(Source(from, 1, std::vector<int32_t>(12345, 8000)), to);
        const int32_t len = s->Length(), tail = 1 + static_cast<int32_t>(32 * d.phases / d.step);
        const std::vector<int32_t> out = ReadAt(*s, 0, len + tail + 50);
        EXPECT_NEAR(out[len / 2], kStageGain * 8000, 10);
        EXPECT_NE(out[len - 1], 0);
        EXPECT_NE(out[len + tail - 10], 0);
        EXPECT_TRUE(std::all_of(out.begin() + len + tail, out.end(), [](int32_t v) { return v == 0; }));
    }
    Ref<AudioSource> empty = ResampleStream(Source(44100, 2, {}), 48000);
    const std::vector<int32_t> out = ReadAt(*empty, 0, 100);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), 200);
    EXPECT_EQ(empty->Position(), 100);
}

TEST(ResampleStream, ExactValuesOnBothKernelsIncludingTheWorstCase) {
    const ResampleDesign half = DesignResampler(44100, 22050), up = DesignResampler(44100, 48000);
    // The phase with the largest sum of |taps|: fed +-full scale matching the
    // taps' signs, its 32-bit sum would pass 2^31.
    int worst = 0;
    int64_t worstSum = 0;
    for (int p = 0; p < up.phases; ++p) {
        int64_t sum = 0;
        for (int m = 0; m < 63; ++m)
            sum += std::abs(up.taps[p * 63 + m]);
        if (sum > worstSum) worstSum = sum, worst = p;
    }
    ASSERT_GT(32767 * worstSum, int64_t{1} << 31);
    int64_t k = 37;
    while (k * up.step % up.phases != worst)
        ++k;
    const int64_t centre = k * up.step / up.phases;

    std::mt19937 rng(3);
    std::vector<int32_t> noise(3 * 40000);  // every headroom shift from 0 to 17
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<int32_t>(rng()) >> (i / 3000 % 18);
    std::vector<int32_t> noiseOut[2];

    for (bool plain : {false, true}) {
        UsePlainResampleKernel(plain);
        for (int sign : {1, -1}) {
            std::vector<int32_t> x(200, 0);
            for (int m = 0; m < 63; ++m)
                x[centre - 31 + m] = sign * (up.taps[worst * 63 + m] < 0 ? -kFullScale16 : kFullScale16);
            const int right = kResampleOutputShift - 4;  // 16-bit input: headroom shift 4
            EXPECT_EQ(ReadAt(*ResampleStream(Source(44100, 1, x), 48000), static_cast<int32_t>(k), 1)[0],
                      (sign * 32767 * worstSum + (1 << (right - 1))) >> right);
        }
        // Impulses far apart: each output is one sample times one tap. The
        // peak 65535 would round to 32768 at a shift of 1, so it takes 2.
        std::vector<int32_t> impulses(1000, 0);
        const int32_t values[] = {65535, -39999, 12345, -3};
        for (int i = 0; i < 4; ++i)
            impulses[200 * (i + 1)] = values[i];
        const std::vector<int32_t> out = ReadAt(*ResampleStream(Source(44100, 1, impulses), 22050), 0, 500);
        const int right = kResampleOutputShift - 2;
        for (int i = 0; i < 4; ++i)
            for (int j = -30; j <= 30; j += 2) {
                const int64_t sum = int64_t{(values[i] + 2) >> 2} * half.taps[31 + j];
                ASSERT_EQ(out[(200 * (i + 1) - j) / 2], (sum + (1 << (right - 1))) >> right) << i << " " << j;
            }
        // Peaks near 2^31 take a shift of 16 or 17: the output is shifted left, then saturates.
        impulses.assign(200, 0);
        impulses[100] = 32767 << 16;
        EXPECT_EQ(ReadAt(*ResampleStream(Source(44100, 1, impulses), 22050), 50, 1)[0],
                  int64_t{32767} * half.taps[31] * (1 << (16 - kResampleOutputShift)));
        EXPECT_EQ(
            ReadAt(*ResampleStream(Source(44100, 1, std::vector<int32_t>(200, kInt32Min)), 22050), 50, 1)[0],
            kInt32Min);

        Ref<AudioSource> s = ResampleStream(Source(44100, 3, noise), 48000);
        noiseOut[plain] = ReadAt(*s, -50, s->Length() + 100);
    }
    UsePlainResampleKernel(false);
    EXPECT_EQ(noiseOut[0], noiseOut[1]);
}

TEST(ResampleStream, FormatChannelsAndDegenerateRates) {
    // Channels are converted independently, each with its own headroom.
    std::vector<int32_t> three(3 * 5000), mono[3];
    for (int i = 0; i < 5000; ++i)
        for (int c = 0; c < 3; ++c)
            mono[c].push_back(three[3 * i + c] = (i * 7919 % 4001 - 2000) << (4 * c));
    Ref<AudioSource> s = ResampleStream(Source(22050, 3, three), 32000);
    EXPECT_EQ(s->Channels(), 3);
    EXPECT_EQ(s->SampleRate(), 32000);
    EXPECT_EQ(s->FullScale(), 2 * kFullScale16);
    const std::vector<int32_t> all = ReadAt(*s, 0, s->Length());
    for (int c = 0; c < 3; ++c) {
        const std::vector<int32_t> one =
            ReadAt(*ResampleStream(Source(22050, 1, mono[c]), 32000), 0, s->Length());
        for (size_t i = 0; i < one.size(); ++i)
            ASSERT_EQ(all[3 * i + c], one[i]) << c << " " << i;
    }
    EXPECT_EQ(
        ResampleStream(MakeRef<VectorSource>(std::vector<int32_t>{}, 8000, 1, kFullScaleHeadroom), 16000)
            ->FullScale(),
        kFullScaleHeadroom);

    Ref<AudioSource> src = Source(44100, 2, std::vector<int32_t>(100, 1));
    EXPECT_EQ(ResampleStream(src, 44100), src);
    for (int32_t bad : {0, -48000}) {
        Ref<AudioSource> r = ResampleStream(src, bad);
        EXPECT_EQ(r->Status(), kSourceUnusable);
        const std::vector<int32_t> out = ReadAt(*r, 0, 10);
        EXPECT_EQ(std::count(out.begin(), out.end(), 0), 20);
    }
}

}  // namespace
}  // namespace sonitor
