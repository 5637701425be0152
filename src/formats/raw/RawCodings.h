#pragma once

#include <cstddef>
#include <cstdint>

namespace sonitor {

// The headerless sample codings, numbered as the "Codec" value of the raw
// settings and the order of the codec list.
enum RawCoding : int32_t {
    kRawVox = 0,           // Dialogic ADPCM, 4 bits per sample, mono
    kRawMuLaw = 1,         // G.711 µ-law
    kRawALaw = 2,          // G.711 A-law
    kRawPcm16LE = 3,       // signed 16-bit little-endian
    kRawPcm8Unsigned = 4,  // unsigned 8-bit, 128 = silence
    kRawPcm8Signed = 5,    // signed 8-bit
    kRawPcm16BE = 6,       // signed 16-bit big-endian
};
inline constexpr int32_t kRawCodingCount = 7;

bool IsRawCoding(int32_t coding);
// The name shown in the codec list; "" for an unknown index.
const char* RawCodingName(int32_t coding);
// Bytes of one stored sample for codings 1..6; 0 for VOX and unknown codings.
int RawBytesPerSample(int32_t coding);
// Full scale a source of the coding declares.
int32_t RawFullScale(int32_t coding);

// Whole-buffer conversions of `count` samples for codings 1..6 (others leave
// the output alone). Encoding clamps to the stored range instead of wrapping.
void DecodeRawSamples(int32_t coding, const uint8_t* bytes, size_t count, int32_t* samples);
void EncodeRawSamples(int32_t coding, const int32_t* samples, size_t count, uint8_t* bytes);

// Internal sample to 16-bit value: (x + 8) >> 4, limited to -32768..32767.
inline int16_t InternalTo16(int32_t x) {
    const int64_t v = (static_cast<int64_t>(x) + 8) >> 4;
    return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

}  // namespace sonitor
