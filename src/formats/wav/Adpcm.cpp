// IMA and MS ADPCM block coders for WAV files.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

#include "formats/Endian.h"
#include "formats/WavCodecs.h"

namespace sonitor {

namespace {

int16_t Clamp16(int64_t v) {
    return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// ---------------------------------------------------------------------------
// IMA ADPCM

// The published IMA step sizes and step index adjustments.
constexpr int32_t kImaStep[] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
static_assert(std::size(kImaStep) == 89);
constexpr int kImaMaxIndex = 88;
constexpr int kImaIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaState {
    int32_t predictor;
    int32_t index;
};

// The difference a code stands for at a step size: step/8 plus step, step/2
// and step/4 for the three magnitude bits, as the IMA decoder computes it.
int32_t ImaDifference(int32_t step, unsigned code) {
    int32_t diff = step >> 3;
    if (code & 4) diff += step;
    if (code & 2) diff += step >> 1;
    if (code & 1) diff += step >> 2;
    return (code & 8) ? -diff : diff;
}

int16_t ImaExpand(ImaState& s, unsigned code) {
    s.predictor = Clamp16(s.predictor + ImaDifference(kImaStep[s.index], code));
    s.index = std::clamp(s.index + kImaIndexAdjust[code & 7], 0, kImaMaxIndex);
    return static_cast<int16_t>(s.predictor);
}

// The code whose reconstruction lies nearest to x; updates the state the way
// the decoder will.
unsigned ImaQuantize(ImaState& s, int32_t x) {
    const int32_t step = kImaStep[s.index];
    unsigned best = 0;
    int32_t bestError = std::numeric_limits<int32_t>::max();
    for (unsigned code = 0; code < 16; ++code) {
        const int32_t error = std::abs(x - Clamp16(s.predictor + ImaDifference(step, code)));
        if (error < bestError) {
            bestError = error;
            best = code;
        }
    }
    ImaExpand(s, best);
    return best;
}

// ---------------------------------------------------------------------------
// MS ADPCM

constexpr int32_t kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                       768, 614, 512, 409, 307, 230, 230, 230};
constexpr int32_t kMsMinDelta = 16;
// Keeps delta * 768 inside 32 bits on hostile input; real streams stay far
// below it.
constexpr int32_t kMsMaxDelta = std::numeric_limits<int32_t>::max() / 768;

struct MsState {
    int32_t coef1;
    int32_t coef2;
    int32_t delta;
    int32_t sample1;  // the newer of the two previous samples
    int32_t sample2;
};

// The prediction is scaled down with an arithmetic shift (rounding toward
// minus infinity), as the original codec does; dividing instead drifts by a
// step now and then on negative sums.
int32_t MsPredict(const MsState& s) {
    const int64_t sum = int64_t{s.sample1} * s.coef1 + int64_t{s.sample2} * s.coef2;
    return static_cast<int32_t>(sum >> 8);
}

void MsAdvance(MsState& s, int32_t sample, unsigned code) {
    s.sample2 = s.sample1;
    s.sample1 = sample;
    s.delta = std::clamp((kMsAdaptation[code] * s.delta) >> 8, kMsMinDelta, kMsMaxDelta);
}

int16_t MsExpand(MsState& s, unsigned code) {
    const int32_t signedCode = (code & 8) ? static_cast<int32_t>(code) - 16 : static_cast<int32_t>(code);
    const int16_t sample = Clamp16(int64_t{MsPredict(s)} + int64_t{signedCode} * s.delta);
    MsAdvance(s, sample, code);
    return sample;
}

// The code whose step lies nearest to x's prediction error.
unsigned MsQuantize(MsState& s, int32_t x) {
    const int32_t error = x - MsPredict(s);
    const int32_t half = s.delta / 2;
    const int32_t q = error >= 0 ? (error + half) / s.delta : -((half - error) / s.delta);
    const unsigned code = static_cast<unsigned>(std::clamp(q, -8, 7)) & 15;
    MsExpand(s, code);
    return code;
}

// Encodes channel c of a block with one predictor and starting delta; with
// data given, ORs the codes into the block's code area. Returns the squared
// error of the reconstruction.
int64_t MsEncodeChannel(const int16_t* in, uint32_t channels, uint32_t c, uint32_t frames, MsState s,
                        uint8_t* data) {
    int64_t total = 0;
    for (uint32_t i = 2; i < frames; ++i) {
        const int32_t x = in[static_cast<size_t>(i) * channels + c];
        const unsigned code = MsQuantize(s, x);
        if (data) {
            const uint64_t k = uint64_t{i - 2} * channels + c;
            data[k >> 1] |= static_cast<uint8_t>((k & 1) ? code : code << 4);
        }
        const int64_t e = x - s.sample1;
        total += e * e;
    }
    return total;
}

}  // namespace

// ---------------------------------------------------------------------------

uint32_t ImaAdpcmFramesPerBlock(uint32_t blockAlign, uint32_t channels) {
    if (channels == 0 || blockAlign < 4 * channels) return 0;
    return (blockAlign - 4 * channels) / (4 * channels) * 8 + 1;
}

uint32_t DecodeImaAdpcmBlock(const uint8_t* block, uint32_t bytes, uint32_t channels, uint32_t frames,
                             int16_t* out) {
    if (channels == 0 || frames == 0 || bytes < 4 * channels) return 0;
    ImaState state[255];
    for (uint32_t c = 0; c < channels; ++c) {
        const uint8_t* h = block + 4 * c;
        state[c].predictor = static_cast<int16_t>(LoadLE16(h));
        // A damaged index would read past the step table.
        state[c].index = std::min<int32_t>(h[2], kImaMaxIndex);
        out[c] = static_cast<int16_t>(state[c].predictor);
    }
    uint32_t produced = 1;
    const uint8_t* data = block + 4 * channels;
    const uint32_t groups = (bytes - 4 * channels) / (4 * channels);
    for (uint32_t g = 0; g < groups && produced < frames; ++g) {
        const uint32_t take = std::min<uint32_t>(8, frames - produced);
        for (uint32_t c = 0; c < channels; ++c) {
            const uint8_t* p = data + (static_cast<size_t>(g) * channels + c) * 4;
            for (uint32_t i = 0; i < take; ++i) {
                const unsigned code = (p[i >> 1] >> ((i & 1) * 4)) & 15;
                out[static_cast<size_t>(produced + i) * channels + c] = ImaExpand(state[c], code);
            }
        }
        produced += take;
    }
    return produced;
}

void EncodeImaAdpcmBlock(const int16_t* in, uint32_t channels, uint32_t frames, uint32_t blockAlign,
                         uint8_t* stepIndex, uint8_t* block) {
    std::memset(block, 0, blockAlign);
    ImaState state[255];
    for (uint32_t c = 0; c < channels; ++c) {
        state[c].predictor = in[c];
        state[c].index = std::min<int32_t>(stepIndex[c], kImaMaxIndex);
        StoreLE16(block + 4 * c, static_cast<uint16_t>(in[c]));
        block[4 * c + 2] = static_cast<uint8_t>(state[c].index);
    }
    uint8_t* data = block + 4 * channels;
    const uint32_t groups = (blockAlign - 4 * channels) / (4 * channels);
    for (uint32_t g = 0; g < groups; ++g) {
        for (uint32_t c = 0; c < channels; ++c) {
            uint8_t* p = data + (static_cast<size_t>(g) * channels + c) * 4;
            for (uint32_t i = 0; i < 8; ++i) {
                const uint32_t frame = 1 + g * 8 + i;
                const int32_t x = frame < frames ? in[static_cast<size_t>(frame) * channels + c] : 0;
                p[i >> 1] |= static_cast<uint8_t>(ImaQuantize(state[c], x) << ((i & 1) * 4));
            }
        }
    }
    for (uint32_t c = 0; c < channels; ++c)
        stepIndex[c] = static_cast<uint8_t>(state[c].index);
}

const MsAdpcmCoefficients& StandardMsAdpcmCoefficients() {
    static const MsAdpcmCoefficients table = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                              {240, 0}, {460, -208}, {392, -232}};
    return table;
}

