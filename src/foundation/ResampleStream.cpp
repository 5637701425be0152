#include "foundation/ResampleStream.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SONITOR_RESAMPLE_X86 1
#endif

namespace sonitor {
namespace {

constexpr int kHalfTaps = kResampleTaps / 2;  // 31 frames either side of the centre
// Taps per phase as stored for the inner product: 63 and a zero, so that the
// vector loop covers whole registers.
constexpr int kPaddedTaps = 64;
// Input frames per block. Blocks lie on a fixed grid of input frame numbers
// and each block's headroom shift depends only on the frames its outputs
// touch, so every output frame is a function of the input alone: reading
// after a Seek gives exactly what reading straight through gives.
constexpr int64_t kBlockFrames = kMaxTransferFrames;
// A block's window: 31 frames of history, the block, 31 frames of look-ahead
// and the zero-weighted 64th tap of the last output.
constexpr int64_t kWindowFrames = kBlockFrames + kResampleTaps;
constexpr int32_t kQ16 = 65536;
constexpr int kMaxPhases = 255;

std::atomic<bool> g_plainKernel{false};

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// I0 by its power series, eight terms (k = 0..7): at the largest beta used,
// 4.538, the first term left out is 2e-5 of the sum.
double BesselI0(double x) {
    const double half = x / 2;
    double term = 1, sum = 1;
    for (int k = 1; k < 8; ++k) {
        term *= half / k;
        sum += term * term;
    }
    return sum;
}

// Smallest phase count whose fraction N/P is within 0.001 of S/T, else the
// closest one; exact integer comparisons so that no rate pair lands on a
// rounding edge. N is kept at 1 or more so the input always advances.
void ChoosePhases(int64_t s, int64_t t, int& phases, int64_t& step) {
    int64_t bestErr = -1;
    for (int64_t p = 1; p <= kMaxPhases; ++p) {
        const int64_t n = std::max<int64_t>(1, (2 * s * p + t) / (2 * t));
        const int64_t err = std::llabs(s * p - n * t);  // |S/T - N/P| = err / (T P)
        if (1000 * err < t * p) {
            phases = static_cast<int>(p);
            step = n;
            return;
        }
        if (bestErr < 0 || err * phases < bestErr * p) {
            bestErr = err;
            phases = static_cast<int>(p);
            step = n;
        }
    }
}

// 64 samples against the 64 taps of one phase, each tap split as
// hi * 256 + lo with lo in 0..255. Each partial sum is below 2^29 in
// magnitude whatever the input, where a plain 32-bit sum of 16-bit samples
// times Q16 taps can pass 2^31; recombined in 64 bits the result is the exact
// dot product.
inline int64_t DotPlain(const int16_t* x, const int16_t* hi, const int16_t* lo) {
    int32_t sumHi = 0, sumLo = 0;
    for (int j = 0; j < kPaddedTaps; ++j) {
        sumHi += x[j] * hi[j];
        sumLo += x[j] * lo[j];
    }
    return static_cast<int64_t>(sumHi) * 256 + sumLo;
}

#ifdef SONITOR_RESAMPLE_X86
__attribute__((target("avx2"))) inline __m256i Load16(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline int64_t DotAvx2(const int16_t* x, const int16_t* hi,
                                                       const int16_t* lo) {
    const __m256i x0 = Load16(x), x1 = Load16(x + 16), x2 = Load16(x + 32), x3 = Load16(x + 48);
    const __m256i h = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(x0, Load16(hi)), _mm256_madd_epi16(x1, Load16(hi + 16))),
        _mm256_add_epi32(_mm256_madd_epi16(x2, Load16(hi + 32)), _mm256_madd_epi16(x3, Load16(hi + 48))));
    const __m256i l = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(x0, Load16(lo)), _mm256_madd_epi16(x1, Load16(lo + 16))),
        _mm256_add_epi32(_mm256_madd_epi16(x2, Load16(lo + 32)), _mm256_madd_epi16(x3, Load16(lo + 48))));
    // Both horizontal sums at once: lane 0 ends up with hi, lane 1 with lo.
    __m256i both = _mm256_hadd_epi32(h, l);
    both = _mm256_hadd_epi32(both, both);
    const __m128i r = _mm_add_epi32(_mm256_castsi256_si128(both), _mm256_extracti128_si256(both, 1));
    return static_cast<int64_t>(_mm_cvtsi128_si32(r)) * 256 + _mm_extract_epi32(r, 1);
}
#endif

// Smallest shift that brings the peak, rounded, within 16 bits; choosing it
// on the rounded value keeps every shifted sample representable as int16.
int HeadroomShift(int64_t peak) {
    int s = 0;
    while (((peak + (s > 0 ? int64_t{1} << (s - 1) : 0)) >> s) > 32767)
        ++s;
    return s;
}

