#pragma once

// Sources held in memory, for tests of anything that reads an AudioSource.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "foundation/AudioSource.h"

namespace sonitor::test {

// Interleaved samples; silence outside them. Records the largest read, and
// can spoil its status after a number of reads (a file going bad).
class VectorSource final : public AudioSource {
public:
    VectorSource(std::vector<int32_t> samples, int32_t rate, int channels, int32_t fullScale = kFullScale16)
        : AudioSource(rate, fullScale, channels), samples_(std::move(samples)) {}

    void Read(int32_t* buffer, int32_t frames) override {
        largestRead = std::max(largestRead, frames);
        const int64_t ch = Channels();
        for (int64_t i = 0; i < int64_t{frames} * ch; ++i) {
            const int64_t at = position_ * ch + i;
            buffer[i] =
                at >= 0 && at < static_cast<int64_t>(samples_.size()) ? samples_[static_cast<size_t>(at)] : 0;
        }
        position_ += frames;
        if (++reads_ == failAfterReads) SetStatus(7);
    }
    int32_t Position() const override { return static_cast<int32_t>(position_); }
    int32_t Length() const override { return static_cast<int32_t>(samples_.size() / Channels()); }
    void Seek(int32_t position) override { position_ = position; }

    int32_t largestRead = 0;
    int failAfterReads = -1;

private:
    std::vector<int32_t> samples_;
    int64_t position_ = 0;
    int reads_ = 0;
};

// A sine of the given frequency at half of 16-bit full scale in every
// channel, computed on demand.
class ToneSource final : public AudioSource {
public:
    ToneSource(int32_t rate, int channels, int32_t frames, double frequency = 1000.0)
        : AudioSource(rate, kFullScale16, channels), frames_(frames), frequency_(frequency) {}

    void Read(int32_t* buffer, int32_t frames) override {
        for (int32_t i = 0; i < frames; ++i) {
            const int64_t f = int64_t{position_} + i;
            const double v =
                f >= 0 && f < frames_
                    ? 0.5 * std::sin(2 * M_PI * frequency_ * static_cast<double>(f) / SampleRate())
                    : 0.0;
            for (int c = 0; c < Channels(); ++c)
                buffer[static_cast<size_t>(i) * Channels() + c] = static_cast<int32_t>(v * kFullScale16);
        }
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return frames_; }
    void Seek(int32_t position) override { position_ = position; }

private:
    int32_t frames_;
    double frequency_;
    int32_t position_ = 0;
};

}  // namespace sonitor::test
