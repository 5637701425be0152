#include "foundation/PeakLimiter.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sonitor {
namespace {

int32_t ClampCeiling(int32_t ceiling) {
    return std::clamp(ceiling, 0, kLimiterMaxCeiling);
}

// s * G / 2^24 from 12-bit halves, given G's halves. For G in 0..2^24 no
// partial product or sum leaves 32 bits: |s >> 12| <= 2^19, G >> 12 <= 4096,
// and G & 4095 is 0 when G >> 12 is 4096.
inline int32_t Scale(int32_t sample, int32_t gainHigh, int32_t gainLow) {
    const int32_t high = sample >> 12;
    return (((sample & 4095) * gainHigh) >> 12) + ((gainLow * high) >> 12) + high * gainHigh;
}

// Returns the gain after the last frame. A fixed channel count lets the
// compiler unroll the inner loop.
template <int kFixedChannels>
int32_t ApplyRamp(const int32_t* in, int32_t* out, int32_t frames, int channels, int32_t gain, int32_t step) {
    const int ch = kFixedChannels > 0 ? kFixedChannels : channels;
    for (int32_t f = 0; f < frames; ++f, in += ch, out += ch) {
        const int32_t high = gain >> 12;
        const int32_t low = gain & 4095;
        for (int c = 0; c < ch; ++c)
            out[c] = Scale(in[c], high, low);
        gain += step;
    }
    return gain;
}

// Largest magnitude. Four lanes of running extremes let the compiler use
// vector registers at -O2.
int64_t PeakOf(const int32_t* p, size_t count) {
    using Lanes = int32_t __attribute__((vector_size(16)));
    Lanes lo = {0, 0, 0, 0};
    Lanes hi = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Lanes v;
        std::memcpy(&v, p + i, sizeof v);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    int32_t least = std::min({lo[0], lo[1], lo[2], lo[3]});
    int32_t most = std::max({hi[0], hi[1], hi[2], hi[3]});
    for (; i < count; ++i) {
        least = std::min(least, p[i]);
        most = std::max(most, p[i]);
    }
    return std::max<int64_t>(most, -static_cast<int64_t>(least));
}

}  // namespace

int32_t LimiterBlockFrames(int32_t sampleRate) {
    return std::clamp(sampleRate / 35, 20, 8192);
}

int32_t LimiterBlockGain(int64_t peak, int32_t ceiling) {
    const int64_t m = ClampCeiling(ceiling);
    if (peak <= m) return kLimiterUnity;
    // (peak + 64) / 64 written so that no peak can overflow; the quotient is
    // below 2^15, so the gain stays below unity.
    const int64_t divisor = peak / 64 + 1;
    return static_cast<int32_t>((m * 512) / divisor * 512);
}

int32_t LimiterMultiply(int32_t sample, int32_t gain) {
    gain = std::clamp(gain, 0, kLimiterUnity);
    return Scale(sample, gain >> 12, gain & 4095);
}

Ref<AudioSource> LimitPeaks(Ref<AudioSource> source, int32_t ceiling) {
    if (!source) return MakeNullSource(kSourceUnusable);
    if (source->FullScale() <= ceiling) return source;
    return MakeRef<PeakLimiterSource>(std::move(source), ceiling);
}

PeakLimiterSource::PeakLimiterSource(Ref<AudioSource> inner, int32_t ceiling)
    : AudioSource(inner ? inner->SampleRate() : 0, ClampCeiling(ceiling), inner ? inner->Channels() : 0,
                  inner ? inner->Status() : static_cast<uint8_t>(kSourceUnusable)),
      inner_(inner ? std::move(inner) : MakeNullSource(kSourceUnusable)),
      ceiling_(ClampCeiling(ceiling)),
      blockFrames_(LimiterBlockFrames(SampleRate())),
      blocks_(static_cast<size_t>(3) * blockFrames_ * Channels()) {}

int32_t* PeakLimiterSource::Block(int slot) noexcept {
    return blocks_.data() + static_cast<size_t>(slot) * blockFrames_ * Channels();
}

// Reads the next block of the inner source into slot and returns its gain.
int32_t PeakLimiterSource::FillBlock(int slot) {
    int32_t* block = Block(slot);
    inner_->Read(block, blockFrames_);
    return LimiterBlockGain(PeakOf(block, static_cast<size_t>(blockFrames_) * Channels()), ceiling_);
}

void PeakLimiterSource::Start() {
    const int32_t first = FillBlock(0);
    gains_[0] = first;
    gains_[1] = first;
    gains_[2] = FillBlock(1);
    gains_[3] = FillBlock(2);
    current_ = 0;
    gain_ = first;
    BeginBlock();
    started_ = true;
}

void PeakLimiterSource::Rotate() {
    const int32_t incoming = FillBlock(current_);
    current_ = (current_ + 1) % 3;
    gains_[0] = gains_[1];
    gains_[1] = gains_[2];
    gains_[2] = gains_[3];
    gains_[3] = incoming;
    BeginBlock();
}

// The gain may fall as fast as the next block needs but rises no faster than
// the average of the four known blocks allows. The remainder is applied at
// once so that the ramp lands exactly on the target at the block's end.
void PeakLimiterSource::BeginBlock() {
    const int32_t average = (gains_[0] + gains_[1] + gains_[2] + gains_[3]) / 4;
    const int32_t target = std::min(std::min(gains_[1], gains_[2]), average);
    const int32_t change = target - gain_;
    gain_ += change % blockFrames_;
    step_ = change / blockFrames_;
    delivered_ = 0;
}

void PeakLimiterSource::Read(int32_t* buffer, int32_t frames) {
    if (frames <= 0) return;
    if (!started_) Start();
    const int channels = Channels();
    while (frames > 0) {
        if (delivered_ == blockFrames_) Rotate();
        const int32_t n = std::min(frames, blockFrames_ - delivered_);
        const int32_t* in = Block(current_) + static_cast<size_t>(delivered_) * channels;
        const size_t count = static_cast<size_t>(n) * channels;
        if (gain_ >= kLimiterUnity && step_ == 0) {
            std::memcpy(buffer, in, count * sizeof(int32_t));
        } else if (channels == 2) {
            gain_ = ApplyRamp<2>(in, buffer, n, channels, gain_, step_);
        } else if (channels == 1) {
            gain_ = ApplyRamp<1>(in, buffer, n, channels, gain_, step_);
        } else {
            gain_ = ApplyRamp<0>(in, buffer, n, channels, gain_, step_);
        }
        buffer += count;
        frames -= n;
        delivered_ += n;
    }
}

int32_t PeakLimiterSource::Position() const {
    if (!started_) return inner_->Position();
    const int64_t position =
        static_cast<int64_t>(inner_->Position()) - 3 * static_cast<int64_t>(blockFrames_) + delivered_;
    return static_cast<int32_t>(position);
}

void PeakLimiterSource::Seek(int32_t position) {
    inner_->Seek(position);
    started_ = false;
}

}  // namespace sonitor
