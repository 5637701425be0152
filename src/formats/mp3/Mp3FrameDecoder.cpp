#include "formats/mp3/Mp3FrameDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "formats/mp3/Mp3BitReader.h"
#include "formats/mp3/Mp3Huffman.h"
#include "formats/mp3/Mp3Tables.h"

namespace sonitor {

namespace {

using mp3::BitReader;

constexpr int kLines = 576;
constexpr int kSubbands = 32;
constexpr int kSlots = 18;
// Output scale: 1.0 of the decoded signal is 16-bit full scale times 16.
constexpr double kOutputScale = 524288.0;
// Largest reach back into earlier frames: 9 bits of main_data_begin.
constexpr size_t kMaxBackReach = 511;
constexpr size_t kReservoirCapacity = 4096;

struct GranuleChannel {
    uint16_t part23Length = 0;
    uint16_t bigValues = 0;
    uint16_t globalGain = 0;
    uint16_t scalefacCompress = 0;
    bool windowSwitching = false;
    uint8_t blockType = 0;
    bool mixed = false;
    uint8_t tableSelect[3] = {0, 0, 0};
    uint8_t subblockGain[3] = {0, 0, 0};
    uint8_t region0Count = 0;
    uint8_t region1Count = 0;
    bool preflag = false;
    uint8_t scalefacScale = 0;
    uint8_t count1Table = 0;

