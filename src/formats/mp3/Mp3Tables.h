#pragma once

#include <cstdint>

// Constant tables of MPEG-1/2/2.5 Layer III decoding (ISO 11172-3 and
// 13818-3). Internal to the decoder.
namespace sonitor::mp3 {

// Sample-rate tables are indexed by version * 3 + sample-rate index, with
// version 0 = MPEG-1, 1 = MPEG-2, 2 = MPEG-2.5.
inline constexpr int kRateTables = 9;

// Layer III bitrates in kbit/s by bitrate index: [0] MPEG-1, [1] MPEG-2/2.5.
extern const uint16_t kBitrateKbps[2][16];
// Sample rates in Hz by rate table.
extern const int32_t kSampleRates[kRateTables];

// Scale-factor band edges in frequency lines: 22 long bands (23 edges) over
// 576 lines, 13 short bands (14 edges) over the 192 lines of one window.
extern const uint16_t kLongBandEdges[kRateTables][23];
extern const uint16_t kShortBandEdges[kRateTables][14];

// Boost of the upper long bands when preflag is set.
extern const uint8_t kPretab[22];
// MPEG-1 scalefac_compress -> bit lengths of the two band groups.
extern const uint8_t kSlen[2][16];
// MPEG-2 scale-factor partition sizes: [table][block kind][partition] where
// the block kind is 0 long, 1 short, 2 mixed. Tables 0-2 are selected by
// scalefac_compress, 3-5 by the intensity-stereo right channel.
extern const uint8_t kLsfPartitions[6][3][4];

// Huffman code books. Pair tables give their code words as a string of
// binary code words separated by spaces, in the order x = 0..xlen-1 (outer),
// y = 0..xlen-1 (inner). Tables 0, 4 and 14 hold no codes.
struct PairTableInfo {
    const char* codes;  // nullptr for the empty tables
    uint8_t xlen;       // values per coordinate, 15 meaning an escape where linbits > 0
    uint8_t linbits;
};
extern const PairTableInfo kPairTables[32];
// Count1 table A, as code words for v*8 + w*4 + x*2 + y = 0..15. Table B is
// the fixed 4-bit code 15 - value.
extern const char kQuadCodesA[];

// The synthesis window in units of 2^-16 (every entry of the published
// window is a multiple of 2^-16): D[i] = (-1)^floor(i / 64) * h[min(i, 512 - i)]
// / 65536 for i = 0..511, with h[0..256] tabulated here.
extern const int32_t kSynthesisWindowHalf[257];

// D[i] for i = 0..511 as a real number.
double SynthesisWindowValue(int i);

}  // namespace sonitor::mp3
