#pragma once

#include <cstdint>
#include <vector>

#include "foundation/AudioSource.h"

namespace sonitor {

// The ceiling every caller uses: 16-bit full scale on the internal scale.
inline constexpr int32_t kLimiterCeiling = kFullScale16;
// Largest ceiling the limiter accepts; larger ones are lowered to it.
inline constexpr int32_t kLimiterMaxCeiling = 4194303;
// Unity gain in 8.24 fixed point.
inline constexpr int32_t kLimiterUnity = 1 << 24;

// The source itself when its full-scale value is at most ceiling, else a
// PeakLimiterSource over it.
Ref<AudioSource> LimitPeaks(Ref<AudioSource> source, int32_t ceiling = kLimiterCeiling);

// Look-ahead peak limiter: lowers the gain smoothly, block by block, so that
// no output sample exceeds the ceiling by more than the rounding of the
// block gain. Delays the output by two blocks, which Position() accounts for.
class PeakLimiterSource final : public AudioSource {
public:
    // A ceiling above kLimiterMaxCeiling is lowered to it, a negative one
    // raised to 0.
    PeakLimiterSource(Ref<AudioSource> inner, int32_t ceiling);

    void Read(int32_t* buffer, int32_t frames) override;
    int32_t Position() const override;
    int32_t Length() const override { return inner_->Length(); }
    // Seeks the inner source; the next Read starts afresh from there.
    void Seek(int32_t position) override;

    int32_t Ceiling() const noexcept { return ceiling_; }
    int32_t BlockFrames() const noexcept { return blockFrames_; }

private:
    int32_t* Block(int slot) noexcept;
    int32_t FillBlock(int slot);
    void Start();
    void Rotate();
    void BeginBlock();

    Ref<AudioSource> inner_;
    int32_t ceiling_;
    int32_t blockFrames_;
    std::vector<int32_t> blocks_;  // three blocks: current, next, the one after
    int current_ = 0;              // slot of the current block; the others follow cyclically
    int32_t gains_[4] = {};        // previous, current, next, the one after (8.24)
    int32_t gain_ = 0;             // running gain (8.24)
    int32_t step_ = 0;             // added to gain_ after every frame
    int32_t delivered_ = 0;        // frames of the current block already read
    bool started_ = false;
};

// Block length for a rate: rate / 35 limited to 20..8192 frames.
int32_t LimiterBlockFrames(int32_t sampleRate);
// Gain (8.24) of a block whose peak magnitude is peak.
int32_t LimiterBlockGain(int64_t peak, int32_t ceiling);
// s * gain / 2^24 from 12-bit halves, the product of the low halves dropped.
// Gains outside 0..2^24 are clamped to it.
int32_t LimiterMultiply(int32_t sample, int32_t gain);

}  // namespace sonitor