    bool ShortBlocks() const noexcept { return windowSwitching && blockType == 2; }
};

struct SideInfo {
    uint16_t mainDataBegin = 0;
    uint8_t scfsi[2][4] = {};
    GranuleChannel gc[2][2];
};

struct ScaleFactors {
    uint8_t l[22] = {};
    uint8_t s[13][3] = {};
    // Largest value each factor could take; with MPEG-2 intensity stereo that
    // value in the right channel marks a band as not intensity coded.
    uint8_t lMax[22] = {};
    uint8_t sMax[13][3] = {};
};

// A run of lines sharing one scale factor, in the order of the coded
// spectrum. window is -1 for long bands.
struct Band {
    int16_t start;
    int16_t end;
    int8_t sfb;
    int8_t window;
};

// Tables computed once.
struct Constants {
    float pow43[2 * 8206 + 1];  // |v|^(4/3) with the sign of v, for v = -8206..8206
    float imdctLong[18][20];    // [input][output]: outputs 0..8 and 18..26, padded for vectors
    float windowLong[4][36];    // by block type (2 unused)
    float imdctShort[12][6];
    float windowShort[12];
    float antialiasCs[8];
    float antialiasCa[8];
    float synthesisWindow[16][32];  // D[32 t + j], output scale included
    float dct32[16], dct16[8], dct8[4], dct4[2], dct2[1];
    float intensity1[7][2];        // MPEG-1 is_pos -> left, right factors
    float intensityLsf[2][32][2];  // intensity_scale, is_pos -> left, right
};

Constants MakeConstants() {
    Constants c{};
    for (int i = 0; i <= 8206; ++i) {
        const auto m = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
        c.pow43[8206 + i] = m;
        c.pow43[8206 - i] = -m;
    }
    const double pi = std::acos(-1.0);
    for (int r = 0; r < 18; ++r) {
        const int i = r < 9 ? r : r + 9;  // the other outputs mirror these
        for (int k = 0; k < 18; ++k)
            c.imdctLong[k][r] = static_cast<float>(std::cos(pi / 72 * (2 * i + 19) * (2 * k + 1)));
    }
    for (int i = 0; i < 36; ++i) {
        const double normal = std::sin(pi / 36 * (i + 0.5));
        c.windowLong[0][i] = static_cast<float>(normal);
        // Start window (type 1) and stop window (type 3) bridge to short blocks.
        double start = 0;
        if (i < 18)
            start = normal;
        else if (i < 24)
            start = 1;
        else if (i < 30)
            start = std::sin(pi / 12 * (i - 18 + 0.5));
        c.windowLong[1][i] = static_cast<float>(start);
        double stop = 0;
        if (i >= 18)
            stop = normal;
        else if (i >= 12)
            stop = 1;
        else if (i >= 6)
            stop = std::sin(pi / 12 * (i - 6 + 0.5));
        c.windowLong[3][i] = static_cast<float>(stop);
        c.windowLong[2][i] = 0;
    }
    for (int i = 0; i < 12; ++i) {
        for (int k = 0; k < 6; ++k)
            c.imdctShort[i][k] = static_cast<float>(std::cos(pi / 24 * (2 * i + 7) * (2 * k + 1)));
        c.windowShort[i] = static_cast<float>(std::sin(pi / 12 * (i + 0.5)));
    }
    static const double kAlias[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int i = 0; i < 8; ++i) {
        const double d = std::sqrt(1 + kAlias[i] * kAlias[i]);
        c.antialiasCs[i] = static_cast<float>(1 / d);
        c.antialiasCa[i] = static_cast<float>(kAlias[i] / d);
    }
    for (int t = 0; t < 16; ++t)
        for (int j = 0; j < 32; ++j)
            c.synthesisWindow[t][j] =
                static_cast<float>(mp3::SynthesisWindowValue(32 * t + j) * kOutputScale);
    auto dctFactors = [&](float* f, int n) {
        for (int i = 0; i < n / 2; ++i)
            f[i] = static_cast<float>(0.5 / std::cos(pi * (2 * i + 1) / (2 * n)));
    };
    dctFactors(c.dct32, 32);
    dctFactors(c.dct16, 16);
    dctFactors(c.dct8, 8);
    dctFactors(c.dct4, 4);
    dctFactors(c.dct2, 2);
    for (int p = 0; p < 7; ++p) {
        // is_pos 6 is a right angle: everything goes left.
        const double a = p * pi / 12;
        const double sum = std::sin(a) + std::cos(a);
        c.intensity1[p][0] = static_cast<float>(std::sin(a) / sum);
        c.intensity1[p][1] = static_cast<float>(std::cos(a) / sum);
    }
    for (int scale = 0; scale < 2; ++scale) {
        const double io = scale ? std::sqrt(0.5) : std::pow(2.0, -0.25);
        for (int p = 0; p < 32; ++p) {
            double l = 1, r = 1;
            if (p % 2 == 1)
                l = std::pow(io, (p + 1) / 2);
            else
                r = std::pow(io, p / 2);
            c.intensityLsf[scale][p][0] = static_cast<float>(l);
            c.intensityLsf[scale][p][1] = static_cast<float>(r);
        }
    }
    return c;
}

const Constants& K() {
    static const Constants constants = MakeConstants();
    return constants;
}

// DCT-II X[k] = sum x[n] cos(pi (2n + 1) k / 2N) by halving (Lee's method):
// the sums and the scaled differences of mirrored inputs give the even and
// odd outputs through two transforms of half the size.
template <int N>
inline void Dct(const float* in, float* out, const Constants& c) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int H = N / 2;
        const float* f = N == 32 ? c.dct32 : N == 16 ? c.dct16 : N == 8 ? c.dct8 : N == 4 ? c.dct4 : c.dct2;
        float a[H], b[H], ea[H], eb[H];
        for (int n = 0; n < H; ++n) {
            a[n] = in[n] + in[N - 1 - n];
            b[n] = (in[n] - in[N - 1 - n]) * f[n];
        }
        Dct<H>(a, ea, c);
        Dct<H>(b, eb, c);
        for (int m = 0; m < H; ++m)
            out[2 * m] = ea[m];
        for (int m = 0; m < H - 1; ++m)
            out[2 * m + 1] = eb[m] + eb[m + 1];
        out[N - 1] = eb[H - 1];
    }
}

// Rounds 32 values to integers. Saturates first: converting an out-of-range
// float is undefined, and crafted frames can produce any magnitude (a NaN
// becomes the low end).
void ToInternal(const float* __restrict in, int32_t* __restrict out) {
    constexpr float kHi = 2147483520.0f;  // largest float below 2^31
    constexpr float kLo = -2147483648.0f;
    for (int j = 0; j < 32; ++j) {
        const float v = std::min(std::max(kLo, in[j]), kHi);
        out[j] = static_cast<int32_t>(v + (v >= 0.0f ? 0.5f : -0.5f));
    }
}

// The 18 distinct outputs of a 36-point IMDCT as a matrix product; blocks of
// four outputs keep their sums in one register across the 18 inputs.
void ImdctCore(const float* __restrict in, const float (*__restrict m)[20], float* __restrict raw) {
    for (int r0 = 0; r0 < 20; r0 += 4) {
        float a[4] = {0, 0, 0, 0};
        for (int k = 0; k < 18; ++k) {
            const float v = in[k];
            for (int r = 0; r < 4; ++r)
                a[r] += v * m[k][r0 + r];
        }
        for (int r = 0; r < 4; ++r)
            raw[r0 + r] = a[r];
    }
}

}  // namespace

struct Mp3FrameDecoder::State {
    const Constants& c = K();
    const mp3::HuffmanBooks& books = mp3::Books();

