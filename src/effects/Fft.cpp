#include "effects/Fft.h"

#include <cassert>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

namespace sonitor {

// Iterative decimation-in-time radix-2 transform. The twiddle table holds
// each stage's factors one after the other (the stage of half-length h at
// offset h - 1: exp(-2 pi i k / 2h), k < h), so every stage walks its
// factors in order. Each factor is computed directly from sin/cos rather
// than by repeated multiplication, so that the rounding error stays at one
// library call per factor and does not grow with N.
Fft::Fft(size_t size) : size_(size) {
    assert(size >= 2 && (size & (size - 1)) == 0);
    int bits = 0;
    while ((size_t{1} << bits) < size)
        ++bits;
    reversed_.resize(size);
    for (size_t i = 0; i < size; ++i) {
        size_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1u) << (bits - 1 - b);
        reversed_[i] = r;
    }
    twiddles_.resize(size - 1);
    for (size_t half = 1; half < size; half *= 2) {
        for (size_t k = 0; k < half; ++k) {
            // The factor of the full size at k * (size / 2h): the same value
            // in every stage that has it.
            const size_t j = k * (size / (2 * half));
            const double angle = -2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(size);
            twiddles_[half - 1 + k] = {std::cos(angle), std::sin(angle)};
        }
    }
}

namespace {

// The butterflies in plain real arithmetic: std::complex multiplication
// checks for infinities and NaN on every product, which costs more than
// the product itself. Inverse uses the conjugate factors.
template <bool kInverse>
void Transform(std::vector<std::complex<double>>& data, const std::vector<size_t>& reversed,
               const std::vector<std::complex<double>>& twiddles) {
    const size_t n = reversed.size();
    for (size_t i = 0; i < n; ++i) {
        const size_t r = reversed[i];
        if (i < r) std::swap(data[i], data[r]);
    }
    // Complex arrays may be read as pairs of doubles.
    double* d = reinterpret_cast<double*>(data.data());
    const double* t = reinterpret_cast<const double*>(twiddles.data());
    for (size_t start = 0; start < n; start += 2) {
        double* a = d + 2 * start;
        const double re = a[2], im = a[3];
        a[2] = a[0] - re;
        a[3] = a[1] - im;
        a[0] += re;
        a[1] += im;
    }
    for (size_t half = 2; half < n; half *= 2) {
        const double* w = t + 2 * (half - 1);
        for (size_t start = 0; start < n; start += 2 * half) {
            double* a = d + 2 * start;
            double* b = a + 2 * half;
            for (size_t k = 0; k < half; ++k) {
                const double wr = w[2 * k];
                const double wi = kInverse ? -w[2 * k + 1] : w[2 * k + 1];
                const double br = b[2 * k], bi = b[2 * k + 1];
                const double tr = br * wr - bi * wi;
                const double ti = br * wi + bi * wr;
                const double ar = a[2 * k], ai = a[2 * k + 1];
                a[2 * k] = ar + tr;
                a[2 * k + 1] = ai + ti;
                b[2 * k] = ar - tr;
                b[2 * k + 1] = ai - ti;
            }
        }
    }
}

}  // namespace

void Fft::Forward(std::vector<std::complex<double>>& data) const {
    assert(data.size() == size_);
    Transform<false>(data, reversed_, twiddles_);
}

void Fft::Inverse(std::vector<std::complex<double>>& data) const {
    assert(data.size() == size_);
    Transform<true>(data, reversed_, twiddles_);
    double scale = 1.0 / static_cast<double>(size_);
    for (auto& value : data) {
        value *= scale;
    }
}

std::vector<double> HammingWindow(size_t size) {
    std::vector<double> window(size);
    for (size_t i = 0; i < size; ++i) {
        window[i] = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                           static_cast<double>(size));
    }
    return window;
}

size_t PowerOfTwoAtLeast(size_t target, int minLog2) {
    size_t value = size_t{1} << minLog2;
    // Stop at the largest power of two rather than wrapping to zero.
    while (value < target && value <= (SIZE_MAX >> 1)) {
        value *= 2;
    }
    return value;
}

}  // namespace sonitor
