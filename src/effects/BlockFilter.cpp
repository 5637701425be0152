#include "effects/BlockFilter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "effects/Processor.h"

namespace sonitor {

namespace {

constexpr int kTaps = 2048;                          // h[0..2047], mirrored to 4095 taps
constexpr int kHistory = kTaps - 1;                  // frames before the block the taps reach
constexpr int kBlock = 8192;                         // frames computed per window
constexpr int kWindow = 12287;                       // history, block, and 2048 frames ahead
constexpr int kAhead = kWindow - kHistory - kBlock;  // 2048
constexpr int kKept = kWindow - kBlock;              // what a slide keeps: 4095
// Outputs computed together. Each tap then adds to a short contiguous run
// of accumulators from two contiguous runs of input, which the compiler
// turns into plain vector code; 32 keeps the accumulators in the first-level
// cache and lets small reads stay cheap.
constexpr int kTile = 32;
static_assert(kBlock % kTile == 0);

// The tiles are compiled twice on x86-64, for the baseline and for AVX2
// (twice the lanes), and the loader picks the one the processor runs.
// The clones are picked by a resolver that runs before the thread
// sanitizer's runtime is ready, so sanitized builds keep one version.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define SONITOR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SONITOR_VECTOR_CLONES
#endif

// The headroom shift keeps window samples within 16 bits.
constexpr int64_t kSampleLimit = 32767;

int32_t Saturate(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// A tile of outputs in 32-bit integers. Only used when the coefficient sum
// times the window's peak fits in 32 bits, so no product or partial sum can
// overflow and the result is the exact sum.
SONITOR_VECTOR_CLONES void FilterTile32(const int32_t* __restrict x, int32_t h0,
                                        const int32_t* __restrict tapK, const int32_t* __restrict tapH,
                                        int tapCount, int64_t* __restrict y) {
    int32_t acc[kTile];
    for (int j = 0; j < kTile; ++j)
        acc[j] = h0 * x[j];
    for (int t = 0; t < tapCount; ++t) {
        const int32_t hk = tapH[t];
        const int32_t* __restrict ahead = x + tapK[t];
        const int32_t* __restrict behind = x - tapK[t];
        for (int j = 0; j < kTile; ++j)
            acc[j] += hk * (ahead[j] + behind[j]);
    }
    for (int j = 0; j < kTile; ++j)
        y[j] = acc[j];
}

// The same tile where the 32-bit sum could overflow (boosting curves on
// loud blocks). Every term is an integer below 2^33 and every partial sum
// below 2^44, so double arithmetic is exact here and gives the full sum,
// which is what 64-bit integers would give, at vector speed.
SONITOR_VECTOR_CLONES void FilterTileExact(const double* __restrict x, double h0,
                                           const int32_t* __restrict tapK, const double* __restrict tapH,
                                           int tapCount, int64_t* __restrict y) {
    double acc[kTile];
    for (int j = 0; j < kTile; ++j)
        acc[j] = h0 * x[j];
    for (int t = 0; t < tapCount; ++t) {
        const double hk = tapH[t];
        const double* __restrict ahead = x + tapK[t];
        const double* __restrict behind = x - tapK[t];
        for (int j = 0; j < kTile; ++j)
            acc[j] += hk * (ahead[j] + behind[j]);
    }
    for (int j = 0; j < kTile; ++j)
        y[j] = static_cast<int64_t>(acc[j]);
}

class BlockFilter final : public Processor {
public:
    BlockFilter(Ref<AudioSource> upstream, const BinCurve& curve) : Processor(std::move(upstream)) {
        BuildCoefficients(curve);
        const size_t channels = static_cast<size_t>(Channels());
        window_.assign(channels * kWindow, 0);
        output_.assign(channels * kBlock, 0);
        scratch_.resize(channels * kMaxTransferFrames);
        // Nothing before the upstream's current frame is known: the history
        // starts silent and the block begins where the upstream stands.
        blockStart_ = upstream_->Position();
        ReadInto(kHistory, kAhead);
        ReadInto(kHistory + kAhead, kBlock);
        PrepareBlock();
    }

    void Read(int32_t* buffer, int32_t frames) override {
        const int channels = Channels();
        int64_t done = 0;
        while (done < frames) {
            if (outPos_ == kBlock) Slide();
            const int n = static_cast<int>(std::min<int64_t>(frames - done, kBlock - outPos_));
            ComputeUpTo(outPos_ + n);
            for (int c = 0; c < channels; ++c) {
                const int32_t* from = output_.data() + static_cast<size_t>(c) * kBlock + outPos_;
                int32_t* to = buffer + done * channels + c;
                for (int i = 0; i < n; ++i)
                    to[static_cast<size_t>(i) * channels] = from[i];
            }
            outPos_ += n;
            done += n;
        }
    }

    int32_t Position() const override { return Saturate(blockStart_ + outPos_); }

    void Seek(int32_t position) override {
        upstream_->Seek(Saturate(int64_t{position} - kHistory));
        blockStart_ = position;
        ReadInto(0, kKept);
        ReadInto(kKept, kBlock);
        PrepareBlock();
    }

private:
    // h[k] = (trunc(sum_i A[i] cos(i k pi / 2048)) + 4) >> 3, evaluated term
    // by term as written: the truncation makes the rounding of each cosine
    // matter for curves whose sums land on whole numbers.
    void BuildCoefficients(const BinCurve& curve) {
        std::vector<int32_t> h(kTaps);
        for (int k = 0; k < kTaps; ++k) {
            double sum = 0;
            for (int i = 0; i < kTaps; ++i)
                sum += curve[static_cast<size_t>(i)] *
                       std::cos(static_cast<double>(i * k) * 0.0015339807878856412);
            h[static_cast<size_t>(k)] = (static_cast<int32_t>(std::trunc(sum)) + 4) >> 3;
        }
        h0_ = h[0];
        absSum_ = std::abs(int64_t{h0_});
        for (int k = 1; k < kTaps; ++k) {
            const int32_t v = h[static_cast<size_t>(k)];
            if (v == 0) continue;  // a flat curve zeroes every even tap
            tapK_.push_back(k);
            tapH_.push_back(v);
            tapHExact_.push_back(v);
            absSum_ += 2 * std::abs(int64_t{v});
        }
    }

    // Reads frames from the upstream into window frames [at, at + frames).
    void ReadInto(int at, int frames) {
        const int channels = Channels();
        while (frames > 0) {
            const int n = std::min(frames, kMaxTransferFrames);
            upstream_->Read(scratch_.data(), n);
            for (int c = 0; c < channels; ++c) {
                int32_t* to = window_.data() + static_cast<size_t>(c) * kWindow + at;
                const int32_t* from = scratch_.data() + c;
                for (int i = 0; i < n; ++i)
                    to[i] = from[static_cast<size_t>(i) * channels];
            }
            at += n;
            frames -= n;
        }
    }

    // The smallest shift that brings the window's peak within 16 bits, applied
    // to the whole window; then the way this block will be summed.
    void PrepareBlock() {
        int64_t peak = 0;
        for (const int32_t v : window_)
            peak = std::max(peak, std::abs(int64_t{v}));
        shift_ = 0;
        while ((peak >> shift_) > kSampleLimit)
            ++shift_;
        int64_t shiftedPeak = 0;
        for (int32_t& v : window_) {
            v >>= shift_;
            shiftedPeak = std::max(shiftedPeak, std::abs(int64_t{v}));
        }
        exact_ = shiftedPeak * absSum_ > INT32_MAX;
        if (exact_) {
            windowExact_.resize(window_.size());
            std::copy(window_.begin(), window_.end(), windowExact_.begin());
        }
        outPos_ = 0;
        computed_ = 0;
    }

    // The next block: the last 4095 frames move to the front, restored to
    // their scale (the bits the shift dropped stay dropped), and 8192 new
    // frames follow them.
    void Slide() {
        const int channels = Channels();
        for (int c = 0; c < channels; ++c) {
            int32_t* w = window_.data() + static_cast<size_t>(c) * kWindow;
            std::memmove(w, w + kBlock, sizeof(int32_t) * kKept);
            for (int i = 0; i < kKept; ++i)
                w[i] = static_cast<int32_t>(int64_t{w[i]} * (int64_t{1} << shift_));
        }
        blockStart_ += kBlock;
        ReadInto(kKept, kBlock);
        PrepareBlock();
    }

    void ComputeUpTo(int end) {
        end = std::min(kBlock, (end + kTile - 1) / kTile * kTile);
        const int channels = Channels();
        const int tapCount = static_cast<int>(tapK_.size());
        int64_t y[kTile];
        for (; computed_ < end; computed_ += kTile) {
            for (int c = 0; c < channels; ++c) {
                const size_t at =
                    static_cast<size_t>(c) * kWindow + kHistory + static_cast<size_t>(computed_);
                if (exact_) {
                    FilterTileExact(windowExact_.data() + at, h0_, tapK_.data(), tapHExact_.data(), tapCount,
                                    y);
                } else {
                    FilterTile32(window_.data() + at, h0_, tapK_.data(), tapH_.data(), tapCount, y);
                }
                int32_t* out = output_.data() + static_cast<size_t>(c) * kBlock + computed_;
                for (int j = 0; j < kTile; ++j)
                    out[j] = Scale(y[j]);
            }
        }
    }

    // y >> (15 - shift) undoes the coefficients' scale and the headroom
    // shift; a shift above 15 (samples beyond 2^30) turns into a left shift.
    int32_t Scale(int64_t y) const {
        if (shift_ <= 15) return Saturate(y >> (15 - shift_));
        return Saturate(y * (int64_t{1} << (shift_ - 15)));
    }

    int32_t h0_ = 0;
    std::vector<int32_t> tapK_;  // the k >= 1 whose coefficient is not 0
    std::vector<int32_t> tapH_;  // and their coefficients
    std::vector<double> tapHExact_;
    int64_t absSum_ = 0;  // |h0| + 2 * sum |h[k]|: bounds |y| per unit of input

    std::vector<int32_t> window_;      // per channel, kWindow frames, shifted
    std::vector<double> windowExact_;  // the same, for blocks summed exactly
    std::vector<int32_t> output_;      // per channel, kBlock frames
    std::vector<int32_t> scratch_;     // interleaved upstream frames
    int64_t blockStart_ = 0;           // frame of the block's first output
    int outPos_ = 0;                   // next output within the block
    int computed_ = 0;                 // outputs computed so far
    int shift_ = 0;
    bool exact_ = false;
};

}  // namespace

Ref<AudioSource> CreateBlockFilter(Ref<AudioSource> source, const BinCurve& curve) {
    return MakeRef<BlockFilter>(std::move(source), curve);
}

}  // namespace sonitor