    std::array<uint8_t, kReservoirCapacity> reservoir{};
    size_t reservoirBytes = 0;

    float overlap[2][kSubbands][18] = {};
    // Ring of the last 16 matrixing outputs, each stored twice (at slot and
    // slot + 16) so that the 16 newest are always contiguous.
    float history[2][32][64] = {};
    int historySlot[2] = {0, 0};
    ScaleFactors scale[2];

    int32_t values[kLines + 4] = {};
    float xr[2][kLines] = {};
    int bound[2] = {0, 0};  // lines past this are zero
    float slots[kSlots][kSubbands] = {};

    void Reset() {
        reservoirBytes = 0;
        std::memset(overlap, 0, sizeof overlap);
        std::memset(history, 0, sizeof history);
        historySlot[0] = historySlot[1] = 0;
        scale[0] = ScaleFactors{};
        scale[1] = ScaleFactors{};
    }

    bool ReadSideInfo(const Mp3Header& h, const uint8_t* p, SideInfo& si) const;
    void ReadScaleFactors(BitReader& br, const Mp3Header& h, const SideInfo& si, int gr, int ch);
    int DecodeSpectrum(BitReader& br, size_t end, const GranuleChannel& gc, int rate);
    void Requantize(const GranuleChannel& gc, int rate, int ch);
    void Stereo(const Mp3Header& h, const GranuleChannel& right, int rate);
    void Hybrid(const GranuleChannel& gc, int rate, int ch);
    void Synthesize(int ch, int32_t* out, int channels);
};

namespace {

int BuildBands(const GranuleChannel& gc, int rate, bool lsf, Band* bands) {
    const uint16_t* le = mp3::kLongBandEdges[rate];
    const uint16_t* se = mp3::kShortBandEdges[rate];
    int n = 0;
    if (!gc.ShortBlocks()) {
        for (int sfb = 0; sfb < 22; ++sfb)
            bands[n++] = Band{static_cast<int16_t>(le[sfb]), static_cast<int16_t>(le[sfb + 1]),
                              static_cast<int8_t>(sfb), -1};
        return n;
    }
    int firstShort = 0;
    int line = 0;
    if (gc.mixed) {
        const int longBands = lsf ? 6 : 8;
        for (int sfb = 0; sfb < longBands; ++sfb)
            bands[n++] = Band{static_cast<int16_t>(le[sfb]), static_cast<int16_t>(le[sfb + 1]),
                              static_cast<int8_t>(sfb), -1};
        firstShort = 3;
        line = le[longBands];
    }
    for (int sfb = firstShort; sfb < 13; ++sfb) {
        const int width = se[sfb + 1] - se[sfb];
        for (int w = 0; w < 3; ++w) {
            bands[n++] = Band{static_cast<int16_t>(line), static_cast<int16_t>(line + width),
                              static_cast<int8_t>(sfb), static_cast<int8_t>(w)};
            line += width;
        }
    }
    return n;
}

}  // namespace

bool Mp3FrameDecoder::State::ReadSideInfo(const Mp3Header& h, const uint8_t* p, SideInfo& si) const {
    BitReader br(p, static_cast<size_t>(h.SideInfoBytes()));
    const int channels = h.Channels();
    const bool lsf = h.Lsf();
    si.mainDataBegin = static_cast<uint16_t>(br.Read(lsf ? 8 : 9));
    br.Skip(lsf ? (channels == 1 ? 1 : 2) : (channels == 1 ? 5 : 3));
    if (!lsf)
        for (int ch = 0; ch < channels; ++ch)
            for (int g = 0; g < 4; ++g)
                si.scfsi[ch][g] = static_cast<uint8_t>(br.Read(1));
    for (int gr = 0; gr < h.Granules(); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            GranuleChannel& gc = si.gc[gr][ch];
            gc.part23Length = static_cast<uint16_t>(br.Read(12));
            gc.bigValues = static_cast<uint16_t>(br.Read(9));
            gc.globalGain = static_cast<uint16_t>(br.Read(8));
            gc.scalefacCompress = static_cast<uint16_t>(br.Read(lsf ? 9 : 4));
            gc.windowSwitching = br.Read(1) != 0;
            if (gc.windowSwitching) {
                gc.blockType = static_cast<uint8_t>(br.Read(2));
                gc.mixed = br.Read(1) != 0;
                for (int r = 0; r < 2; ++r)
                    gc.tableSelect[r] = static_cast<uint8_t>(br.Read(5));
                for (int w = 0; w < 3; ++w)
                    gc.subblockGain[w] = static_cast<uint8_t>(br.Read(3));
                // Block type 0 cannot be signalled with window switching.
                if (gc.blockType == 0) return false;
            } else {
                for (int r = 0; r < 3; ++r)
                    gc.tableSelect[r] = static_cast<uint8_t>(br.Read(5));
                gc.region0Count = static_cast<uint8_t>(br.Read(4));
                gc.region1Count = static_cast<uint8_t>(br.Read(3));
            }
            // MPEG-2 has no preflag bit: the upper scale-factor range of a
            // channel that is not intensity coded implies it.
            if (lsf)
                gc.preflag = gc.scalefacCompress >= 500 && !(ch == 1 && h.mode == 1 && (h.modeExtension & 1));
            else
                gc.preflag = br.Read(1) != 0;
            gc.scalefacScale = static_cast<uint8_t>(br.Read(1));
            gc.count1Table = static_cast<uint8_t>(br.Read(1));
        }
    }
    return true;
}