uint32_t MsAdpcmFramesPerBlock(uint32_t blockAlign, uint32_t channels) {
    if (channels == 0 || blockAlign < 7 * channels) return 0;
    return (blockAlign - 7 * channels) * 2 / channels + 2;
}

uint32_t DecodeMsAdpcmBlock(const uint8_t* block, uint32_t bytes, uint32_t channels, uint32_t frames,
                            const MsAdpcmCoefficients& coefficients, int16_t* out) {
    if (channels == 0 || frames == 0 || bytes < 7 * channels) return 0;
    const MsAdpcmCoefficients& table = coefficients.empty() ? StandardMsAdpcmCoefficients() : coefficients;
    MsState state[255];
    for (uint32_t c = 0; c < channels; ++c) {
        // An index past the table falls back to the first pair.
        const uint32_t p = block[c] < table.size() ? block[c] : 0;
        state[c].coef1 = table[p][0];
        state[c].coef2 = table[p][1];
        state[c].delta = static_cast<int16_t>(LoadLE16(block + channels + 2 * c));
        state[c].sample1 = static_cast<int16_t>(LoadLE16(block + 3 * channels + 2 * c));
        state[c].sample2 = static_cast<int16_t>(LoadLE16(block + 5 * channels + 2 * c));
        out[c] = static_cast<int16_t>(state[c].sample2);
        if (frames > 1) out[channels + c] = static_cast<int16_t>(state[c].sample1);
    }
    if (frames < 2) return frames;
    const uint8_t* data = block + 7 * channels;
    const uint64_t codes = std::min<uint64_t>(uint64_t{bytes - 7 * channels} * 2 / channels * channels,
                                              uint64_t{frames - 2} * channels);
    for (uint64_t k = 0; k < codes; ++k) {
        const unsigned code = (k & 1) ? data[k >> 1] & 15 : data[k >> 1] >> 4;
        out[2 * channels + k] = MsExpand(state[k % channels], code);
    }
    return static_cast<uint32_t>(2 + codes / channels);
}

