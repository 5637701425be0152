#pragma once

#include <cstddef>
#include <cstdint>

namespace sonitor {

// ITU-T G.711 on the internal sample scale (16-bit value × 16): the segment
// boundaries and biases are the standard ones multiplied by 16.

// Expansion of one code to an internal sample.
int32_t MuLawToInternal(uint8_t code);
int32_t ALawToInternal(uint8_t code);
// Compression of an internal sample x (of x / 16 on the 16-bit scale) by the
// standard decision values. A decision value itself codes as the larger
// magnitude; a negative A-law input takes the magnitude -x - 1, so the
// A-law cells on either side of the decision value at 0 are equally wide.
uint8_t InternalToMuLaw(int32_t x);
uint8_t InternalToALaw(int32_t x);

// Whole buffers.
void DecodeMuLaw(const uint8_t* codes, size_t count, int32_t* samples);
void DecodeALaw(const uint8_t* codes, size_t count, int32_t* samples);
void EncodeMuLaw(const int32_t* samples, size_t count, uint8_t* codes);
void EncodeALaw(const int32_t* samples, size_t count, uint8_t* codes);

// Largest magnitude a G.711 source delivers on the internal scale.
inline constexpr int32_t kG711FullScale = 516096;

}  // namespace sonitor