void Mp3FrameDecoder::State::ReadScaleFactors(BitReader& br, const Mp3Header& h, const SideInfo& si, int gr,
                                              int ch) {
    const GranuleChannel& gc = si.gc[gr][ch];
    ScaleFactors& sf = scale[ch];
    if (!h.Lsf()) {
        const int slen1 = mp3::kSlen[0][gc.scalefacCompress];
        const int slen2 = mp3::kSlen[1][gc.scalefacCompress];
        if (gc.ShortBlocks()) {
            int sfb = 0;
            if (gc.mixed) {
                for (; sfb < 8; ++sfb)
                    sf.l[sfb] = static_cast<uint8_t>(br.Read(slen1));
                sfb = 3;
            }
            for (; sfb < 12; ++sfb)
                for (int w = 0; w < 3; ++w)
                    sf.s[sfb][w] = static_cast<uint8_t>(br.Read(sfb < 6 ? slen1 : slen2));
            for (int w = 0; w < 3; ++w)
                sf.s[12][w] = 0;
        } else {
            static const int kGroups[5] = {0, 6, 11, 16, 21};
            for (int g = 0; g < 4; ++g) {
                // scfsi: granule 1 reuses granule 0's factors for this group.
                if (gr == 1 && si.scfsi[ch][g]) continue;
                for (int sfb = kGroups[g]; sfb < kGroups[g + 1]; ++sfb)
                    sf.l[sfb] = static_cast<uint8_t>(br.Read(g < 2 ? slen1 : slen2));
            }
            sf.l[21] = 0;
        }
        return;
    }

    // MPEG-2: scalefac_compress selects bit lengths for up to four
    // partitions of the factors; the intensity-coded right channel uses its
    // own set of partitionings.
    unsigned slen[4] = {0, 0, 0, 0};
    int table;
    const bool intensityRight = ch == 1 && h.mode == 1 && (h.modeExtension & 1);
    unsigned sfc = gc.scalefacCompress;
    if (intensityRight) {
        sfc >>= 1;
        if (sfc < 180) {
            slen[0] = sfc / 36;
            slen[1] = sfc % 36 / 6;
            slen[2] = sfc % 36 % 6;
            table = 3;
        } else if (sfc < 244) {
            sfc -= 180;
            slen[0] = sfc % 64 >> 4;
            slen[1] = sfc % 16 >> 2;
            slen[2] = sfc % 4;
            table = 4;
        } else {
            sfc -= 244;
            slen[0] = sfc / 3;
            slen[1] = sfc % 3;
            table = 5;
        }
    } else if (sfc < 400) {
        slen[0] = (sfc >> 4) / 5;
        slen[1] = (sfc >> 4) % 5;
        slen[2] = (sfc & 15) >> 2;
        slen[3] = sfc & 3;
        table = 0;
    } else if (sfc < 500) {
        sfc -= 400;
        slen[0] = (sfc >> 2) / 5;
        slen[1] = (sfc >> 2) % 5;
        slen[2] = sfc & 3;
        table = 1;
    } else {
        sfc -= 500;
        slen[0] = sfc / 3;
        slen[1] = sfc % 3;
        table = 2;
    }
    const int kind = gc.ShortBlocks() ? (gc.mixed ? 2 : 1) : 0;
    uint8_t values[40];
    uint8_t maxima[40];
    int n = 0;
    for (int p = 0; p < 4; ++p) {
        const uint8_t maximum = static_cast<uint8_t>((1u << slen[p]) - 1);
        for (int i = 0; i < mp3::kLsfPartitions[table][kind][p]; ++i) {
            values[n] = static_cast<uint8_t>(br.Read(slen[p]));
            maxima[n++] = maximum;
        }
    }
    int v = 0;
    if (kind == 0) {
        for (int sfb = 0; sfb < 21; ++sfb, ++v) {
            sf.l[sfb] = values[v];
            sf.lMax[sfb] = maxima[v];
        }
        sf.l[21] = 0;
        sf.lMax[21] = sf.lMax[20];
    } else {
        int sfb = 0;
        if (kind == 2) {
            for (; sfb < 6; ++sfb, ++v) {
                sf.l[sfb] = values[v];
                sf.lMax[sfb] = maxima[v];
            }
            sfb = 3;
        }
        for (; sfb < 12; ++sfb)
            for (int w = 0; w < 3; ++w, ++v) {
                sf.s[sfb][w] = values[v];
                sf.sMax[sfb][w] = maxima[v];
            }
        for (int w = 0; w < 3; ++w) {
            sf.s[12][w] = 0;
            sf.sMax[12][w] = sf.sMax[11][w];
        }
    }
}