// How the dot product returns to the internal scale for a headroom shift s:
// right by (15 - s) with rounding, or left when s exceeds 15 (32-bit peaks).
// Both as one right shift of 4 * sum, so that the inner loop has no branch.
struct OutputScale {
    int shift;      // (15 - s) + 2, never negative as s <= 17
    int64_t round;  // 2^(shift - 1) when shifting right, else 0
};
static_assert(kResampleOutputShift >= 15, "a headroom shift of 17 must not make the output shift negative");

OutputScale MakeOutputScale(int headroom) {
    const int right = kResampleOutputShift - headroom;
    return {right + 2, right > 0 ? int64_t{1} << (right + 1) : 0};
}

[[gnu::always_inline]] inline int32_t ScaleOutput(int64_t sum, OutputScale scale) {
    const int64_t v = (sum * 4 + scale.round) >> scale.shift;  // |sum| < 2^38
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// A stretch of output frames taken from the loaded window.
struct Run {
    const int16_t* window;  // per channel, kWindowFrames apart
    const int16_t* tapsHi;  // all phases, kPaddedTaps each
    const int16_t* tapsLo;
    const OutputScale* scales;  // per channel
    int channels;
    int phases;
    int stepFrac;
    int64_t stepWhole;
    int64_t offset;  // window index of the first tap, advanced as frames are made
    int phase;
    int64_t offsetEnd;  // stop before the offset reaches this
    int32_t* out;
    int64_t frames;  // stop after this many
};

// Returns the number of frames made. Inlined into each kernel's own copy so
// the inner product is inlined too.
template <int64_t (*Dot)(const int16_t*, const int16_t*, const int16_t*)>
[[gnu::always_inline]] inline int64_t Produce(Run& r) {
    // Locals throughout: stores to out could otherwise alias the fields.
    const int16_t* const window = r.window;
    const int16_t* const tapsHi = r.tapsHi;
    const int16_t* const tapsLo = r.tapsLo;
    const OutputScale* const scales = r.scales;
    const int channels = r.channels, phases = r.phases, stepFrac = r.stepFrac;
    const int64_t stepWhole = r.stepWhole, offsetEnd = r.offsetEnd, frames = r.frames;
    int64_t offset = r.offset;
    int phase = r.phase;
    int32_t* out = r.out;
    int64_t made = 0;
    while (made < frames && offset < offsetEnd) {
        const int16_t* hi = tapsHi + static_cast<ptrdiff_t>(phase) * kPaddedTaps;
        const int16_t* lo = tapsLo + static_cast<ptrdiff_t>(phase) * kPaddedTaps;
        for (int c = 0; c < channels; ++c)
            out[c] = ScaleOutput(Dot(window + c * kWindowFrames + offset, hi, lo), scales[c]);
        out += channels;
        ++made;
        offset += stepWhole;
        phase += stepFrac;
        if (phase >= phases) {
            phase -= phases;
            ++offset;
        }
    }
    r.offset = offset;
    r.phase = phase;
    r.out = out;
    return made;
}

int64_t ProducePlain(Run& r) {
    return Produce<DotPlain>(r);
}

#ifdef SONITOR_RESAMPLE_X86
__attribute__((target("avx2"))) int64_t ProduceAvx2(Run& r) {
    return Produce<DotAvx2>(r);
}
#endif

using ProduceFn = int64_t (*)(Run&);

ProduceFn ChooseKernel() {
#ifdef SONITOR_RESAMPLE_X86
    if (!g_plainKernel.load(std::memory_order_relaxed) && __builtin_cpu_supports("avx2")) return ProduceAvx2;
#endif
    return ProducePlain;
}

class ResampleSource final : public AudioSource {
public:
    ResampleSource(Ref<AudioSource> upstream, const ResampleDesign& design)
        : AudioSource(design.targetRate,
                      upstream->FullScale() <= 1048576 ? 2 * upstream->FullScale() : upstream->FullScale(),
                      upstream->Channels(), upstream->Status()),
          upstream_(std::move(upstream)),
          channels_(Channels()),
          phases_(design.phases),
          step_(design.step),
          stepWhole_(design.step / design.phases),
          stepFrac_(static_cast<int>(design.step % design.phases)),
          produce_(ChooseKernel()) {
        tapsHi_.assign(static_cast<size_t>(phases_) * kPaddedTaps, 0);
        tapsLo_.assign(static_cast<size_t>(phases_) * kPaddedTaps, 0);
        for (int p = 0; p < phases_; ++p) {
            for (int m = 0; m < kResampleTaps; ++m) {
                const int32_t tap = design.taps[static_cast<size_t>(p) * kResampleTaps + m];
                tapsHi_[static_cast<size_t>(p) * kPaddedTaps + m] = static_cast<int16_t>(tap >> 8);
                tapsLo_[static_cast<size_t>(p) * kPaddedTaps + m] = static_cast<int16_t>(tap & 255);
            }
        }
        raw_.resize(static_cast<size_t>(kWindowFrames) * channels_);
        window_.resize(static_cast<size_t>(kWindowFrames) * channels_);
        scales_.resize(channels_);
        Seek(0);
    }

    void Read(int32_t* buffer, int32_t frames) override {
        Run run{.window = window_.data(),
                .tapsHi = tapsHi_.data(),
                .tapsLo = tapsLo_.data(),
                .scales = scales_.data(),
                .channels = channels_,
                .phases = phases_,
                .stepFrac = stepFrac_,
                .stepWhole = stepWhole_,
                .offset = 0,
                .phase = 0,
                .offsetEnd = kBlockFrames,
                .out = buffer,
                .frames = 0};
        for (int64_t done = 0; done < frames;) {
            const int64_t block = FloorDiv(centre_, kBlockFrames);
            if (block != loaded_) Load(block);
            run.offset = centre_ - block * kBlockFrames;
            run.phase = phase_;
            run.frames = frames - done;
            done += produce_(run);
            centre_ = block * kBlockFrames + run.offset;
            phase_ = run.phase;
        }
        position_ += std::max(frames, 0);
    }

    int32_t Position() const override {
        return static_cast<int32_t>(std::clamp<int64_t>(position_, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    }

    // The output frames whose centre lies inside the input: ceil(L P / N).
    int32_t Length() const override {
        const int64_t in = std::max(upstream_->Length(), 0);
        const int64_t out = (in * phases_ + step_ - 1) / step_;
        return static_cast<int32_t>(std::min<int64_t>(out, std::numeric_limits<int32_t>::max()));
    }

    void Seek(int32_t position) override {
        position_ = position;
        const int64_t t = int64_t{position} * step_;
        centre_ = FloorDiv(t, phases_);
        phase_ = static_cast<int>(t - centre_ * phases_);
    }

private:
    // Makes the window hold input frames [block*B - 31, block*B + B + 32).
    void Load(int64_t block) {
        const int64_t first = block * kBlockFrames - kHalfTaps;
        const size_t keep = static_cast<size_t>(kWindowFrames - kBlockFrames) * channels_;
        if (block == loaded_ + 1) {
            // The last 63 frames of the previous window start this one.
            std::memmove(raw_.data(), raw_.data() + raw_.size() - keep, keep * sizeof(int32_t));
            Fetch(first + (kWindowFrames - kBlockFrames), kBlockFrames, raw_.data() + keep);
        } else {
            Fetch(first, kWindowFrames, raw_.data());
        }
        loaded_ = block;

        for (int c = 0; c < channels_; ++c) {
            const int32_t* in = raw_.data() + c;
            int32_t most = 0, least = 0;
            for (int64_t i = 0; i < kWindowFrames; ++i) {
                most = std::max(most, in[i * channels_]);
                least = std::min(least, in[i * channels_]);
            }
            const int s = HeadroomShift(std::max<int64_t>(most, -int64_t{least}));
            int16_t* w = &window_[static_cast<size_t>(c) * kWindowFrames];
            if (s == 0) {
                for (int64_t i = 0; i < kWindowFrames; ++i)
                    w[i] = static_cast<int16_t>(in[i * channels_]);
            } else {
                // (v + 2^(s-1)) >> s without leaving 32 bits: bit s-1 is the rounding carry.
                for (int64_t i = 0; i < kWindowFrames; ++i) {
                    const int32_t v = in[i * channels_];
                    w[i] = static_cast<int16_t>((v >> s) + ((v >> (s - 1)) & 1));
                }
            }
            scales_[c] = MakeOutputScale(s);
        }
    }

    // Reads count input frames from frame first. Frames whose numbers do not
    // fit the upstream's 32-bit positions lie outside any source: silence.
    void Fetch(int64_t first, int64_t count, int32_t* dest) {
        std::fill(dest, dest + count * channels_, 0);
        const int64_t lo = std::max<int64_t>(first, std::numeric_limits<int32_t>::min());
        const int64_t hi = std::min<int64_t>(first + count, std::numeric_limits<int32_t>::max());
        if (lo >= hi) return;
        if (upstream_->Position() != lo) upstream_->Seek(static_cast<int32_t>(lo));
        ReadInPieces(*upstream_, dest + (lo - first) * channels_, hi - lo);
    }

    Ref<AudioSource> upstream_;
    const int channels_;
    const int phases_;
    const int64_t step_;
    const int64_t stepWhole_;
    const int stepFrac_;
    const ProduceFn produce_;
    std::vector<int16_t> tapsHi_, tapsLo_;                  // phase-major, kPaddedTaps per phase
    std::vector<int32_t> raw_;                              // kWindowFrames interleaved input frames
    std::vector<int16_t> window_;                           // per channel, shifted to 16 bits
    std::vector<OutputScale> scales_;                       // per channel, from the window's headroom shift
    int64_t loaded_ = std::numeric_limits<int64_t>::min();  // block in the window
    int64_t position_ = 0;                                  // output frame
    int64_t centre_ = 0;                                    // input frame under the centre tap
    int phase_ = 0;                                         // fraction phase_/P past centre_
};

// Stands in when a rate is unusable; keeps the source's channel count so a
// caller sized for it still gets every sample it asked for.
class SilentSource final : public AudioSource {
public:
    SilentSource(int32_t rate, int channels) : AudioSource(rate, kFullScale16, channels, kSourceUnusable) {}
    void Read(int32_t* buffer, int32_t frames) override {
        if (frames > 0) std::fill(buffer, buffer + static_cast<size_t>(frames) * Channels(), 0);
    }
    int32_t Position() const override { return 0; }
    int32_t Length() const override { return 0; }
    void Seek(int32_t) override {}
};

}  // namespace

ResampleDesign DesignResampler(int32_t sourceRate, int32_t targetRate, bool firstOfTwo) {
    ResampleDesign d;
    d.sourceRate = sourceRate;
    d.targetRate = targetRate;
    if (sourceRate <= 0 || targetRate <= 0) return d;
    ChoosePhases(sourceRate, targetRate, d.phases, d.step);

    const double ratio = static_cast<double>(targetRate) / sourceRate;
    if (sourceRate < targetRate) {
        d.cutoff = 0.975;
        d.beta = 2.12;
    } else {
        d.cutoff = ratio - (firstOfTwo ? 0.09375 : 0.046875);
        d.beta = 4.538;
    }

    const double i0Beta = BesselI0(d.beta);
    const double pi = std::numbers::pi;
    d.taps.resize(static_cast<size_t>(d.phases) * kResampleTaps);
    std::vector<double> h(kResampleTaps);
    for (int p = 0; p < d.phases; ++p) {
        double sum = 0;
        for (int j = -kHalfTaps; j <= kHalfTaps; ++j) {
            const double x = j - static_cast<double>(p) / d.phases;
            const double sinc = x == 0 ? d.cutoff : std::sin(pi * d.cutoff * x) / (pi * x);
            const double window = BesselI0(d.beta * std::sqrt(1 - x * x / (32.0 * 32.0))) / i0Beta;
            h[j + kHalfTaps] = sinc * window;
            sum += sinc * window;
        }
        // Every phase gets unity gain at DC; left unscaled, the phases'
        // slightly different sums would modulate steady signals at the
        // phase rate.
        const double scale = sum > 0 ? kQ16 / sum : kQ16;
        for (int m = 0; m < kResampleTaps; ++m)
            d.taps[static_cast<size_t>(p) * kResampleTaps + m] =
                static_cast<int32_t>(std::lround(h[m] * scale));
    }
    return d;
}

std::vector<ResampleStage> PlanResampleStages(int32_t sourceRate, int32_t targetRate) {
    std::vector<ResampleStage> stages;
    if (sourceRate <= 0 || targetRate <= 0 || sourceRate == targetRate) return stages;
    // Halvings from the last stage backwards, until the first stage's ratio
    // is a quarter or more; a smaller ratio would push its cut-off below 0.
    int64_t rate = targetRate;
    while (4 * rate < sourceRate) {
        stages.push_back({static_cast<int32_t>(2 * rate), static_cast<int32_t>(rate), !stages.empty()});
        rate *= 2;
    }
    stages.push_back({sourceRate, static_cast<int32_t>(rate), !stages.empty()});
    std::reverse(stages.begin(), stages.end());
    return stages;
}

Ref<AudioSource> ResampleStream(Ref<AudioSource> source, int32_t targetRate) {
    if (!source) return MakeNullSource(kSourceUnusable);
    const int32_t sourceRate = source->SampleRate();
    if (sourceRate <= 0 || targetRate <= 0) return MakeRef<SilentSource>(targetRate, source->Channels());
    if (sourceRate == targetRate) return source;
    Ref<AudioSource> out = std::move(source);
    for (const ResampleStage& stage : PlanResampleStages(sourceRate, targetRate))
        out = MakeRef<ResampleSource>(std::move(out),
                                      DesignResampler(stage.sourceRate, stage.targetRate, stage.firstOfTwo));
    return out;
}

void UsePlainResampleKernel(bool plain) {
    g_plainKernel.store(plain, std::memory_order_relaxed);
}

}  // namespace sonitor
