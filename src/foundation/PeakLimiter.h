#pragma once

#include <cstdint>

#include "foundation/AudioSource.h"

namespace sonitor {

// The ceiling every caller uses: 16-bit full scale on the internal scale.
inline constexpr int32_t kLimiterCeiling = kFullScale16;

// The source itself when its full-scale value is at most ceiling, else a
// PeakLimiterSource over it.
Ref<AudioSource> LimitPeaks(Ref<AudioSource> source, int32_t ceiling = kLimiterCeiling);

// Look-ahead peak limiter: lowers the gain smoothly, block by block, so that
// no output sample exceeds the ceiling by more than the rounding of the
// block gain. Delays the output by two blocks, which Position() accounts for.
class PeakLimiterSource;

// Block length for a rate: rate / 35 limited to 20..8192 frames.
int32_t LimiterBlockFrames(int32_t sampleRate);
// Gain (8.24) of a block whose peak magnitude is peak.
int32_t LimiterBlockGain(int64_t peak, int32_t ceiling);
// s * gain / 2^24 from 12-bit halves, the product of the low halves dropped.
int32_t LimiterMultiply(int32_t sample, int32_t gain);

}  // namespace sonitor
