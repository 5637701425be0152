#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace sonitor {

// Radix-2 FFT in double precision over a power-of-two size, with its
// cosine/sine tables built once per size. Forward is unscaled, Inverse
// scales by 1/N, so Inverse(Forward(x)) == x.
class Fft {
public:
    explicit Fft(size_t size);  // size: a power of two, at least 2
    size_t Size() const { return size_; }
    void Forward(std::vector<std::complex<double>>& data) const;
    void Inverse(std::vector<std::complex<double>>& data) const;

private:
    size_t size_;
    std::vector<size_t> reversed_;
    std::vector<std::complex<double>> twiddles_;
};

// The Hamming window 0.54 - 0.46 cos(2 pi i / N), i = 0..N-1.
std::vector<double> HammingWindow(size_t size);

// The smallest power of two 2^k, k >= minLog2, with 2^k >= target.
size_t PowerOfTwoAtLeast(size_t target, int minLog2);

}  // namespace sonitor
