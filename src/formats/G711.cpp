#include "formats/G711.h"

#include <array>

namespace sonitor {

namespace {

// Which side a decision value itself falls on. µ-law has a zero output
// level, so its cells are symmetric about 0: the magnitude is |x|. A-law has
// a decision value at 0 (0 is positive), so its cells are symmetric about
// -1/2 and a negative x takes the one's-complement magnitude -x - 1; both
// halves then have cells of the same width.
inline uint32_t TrueMagnitude(int32_t x) {
    return x < 0 ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x);
}
inline uint32_t OnesComplementMagnitude(int32_t x) {
    return static_cast<uint32_t>(x < 0 ? ~x : x);
}

// Position of the highest set bit of a non-zero value.
inline int HighBit(uint32_t v) {
    return 31 - __builtin_clz(v);
}

// µ-law works on 14-bit magnitudes: one 14-bit step is 64 internal units, the
// bias of 33 steps is 2112, and a biased magnitude of 8192 steps (524288)
// lies past the last segment.
constexpr uint32_t kMuBias = 33 * 64;
constexpr uint32_t kMuLimit = 8192 * 64;

// A-law works on 13-bit magnitudes: one step is 128 internal units and 4096
// steps (524288) lie past the last segment.
constexpr uint32_t kALimit = 4096 * 128;

constexpr int32_t MuLawValue(uint8_t code) {
    const int u = static_cast<uint8_t>(~code);
    const int segment = (u >> 4) & 7;
    const int t = (((u & 0x0F) << 3) + 0x84) << segment;
    return 16 * ((u & 0x80) ? 0x84 - t : t - 0x84);
}

constexpr int32_t ALawValue(uint8_t code) {
    const int a = code ^ 0x55;
    const int segment = (a >> 4) & 7;
    int t = (a & 0x0F) << 4;
    if (segment == 0) {
        t += 8;
    } else {
        t = (t + 0x108) << (segment - 1);
    }
    return 16 * ((a & 0x80) ? t : -t);
}

template <int32_t (*Value)(uint8_t)>
constexpr std::array<int32_t, 256> MakeTable() {
    std::array<int32_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = Value(static_cast<uint8_t>(i));
    return table;
}

constexpr std::array<int32_t, 256> kMuLawTable = MakeTable<MuLawValue>();
constexpr std::array<int32_t, 256> kALawTable = MakeTable<ALawValue>();

}  // namespace

int32_t MuLawToInternal(uint8_t code) {
    return kMuLawTable[code];
}
int32_t ALawToInternal(uint8_t code) {
    return kALawTable[code];
}

uint8_t InternalToMuLaw(int32_t x) {
    const uint8_t mask = x < 0 ? 0x7F : 0xFF;
    const uint32_t biased = TrueMagnitude(x) + kMuBias;  // at most 2^31 + 2112
    if (biased >= kMuLimit) return static_cast<uint8_t>(0x7F ^ mask);
    // Segment 0 holds biased magnitudes 2048..4095 (bit 11 the highest).
    const int segment = HighBit(biased) - 11;
    const uint32_t mantissa = (biased >> (segment + 7)) & 0x0F;
    return static_cast<uint8_t>((static_cast<uint32_t>(segment) << 4 | mantissa) ^ mask);
}

uint8_t InternalToALaw(int32_t x) {
    const uint8_t mask = x < 0 ? 0x55 : 0xD5;
    const uint32_t m = OnesComplementMagnitude(x);
    if (m >= kALimit) return static_cast<uint8_t>(0x7F ^ mask);
    // Segments 0 and 1 share one step size (256 internal units); segment s
    // above 0 holds magnitudes 2^(s+11)..2^(s+12)-1.
    const int segment = m < 4096 ? 0 : HighBit(m) - 11;
    const int shift = segment < 2 ? 8 : segment + 7;
    const uint32_t mantissa = (m >> shift) & 0x0F;
    return static_cast<uint8_t>((static_cast<uint32_t>(segment) << 4 | mantissa) ^ mask);
}

void DecodeMuLaw(const uint8_t* codes, size_t count, int32_t* samples) {
    for (size_t i = 0; i < count; ++i)
        samples[i] = kMuLawTable[codes[i]];
}

void DecodeALaw(const uint8_t* codes, size_t count, int32_t* samples) {
    for (size_t i = 0; i < count; ++i)
        samples[i] = kALawTable[codes[i]];
}

void EncodeMuLaw(const int32_t* samples, size_t count, uint8_t* codes) {
    for (size_t i = 0; i < count; ++i)
        codes[i] = InternalToMuLaw(samples[i]);
}

void EncodeALaw(const int32_t* samples, size_t count, uint8_t* codes) {
    for (size_t i = 0; i < count; ++i)
        codes[i] = InternalToALaw(samples[i]);
}

}  // namespace sonitor