int Mp3FrameDecoder::State::DecodeSpectrum(BitReader& br, size_t end, const GranuleChannel& gc, int rate) {
    const uint16_t* le = mp3::kLongBandEdges[rate];
    int32_t* is = values;
    const int bigCount = std::min<int>(gc.bigValues * 2, kLines);
    int region1, region2;
    if (gc.windowSwitching) {
        region1 = gc.blockType == 2 && !gc.mixed ? 3 * mp3::kShortBandEdges[rate][3] : le[8];
        region2 = kLines;
    } else {
        region1 = le[std::min(gc.region0Count + 1, 22)];
        region2 = le[std::min(gc.region0Count + gc.region1Count + 2, 22)];
    }
    const int regionEnd[3] = {std::min(region1, bigCount), std::min(region2, bigCount), bigCount};
    int i = 0;
    for (int r = 0; r < 3; ++r) {
        const int stop = std::max(regionEnd[r], i);
        const int table = gc.tableSelect[r];
        const mp3::PairTableInfo& info = mp3::kPairTables[table];
        if (!info.codes) {
            // Table 0 codes zeros; tables 4 and 14 do not exist and read as zeros.
            std::fill(is + i, is + stop, 0);
            i = stop;
            continue;
        }
        const mp3::HuffmanLookup& book = books.pairs[table];
        const unsigned linbits = info.linbits;
        for (; i < stop; i += 2) {
            uint32_t bits = br.Peek32();
            unsigned length;
            const unsigned symbol = book.Lookup(bits, &length);
            int x = static_cast<int>(symbol >> 4);
            int y = static_cast<int>(symbol & 15);
            if (linbits == 0) {
                // Codes are at most 19 bits, so the signs are in the same
                // peek. They are random: select without branching on them.
                bits <<= length;
                const int sx = x ? static_cast<int>(bits >> 31) : 0;
                x = (x ^ -sx) + sx;
                bits <<= (x != 0);
                length += (x != 0);
                const int sy = y ? static_cast<int>(bits >> 31) : 0;
                y = (y ^ -sy) + sy;
                length += (y != 0);
                br.Skip(length);
            } else {
                br.Skip(length);
                if (x == 15) x += static_cast<int>(br.Read(linbits));
                if (x && br.Read(1)) x = -x;
                if (y == 15) y += static_cast<int>(br.Read(linbits));
                if (y && br.Read(1)) y = -y;
            }
            is[i] = x;
            is[i + 1] = y;
        }
    }
    // Count1 region: quadruples of -1, 0, 1 until the granule's bits run
    // out. A quadruple that runs past the end was padding and is dropped.
    while (i < kLines && br.Position() < end) {
        // A code of at most 6 bits and up to 4 sign bits fit one peek.
        uint32_t bits = br.Peek32();
        unsigned length = 4;
        const unsigned q = gc.count1Table ? 15 - (bits >> 28) : books.quadA.Lookup(bits, &length);
        bits <<= length;
        int v[4];
        for (int k = 0; k < 4; ++k) {
            const unsigned nonzero = q >> (3 - k) & 1;
            const int negative = static_cast<int>(bits >> 31 & nonzero);
            v[k] = static_cast<int>(nonzero) - 2 * negative;
            bits <<= nonzero;
            length += nonzero;
        }
        if (br.Position() + length > end) break;
        br.Skip(length);
        for (int k = 0; k < 4; ++k)
            is[i + k] = v[k];
        i += 4;
    }
    return std::min(i, kLines);
}

