#pragma once

#include <cstdint>

#include "foundation/AudioSource.h"

namespace sonitor {

// The largest factor the phase vocoder takes: beyond it the analysis hop
// passes the FFT size and frames of input would go unread.
inline constexpr double kMaxStretchFactor = 8.0;

// The stretcher's FFT size for a rate: 2^k, k >= 3 the smallest with
// 2^k >= n - n/4, n = rate / 32 (2048 at 44100 Hz, 256 at 8000 Hz), at
// most 16384.
int32_t StretchFftSize(int32_t sampleRate);

// The source played factor times as fast at the same pitch (a phase
// vocoder): its length becomes ceil(length / factor), 100 % gives the input
// back (to rounding) with no delay. Position and Seek are in output frames;
// a seek starts the analysis afresh at the matching input frame. A factor
// that is not in (0, kMaxStretchFactor] gives a silent source of length 0
// with status 3.
Ref<AudioSource> StretchStream(Ref<AudioSource> source, double factor);

}  // namespace sonitor
