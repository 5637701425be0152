// The FFT against a naive DFT in long double, the round trip, and the
// window and size helpers.
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "effects/Fft.h"

namespace sonitor {

namespace {

using Spectrum = std::vector<std::complex<double>>;

Spectrum NaiveDft(const Spectrum& in, bool inverse) {
    const size_t n = in.size();
    Spectrum out(n);
    const long double sign = inverse ? 1.0L : -1.0L;
    for (size_t k = 0; k < n; ++k) {
        long double re = 0, im = 0;
        for (size_t t = 0; t < n; ++t) {
            // Reduce k*t modulo n first so that the angle stays small and exact.
            const long double angle =
                sign * 2.0L * std::numbers::pi_v<long double> * static_cast<long double>((k * t) % n) / n;
            const long double c = std::cos(angle), s = std::sin(angle);
            re += in[t].real() * c - in[t].imag() * s;
            im += in[t].real() * s + in[t].imag() * c;
        }
        if (inverse) {
            re /= n;
            im /= n;
        }
        out[k] = {static_cast<double>(re), static_cast<double>(im)};
    }
    return out;
}

double RelativeError(const Spectrum& got, const Spectrum& want) {
    double diff = 0, norm = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        diff += std::norm(got[i] - want[i]);
        norm += std::norm(want[i]);
    }
    return std::sqrt(diff / norm);
}

Spectrum RandomData(std::mt19937& rng, size_t n) {
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    Spectrum x(n);
    for (auto& v : x)
        v = {d(rng), d(rng)};
    return x;
}

}  // namespace

TEST(Fft, MatchesLongDoubleDftBothWaysForEverySize) {
    std::mt19937 rng(7);
    for (size_t n = 2; n <= 512; n *= 2) {
        const Fft fft(n);
        const Spectrum x = RandomData(rng, n);
        Spectrum forward = x;
        fft.Forward(forward);
        EXPECT_LT(RelativeError(forward, NaiveDft(x, false)), 1e-12) << n;
        Spectrum inverse = x;
        fft.Inverse(inverse);
        EXPECT_LT(RelativeError(inverse, NaiveDft(x, true)), 1e-12) << n;
    }
}

TEST(Fft, RoundTripOfALargeSizeReturnsTheInput) {
    std::mt19937 rng(11);
    const Fft fft(size_t{1} << 16);
    const Spectrum x = RandomData(rng, fft.Size());
    Spectrum y = x;
    fft.Forward(y);
    fft.Inverse(y);
    EXPECT_LT(RelativeError(y, x), 1e-13);
}

TEST(Fft, HammingWindowAndPowerOfTwo) {
    const std::vector<double> w = HammingWindow(8);
    ASSERT_EQ(w.size(), 8u);
    EXPECT_DOUBLE_EQ(w[0], 0.08);    // periodic: the ends are not both 0.08
    EXPECT_NEAR(w[4], 1.0, 1e-15);   // the centre
    EXPECT_NEAR(w[2], 0.54, 1e-15);  // a quarter in: cos = 0
    EXPECT_NEAR(w[1], w[7], 1e-15);  // symmetric about the centre

    EXPECT_EQ(PowerOfTwoAtLeast(0, 3), 8u);
    EXPECT_EQ(PowerOfTwoAtLeast(8, 3), 8u);
    EXPECT_EQ(PowerOfTwoAtLeast(9, 3), 16u);
    EXPECT_EQ(PowerOfTwoAtLeast(1000, 0), 1024u);
    EXPECT_EQ(PowerOfTwoAtLeast(SIZE_MAX, 0), (SIZE_MAX >> 1) + 1);  // saturates, does not wrap or hang
}

}  // namespace sonitor