void Mp3FrameDecoder::State::Requantize(const GranuleChannel& gc, int rate, int ch) {
    float* x = xr[ch];
    const int n = bound[ch];
    std::memset(x, 0, sizeof xr[ch]);
    if (n == 0) return;
    static const float kQuarter[4] = {1.0f, 1.18920712f, 1.41421356f, 1.68179283f};
    const ScaleFactors& sf = scale[ch];
    const int shift = gc.scalefacScale ? 4 : 2;  // quarter steps per factor step
    const int base = gc.globalGain - 210;
    Band bands[40];
    const int count = BuildBands(gc, rate, rate >= 3, bands);  // rate tables 3..8 are MPEG-2/2.5
    for (int b = 0; b < count && bands[b].start < n; ++b) {
        const Band& band = bands[b];
        int q;
        if (band.window < 0) {
            const int pre = gc.preflag ? mp3::kPretab[band.sfb] : 0;
            q = base - shift * (sf.l[band.sfb] + pre);
        } else {
            q = base - 8 * gc.subblockGain[band.window] - shift * sf.s[band.sfb][band.window];
        }
        const float gain = std::ldexp(kQuarter[q & 3], q >> 2);
        const int end = std::min<int>(band.end, n);
        const float* pow43 = c.pow43 + 8206;
        for (int i = band.start; i < end; ++i)
            x[i] = pow43[values[i]] * gain;
    }
}

void Mp3FrameDecoder::State::Stereo(const Mp3Header& h, const GranuleChannel& right, int rate) {
    const bool ms = (h.modeExtension & 2) != 0;
    const bool intensity = (h.modeExtension & 1) != 0;
    float* l = xr[0];
    float* r = xr[1];
    const int n = std::max(bound[0], bound[1]);
    constexpr float kInvSqrt2 = 0.70710678118654752f;
    auto midSide = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const float m = l[i], s = r[i];
            l[i] = (m + s) * kInvSqrt2;
            r[i] = (m - s) * kInvSqrt2;
        }
    };
    if (!intensity) {
        if (ms) midSide(0, n);
        bound[0] = bound[1] = n;
        return;
    }

    // Intensity stereo: above the highest band where the right channel has
    // anything, the left channel carries both and the right channel's scale
    // factors give the direction.
    Band bands[40];
    const int count = BuildBands(right, rate, h.Lsf(), bands);
    bool rightHas[40] = {};
    for (int b = 0; b < count; ++b)
        for (int i = bands[b].start; i < bands[b].end && i < bound[1]; ++i)
            if (r[i] != 0) {
                rightHas[b] = true;
                break;
            }
    // Per short window (3 slots) or, for long bands, in slot 0: whether a
    // band at or above the current one has right-channel content.
    bool intensityBand[40] = {};
    bool seen[3] = {false, false, false};
    bool anyShort = false;
    bool longSeen = false;
    for (int b = count - 1; b >= 0; --b) {
        const int w = bands[b].window;
        if (w >= 0) {
            seen[w] = seen[w] || rightHas[b];
            anyShort = anyShort || rightHas[b];
            intensityBand[b] = !seen[w];
        } else {
            // Long bands of a mixed block take part only when no short band
            // of the block has right-channel content.
            longSeen = longSeen || rightHas[b] || anyShort;
            intensityBand[b] = !longSeen;
        }
    }
    const ScaleFactors& sf = scale[1];
    const bool lsf = h.Lsf();
    const int scaleBit = right.scalefacCompress & 1;
    for (int b = 0; b < count; ++b) {
        const Band& band = bands[b];
        if (band.start >= n) break;
        const int to = std::min<int>(band.end, n);
        if (!intensityBand[b]) {
            if (ms) midSide(band.start, to);
            continue;
        }
        // The last band of each kind has no factor of its own and uses the
        // one below it.
        int pos, illegal;
        if (band.window < 0) {
            const int s = std::min<int>(band.sfb, 20);
            pos = sf.l[s];
            illegal = lsf ? sf.lMax[s] : 7;
        } else {
            const int s = std::min<int>(band.sfb, 11);
            pos = sf.s[s][band.window];
            illegal = lsf ? sf.sMax[s][band.window] : 7;
        }
        // MPEG-1 directions run 0..6; larger factors cannot be directions.
        if (pos == illegal || (!lsf && pos > 6)) {
            if (ms) midSide(band.start, to);
            continue;
        }
        const float* k = lsf ? c.intensityLsf[scaleBit][pos & 31] : c.intensity1[pos];
        for (int i = band.start; i < to; ++i) {
            const float v = l[i];
            l[i] = v * k[0];
            r[i] = v * k[1];
        }
    }
    bound[0] = bound[1] = n;
}