void EncodeMsAdpcmBlock(const int16_t* in, uint32_t channels, uint32_t frames, uint32_t blockAlign,
                        uint8_t* block) {
    const MsAdpcmCoefficients& table = StandardMsAdpcmCoefficients();
    std::memset(block, 0, blockAlign);
    uint8_t* data = block + 7 * channels;
    for (uint32_t c = 0; c < channels; ++c) {
        const int16_t* x = in + c;
        MsState best{};
        size_t bestIndex = 0;
        int64_t bestError = std::numeric_limits<int64_t>::max();
        for (size_t p = 0; p < table.size(); ++p) {
            MsState s{table[p][0], table[p][1], kMsMinDelta, frames > 1 ? x[channels] : x[0], x[0]};
            // Start the step size near the first prediction errors; the
            // adaptation takes over from there. (Trying neighbouring start
            // values gains under 0.2 dB for 2.5 times the work.)
            int64_t sum = 0;
            uint32_t n = 0;
            MsState probe = s;
            for (uint32_t i = 2; i < std::min<uint32_t>(frames, 6); ++i) {
                const int32_t v = x[static_cast<size_t>(i) * channels];
                sum += std::abs(v - MsPredict(probe));
                probe.sample2 = probe.sample1;
                probe.sample1 = v;
                ++n;
            }
            s.delta = std::clamp(n > 0 ? static_cast<int32_t>(sum / n / 4) : 0, kMsMinDelta, 32767);
            const int64_t error = MsEncodeChannel(in, channels, c, frames, s, nullptr);
            if (error < bestError) {
                bestError = error;
                best = s;
                bestIndex = p;
            }
        }
        MsEncodeChannel(in, channels, c, frames, best, data);
        block[c] = static_cast<uint8_t>(bestIndex);
        StoreLE16(block + channels + 2 * c, static_cast<uint16_t>(best.delta));
        StoreLE16(block + 3 * channels + 2 * c, static_cast<uint16_t>(best.sample1));
        StoreLE16(block + 5 * channels + 2 * c, static_cast<uint16_t>(best.sample2));
    }
}

}  // namespace sonitor
