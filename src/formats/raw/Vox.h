#pragma once

#include <cstdint>
#include <string>

#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// Dialogic VOX ADPCM on the internal scale: 4-bit codes, two per byte with
// the high nibble first, mono. The predictor leaks by 1/64 per sample and is
// not clamped, so VOX sources declare the headroom full scale.
struct VoxState {
    int32_t stepIndex = 0;
    int32_t predictor = 0;
};

inline constexpr int32_t kVoxFullScale = 2097152;

// One code (bit 3 sign, bits 0-2 magnitude) to the next sample.
int32_t VoxDecode(VoxState& state, unsigned code);
// The code for an internal sample; the state follows what a decoder will do.
unsigned VoxEncode(VoxState& state, int32_t sample);

// A VOX file of n bytes is 2n samples at the given rate. Reads are exact at
// any position: a seek backwards decodes again from the start of the file.
Ref<AudioSource> OpenVoxSource(const std::string& path, int32_t sampleRate);
// Mono. An odd last sample has no byte to go into and is dropped at close.
Ref<AudioSink> CreateVoxSink(const std::string& path, int32_t sampleRate);

}  // namespace sonitor