void Mp3FrameDecoder::State::Hybrid(const GranuleChannel& gc, int rate, int ch) {
    float* x = xr[ch];
    const int n = bound[ch];
    int firstShortSb = 32;  // subbands from here use short blocks
    int limit = 0;          // subbands from here are all zero
    if (gc.ShortBlocks()) {
        // Reorder the short windows from band order (band, window, line) to
        // subband order (line, window) so each subband holds its 18 values
        // as 6 triples.
        const uint16_t* se = mp3::kShortBandEdges[rate];
        float tmp[kLines];
        const int firstSfb = gc.mixed ? 3 : 0;
        const int startLine = gc.mixed ? 3 * se[3] : 0;
        int src = startLine;
        int last = 0;
        for (int sfb = firstSfb; sfb < 13 && src < n; ++sfb) {
            const int width = se[sfb + 1] - se[sfb];
            for (int w = 0; w < 3; ++w)
                for (int f = 0; f < width; ++f, ++src)
                    tmp[3 * (se[sfb] + f) + w] = x[src];
            last = 3 * se[sfb + 1];
        }
        if (last > startLine) std::memcpy(x + startLine, tmp + startLine, sizeof(float) * (last - startLine));
        firstShortSb = gc.mixed ? 2 : 0;
        limit = std::max((last + 17) / 18, firstShortSb);
    } else {
        limit = std::min(32, (n + 17) / 18 + 1);  // the alias butterflies reach into the next subband
    }

    // Alias reduction between neighbouring long-block subbands.
    const int aliasEnd = gc.ShortBlocks() ? (gc.mixed ? 2 : 0) : limit;
    for (int sb = 1; sb < aliasEnd; ++sb) {
        float* lo = x + 18 * sb - 1;
        float* hi = x + 18 * sb;
        for (int i = 0; i < 8; ++i) {
            const float a = lo[-i], b = hi[i];
            lo[-i] = a * c.antialiasCs[i] - b * c.antialiasCa[i];
            hi[i] = b * c.antialiasCs[i] + a * c.antialiasCa[i];
        }
    }

    float(*ov)[18] = overlap[ch];
    for (int sb = 0; sb < kSubbands; ++sb) {
        float out[36];
        if (sb >= limit) {
            for (int i = 0; i < 18; ++i) {
                slots[i][sb] = ov[sb][i];
                ov[sb][i] = 0;
            }
        } else {
            const float* in = x + 18 * sb;
            if (sb >= firstShortSb) {
                std::fill(out, out + 36, 0.0f);
                for (int w = 0; w < 3; ++w) {
                    for (int i = 0; i < 12; ++i) {
                        float s = 0;
                        for (int k = 0; k < 6; ++k)
                            s += in[3 * k + w] * c.imdctShort[i][k];
                        out[6 + 6 * w + i] += s * c.windowShort[i];
                    }
                }
            } else {
                float raw[20];
                ImdctCore(in, c.imdctLong, raw);
                const int type = gc.windowSwitching && !(gc.mixed && sb < 2) ? gc.blockType : 0;
                const float* win = c.windowLong[type == 2 ? 0 : type];
                for (int i = 0; i < 9; ++i) {
                    out[i] = raw[i] * win[i];
                    out[17 - i] = -raw[i] * win[17 - i];
                    out[18 + i] = raw[9 + i] * win[18 + i];
                    out[35 - i] = raw[9 + i] * win[35 - i];
                }
            }
            for (int i = 0; i < 18; ++i) {
                slots[i][sb] = out[i] + ov[sb][i];
                ov[sb][i] = out[18 + i];
            }
        }
        // Frequency inversion: odd subbands come out mirrored.
        if (sb & 1)
            for (int i = 1; i < 18; i += 2)
                slots[i][sb] = -slots[i][sb];
    }
}

