#pragma once

#include <array>
#include <cstdint>

#include "foundation/AudioSource.h"

namespace sonitor {

// A magnitude curve over 2048 frequency bins from 0 to half the rate; 128 is
// unity.
using BinCurve = std::array<uint8_t, 2048>;

// The zero-phase 4095-tap linear-phase filter that realises curve, as a
// processor over source (integer direct form with a per-block headroom
// shift; its results are fixed bit for bit).
Ref<AudioSource> CreateBlockFilter(Ref<AudioSource> source, const BinCurve& curve);

}  // namespace sonitor