void Mp3FrameDecoder::State::Synthesize(int ch, int32_t* out, int channels) {
    for (int t = 0; t < kSlots; ++t) {
        float dct[32];
        Dct<32>(slots[t], dct, c);
        int& slot = historySlot[ch];
        slot = (slot + 15) & 15;
        float* v = history[ch][slot];
        // The 64 matrixing outputs are the DCT's, mirrored and negated.
        for (int i = 0; i < 16; ++i)
            v[i] = dct[16 + i];
        v[16] = 0;
        for (int i = 17; i < 49; ++i)
            v[i] = -dct[48 - i];
        for (int i = 49; i < 64; ++i)
            v[i] = -dct[i - 48];
        std::memcpy(history[ch][slot + 16], v, sizeof(float) * 64);
        // Window and sum 16 vectors of history, the even ages' first halves
        // and the odd ages' second halves; blocks of 8 outputs keep their
        // sums in registers across the terms.
        const float* newest = history[ch][slot];
        float acc[32];
        for (int j0 = 0; j0 < 32; j0 += 8) {
            float a[8] = {0, 0, 0, 0, 0, 0, 0, 0};
            for (int age = 0; age < 16; age += 2) {
                const float* he = newest + age * 64 + j0;
                const float* ho = newest + age * 64 + 96 + j0;
                const float* de = c.synthesisWindow[age] + j0;
                const float* dn = c.synthesisWindow[age + 1] + j0;
                for (int j = 0; j < 8; ++j)
                    a[j] += de[j] * he[j] + dn[j] * ho[j];
            }
            for (int j = 0; j < 8; ++j)
                acc[j0 + j] = a[j];
        }
        int32_t pcm[32];
        ToInternal(acc, pcm);
        int32_t* o = out + static_cast<size_t>(t) * 32 * channels + ch;
        for (int j = 0; j < 32; ++j)
            o[j * channels] = pcm[j];
    }
}

Mp3FrameDecoder::Mp3FrameDecoder() : s_(std::make_unique<State>()) {}
Mp3FrameDecoder::~Mp3FrameDecoder() = default;

void Mp3FrameDecoder::Reset() {
    s_->Reset();
}

Mp3FrameDecoder::Result Mp3FrameDecoder::DecodeFrame(const Mp3Header& h, const uint8_t* frame, size_t size,
                                                     int32_t* out) {
    State& s = *s_;
    const int channels = h.Channels();
    const size_t samples = static_cast<size_t>(h.SamplesPerFrame()) * channels;
    const size_t frameBytes = static_cast<size_t>(h.FrameBytes());
    const size_t sideStart = static_cast<size_t>(h.HeaderBytes());
    const size_t mainStart = sideStart + static_cast<size_t>(h.SideInfoBytes());
    SideInfo si;
    if (size < frameBytes || frameBytes < mainStart || !s.ReadSideInfo(h, frame + sideStart, si)) {
        std::fill(out, out + samples, 0);
        return Result::kDamaged;
    }

    // Bit reservoir: keep enough of the earlier frames' data for the
    // farthest reach back, then add this frame's.
    const uint8_t* mainData = frame + mainStart;
    const size_t mainBytes = frameBytes - mainStart;
    if (s.reservoirBytes + mainBytes > kReservoirCapacity) {
        const size_t keep = std::min(s.reservoirBytes, kMaxBackReach);
        std::memmove(s.reservoir.data(), s.reservoir.data() + s.reservoirBytes - keep, keep);
        s.reservoirBytes = keep;
    }
    const bool reachable = si.mainDataBegin <= s.reservoirBytes;
    const size_t begin = s.reservoirBytes - (reachable ? si.mainDataBegin : 0);
    std::memcpy(s.reservoir.data() + s.reservoirBytes, mainData, mainBytes);
    s.reservoirBytes += mainBytes;
    if (!reachable) {
        std::fill(out, out + samples, 0);
        return Result::kNoReservoir;
    }

    BitReader br(s.reservoir.data(), s.reservoirBytes, begin * 8);
    const int rate = h.RateTable();
    const bool jointStereo = channels == 2 && h.mode == 1 && h.modeExtension != 0;
    for (int gr = 0; gr < h.Granules(); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            const GranuleChannel& gc = si.gc[gr][ch];
            const size_t start = br.Position();
            const size_t end = start + gc.part23Length;
            s.ReadScaleFactors(br, h, si, gr, ch);
            s.bound[ch] = s.DecodeSpectrum(br, end, gc, rate);
            br.SetPosition(end);
            s.Requantize(gc, rate, ch);
        }
        if (jointStereo) s.Stereo(h, si.gc[gr][1], rate);
        int32_t* granuleOut = out + static_cast<size_t>(gr) * kLines * channels;
        for (int ch = 0; ch < channels; ++ch) {
            s.Hybrid(si.gc[gr][ch], rate, ch);
            s.Synthesize(ch, granuleOut, channels);
        }
    }
    return Result::kDecoded;
}

}  // namespace sonitor
