// The time stretcher: a phase vocoder with a Hamming window of N points,
// synthesis hop N/8 and analysis hop N/8 x factor.
//
// Gain: the analysis and synthesis windows are both the Hamming window, and
// the forward FFT is unscaled while the inverse divides by N, so a frame
// passed through unchanged adds x * w^2 to the output. At hop N/8 the
// shifted copies of w^2 sum to the same value at every point (8 x (0.54^2 +
// 0.46^2 / 2) = 3.1792, the cosine terms cancel over eight shifts), so one
// constant factor, hop / sum(w^2), makes the overlap-add exact. The window
// is not scaled with the factor: a sinusoid keeps its level at any speed.
//
// Delay: frame m is centred on input frame m x Ha and on output frame
// m x Hs, so output frame p maps to input frame p x factor with no lag. The
// frames whose windows reach back before the origin are computed first and
// their output before the origin thrown away; at 100 % the synthesis phase
// equals the analysis phase and the input comes back to rounding.
#include "effects/TimeStretch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "effects/Fft.h"
#include "effects/Processor.h"

namespace sonitor {
namespace {

// The analysis hop is kept in millionths of a frame, so that a factor's
// fractional hop adds up without drift over any length.
constexpr int64_t kMicro = 1000000;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kOverlap = 8;  // N / Hs

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}

int32_t ToSample(double v) {
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::lrint(v));
}

// Overlapping frames of a transient can add up past the input's peak:
// twice the source's full scale, at most the headroom scale (but never
// below what the source itself declares).
int32_t StretchedFullScale(int32_t fullScale) {
    return std::max(fullScale,
                    static_cast<int32_t>(std::min<int64_t>(int64_t{fullScale} * 2, kFullScaleHeadroom)));
}

double WrapPhase(double phase) {
    return phase - kTwoPi * std::nearbyint(phase / kTwoPi);
}

class TimeStretcher final : public Processor {
public:
    TimeStretcher(Ref<AudioSource> upstream, int64_t hopMicro)
        : Processor(upstream, upstream->SampleRate(), StretchedFullScale(upstream->FullScale()),
                    upstream->Channels()),
          n_(StretchFftSize(upstream->SampleRate())),
          hs_(n_ / kOverlap),
          bins_(n_ / 2 + 1),
          hopMicro_(hopMicro),
          channels_(upstream->Channels()),
          fft_(static_cast<size_t>(n_)),
          window_(HammingWindow(static_cast<size_t>(n_))),
          spectrum_(static_cast<size_t>(n_)),
          left_(static_cast<size_t>(bins_)),
          right_(static_cast<size_t>(bins_)),
          analysed_(static_cast<size_t>(channels_) * bins_),
          synthesised_(static_cast<size_t>(channels_) * bins_),
          omega_(static_cast<size_t>(channels_) * bins_),
          power_(static_cast<size_t>(bins_)),
          rotation_(static_cast<size_t>(bins_)),
          ring_(static_cast<size_t>(channels_) * n_),
          input_(static_cast<size_t>(channels_) * n_),
          chunk_(static_cast<size_t>(channels_) * hs_) {
        double sum = 0;
        for (double w : window_)
            sum += w * w;
        olaScale_ = hs_ / sum;
        Restart(0);
    }

    void Read(int32_t* buffer, int32_t frames) override {
        const int64_t length = Length();
        while (frames > 0) {
            const int64_t position = outOrigin_ + delivered_;
            if (position >= length) {
                std::memset(buffer, 0, static_cast<size_t>(frames) * channels_ * sizeof(int32_t));
                delivered_ += frames;
                return;
            }
            if (chunkUsed_ == hs_) ProduceChunk();
            const auto n =
                static_cast<int32_t>(std::min<int64_t>({frames, hs_ - chunkUsed_, length - position}));
            std::memcpy(buffer, chunk_.data() + static_cast<size_t>(chunkUsed_) * channels_,
                        static_cast<size_t>(n) * channels_ * sizeof(int32_t));
            chunkUsed_ += n;
            delivered_ += n;
            buffer += static_cast<size_t>(n) * channels_;
            frames -= n;
        }
    }

    int32_t Position() const override {
        return static_cast<int32_t>(std::clamp<int64_t>(outOrigin_ + delivered_,
                                                        std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    }

    // ceil(L / factor), computed in long double: with L below 2^31, Hs at
    // most 2048 and a hop of at most 8 Hs in millionths the products stay
    // well inside its 64-bit mantissa, so 100 % gives L exactly.
    int32_t Length() const override {
        const long double in = std::max(upstream_->Length(), 0);
        const long double out = std::ceil(in * hs_ * kMicro / static_cast<long double>(hopMicro_));
        return static_cast<int32_t>(std::min<long double>(out, std::numeric_limits<int32_t>::max()));
    }

    void Seek(int32_t position) override { Restart(position); }

private:
    // Frames before this one would not reach output frame 0.
    int64_t FirstFrame() const { return 1 - n_ / (2 * hs_); }

    void Restart(int32_t position) {
        outOrigin_ = position;
        inOrigin_ = std::llround(static_cast<long double>(position) * hopMicro_ /
                                 (static_cast<long double>(hs_) * kMicro));
        delivered_ = 0;
        frame_ = FirstFrame();
        std::fill(ring_.begin(), ring_.end(), 0.0);
        ringBase_ = 0;
        inputFrames_ = 0;
        chunkUsed_ = hs_;
    }

    // Runs frames until one completes the chunk of output frames that
    // follows the ones already delivered.
    void ProduceChunk() {
        const int64_t lead = n_ / (2 * hs_);
        for (;;) {
            ProcessFrame(frame_);
            const bool deliver = frame_ >= lead;
            ++frame_;
            for (int c = 0; c < channels_; ++c) {
                double* ring = &ring_[static_cast<size_t>(c) * n_];
                for (int j = 0; j < hs_; ++j) {
                    double& v = ring[(ringBase_ + j) & (n_ - 1)];
                    if (deliver) chunk_[static_cast<size_t>(j) * channels_ + c] = ToSample(v);
                    v = 0;
                }
            }
            ringBase_ = (ringBase_ + hs_) & (n_ - 1);
            if (deliver) break;
        }
        chunkUsed_ = 0;
    }

    void ProcessFrame(int64_t m) {
        const int64_t centre = inOrigin_ + FloorDiv(m * hopMicro_, kMicro);
        const int64_t hop = m == FirstFrame() ? -1 : centre - previousCentre_;
        previousCentre_ = centre;
        Fill(centre - n_ / 2);
        // Two channels share one complex transform: the left as the real
        // part, the right as the imaginary part.
        for (int c = 0; c < channels_; c += 2) {
            const bool pair = c + 1 < channels_;
            for (int j = 0; j < n_; ++j) {
                const int32_t* frame = &input_[static_cast<size_t>(j) * channels_ + c];
                spectrum_[j] = {frame[0] * window_[j], pair ? frame[1] * window_[j] : 0.0};
            }
            fft_.Forward(spectrum_);
            for (int k = 0; k < bins_; ++k) {
                const std::complex<double> a = spectrum_[k];
                const std::complex<double> b = std::conj(spectrum_[(n_ - k) & (n_ - 1)]);
                left_[k] = (a + b) * 0.5;
                right_[k] = (a - b) * std::complex<double>(0, -0.5);
            }
            Vocode(left_, c, hop);
            if (pair) Vocode(right_, c + 1, hop);
            for (int k = 0; k < bins_; ++k) {
                const std::complex<double> r = pair ? right_[k] : 0.0;
                spectrum_[k] = left_[k] + std::complex<double>(-r.imag(), r.real());
                if (k > 0 && k < n_ / 2)
                    spectrum_[n_ - k] = std::conj(left_[k]) + std::complex<double>(r.imag(), r.real());
            }
            fft_.Inverse(spectrum_);
            double* ringL = &ring_[static_cast<size_t>(c) * n_];
            double* ringR = pair ? &ring_[static_cast<size_t>(c + 1) * n_] : nullptr;
            for (int j = 0; j < n_; ++j) {
                const double w = window_[j] * olaScale_;
                const size_t at = (ringBase_ + j) & (n_ - 1);
                ringL[at] += spectrum_[j].real() * w;
                if (pair) ringR[at] += spectrum_[j].imag() * w;
            }
        }
    }

    // Each bin keeps its magnitude. The peaks of the magnitude spectrum
    // (maxima over two bins either side: the Hamming main lobe) advance
    // their phase by their measured frequency times the synthesis hop; the
    // other bins keep the phase offset they have from their peak in the
    // analysis frame, i.e. they turn by the same rotation as the peak.
    // Advancing every bin on its own lets the bins of one partial drift
    // apart after a transient, and the partial then loses level for good;
    // locked to the peak they stay coherent. Only the peaks need angles: a
    // region turns by a complex product. At 100 % the rotations are 1 (to
    // rounding) and the analysis frame comes back. A hop of 0 (factors
    // below 1 / Hs) measures nothing: the last frequency carries on.
    void Vocode(std::vector<std::complex<double>>& bins, int channel, int64_t hop) {
        const size_t at = static_cast<size_t>(channel) * bins_;
        std::complex<double>* previous = &analysed_[at];
        std::complex<double>* made = &synthesised_[at];
        double* omega = &omega_[at];
        const double binStep = kTwoPi / n_;
        for (int k = 0; k < bins_; ++k)
            power_[k] = std::norm(bins[k]);
        if (hop < 0) {
            for (int k = 0; k < bins_; ++k) {
                omega[k] = binStep * k;
                previous[k] = made[k] = bins[k];
            }
        } else {
            FindPeaks();
            for (size_t i = 0; i < peaks_.size(); ++i) {
                const int p = peaks_[i];
                const std::complex<double> x = bins[p];
                if (hop > 0 && std::norm(previous[p]) > 0) {
                    const std::complex<double> turn = x * std::conj(previous[p]);
                    const double expected = binStep * p * static_cast<double>(hop);
                    const double deviation = WrapPhase(std::atan2(turn.imag(), turn.real()) - expected);
                    omega[p] = binStep * p + deviation / static_cast<double>(hop);
                }
                // The peak's new phase: its last synthesised phase advanced
                // (or, with nothing synthesised there, its analysis phase).
                const double advance = omega[p] * hs_;
                const double lastPower = std::norm(made[p]);
                const std::complex<double> from =
                    lastPower > 0 ? made[p] / std::sqrt(lastPower) : x / std::sqrt(power_[p]);
                const std::complex<double> phase =
                    from * std::complex<double>(std::cos(advance), std::sin(advance));
                // The rotation from analysis to synthesis phase, unit length.
                rotation_[i] = phase * std::conj(x) / std::sqrt(power_[p]);
            }
            for (int k = 0; k < bins_; ++k)
                previous[k] = bins[k];
            for (size_t i = 0; i < peaks_.size(); ++i) {
                const int from = i == 0 ? 0 : bounds_[i - 1];
                const int to = i + 1 == peaks_.size() ? bins_ : bounds_[i];
                const double rr = rotation_[i].real(), ri = rotation_[i].imag();
                for (int k = from; k < to; ++k) {
                    // Written out: std::complex's product checks for NaN.
                    const double br = bins[k].real(), bi = bins[k].imag();
                    made[k] = bins[k] = {br * rr - bi * ri, br * ri + bi * rr};
                }
            }
        }
        // The end bins of a real signal are real.
        bins[0] = bins[0].real();
        bins[bins_ - 1] = bins[bins_ - 1].real();
    }

    // The peaks of power_, and between each two the bin of least
    // magnitude, where the second one's region begins.
    void FindPeaks() {
        peaks_.clear();
        bounds_.clear();
        const double* m = power_.data();
        for (int k = 0; k < bins_; ++k) {
            const double v = m[k];
            if (v <= 0) continue;
            if ((k >= 1 && m[k - 1] >= v) || (k >= 2 && m[k - 2] >= v)) continue;
            if ((k + 1 < bins_ && m[k + 1] > v) || (k + 2 < bins_ && m[k + 2] > v)) continue;
            if (!peaks_.empty()) {
                const int previous = peaks_.back();
                bounds_.push_back(static_cast<int>(std::min_element(m + previous + 1, m + k) - m));
            }
            peaks_.push_back(k);
        }
    }

    // Makes input_ hold the frames [first, first + N).
    void Fill(int64_t first) {
        const size_t ch = static_cast<size_t>(channels_);
        if (inputFrames_ == 0 || first < inputFirst_ || first > inputFirst_ + inputFrames_) {
            inputFirst_ = first;
            inputFrames_ = 0;
        } else if (first > inputFirst_) {
            const int64_t drop = first - inputFirst_;
            std::memmove(input_.data(), input_.data() + drop * ch,
                         (inputFrames_ - drop) * ch * sizeof(int32_t));
            inputFrames_ -= drop;
            inputFirst_ = first;
        }
        const int64_t from = inputFirst_ + inputFrames_;
        const int64_t count = n_ - inputFrames_;
        if (count > 0) Fetch(from, count, input_.data() + inputFrames_ * ch);
        inputFrames_ = n_;
    }

    // Upstream frames [from, from + count); positions outside 32 bits lie
    // beyond any source and read as silence.
    void Fetch(int64_t from, int64_t count, int32_t* dest) {
        const int64_t lo = std::max<int64_t>(from, std::numeric_limits<int32_t>::min());
        const int64_t hi = std::min<int64_t>(from + count, std::numeric_limits<int32_t>::max());
        if (lo >= hi) {
            std::memset(dest, 0, static_cast<size_t>(count) * channels_ * sizeof(int32_t));
            return;
        }
        if (lo > from) std::memset(dest, 0, static_cast<size_t>(lo - from) * channels_ * sizeof(int32_t));
        if (hi < from + count)
            std::memset(dest + (hi - from) * channels_, 0,
                        static_cast<size_t>(from + count - hi) * channels_ * sizeof(int32_t));
        if (upstreamNext_ != lo) upstream_->Seek(static_cast<int32_t>(lo));
        ReadInPieces(*upstream_, dest + (lo - from) * channels_, hi - lo);
        upstreamNext_ = hi;
    }

    const int n_;
    const int hs_;
    const int bins_;
    const int64_t hopMicro_;  // Ha in millionths of a frame
    const int channels_;
    const Fft fft_;
    const std::vector<double> window_;
    double olaScale_ = 1;
    std::vector<std::complex<double>> spectrum_;
    std::vector<std::complex<double>> left_, right_;  // bins 0..N/2 of the two channels of a pair
    // Per channel, per bin: the last analysed and synthesised bins and the
    // last measured frequency (radians per frame).
    std::vector<std::complex<double>> analysed_, synthesised_;
    std::vector<double> omega_;
    std::vector<double> power_;                   // |bin|^2 of the bins being vocoded
    std::vector<std::complex<double>> rotation_;  // per peak
    std::vector<int> peaks_, bounds_;
    std::vector<double> ring_;    // per channel, N output frames being summed
    size_t ringBase_ = 0;         // ring index of the oldest output frame
    std::vector<int32_t> input_;  // N interleaved input frames
    int64_t inputFirst_ = 0;
    int64_t inputFrames_ = 0;
    int64_t upstreamNext_ = std::numeric_limits<int64_t>::min();
    std::vector<int32_t> chunk_;  // Hs finished output frames
    int32_t chunkUsed_ = 0;
    int64_t frame_ = 0;  // next analysis frame, counted from the origin
    int64_t previousCentre_ = 0;
    int64_t outOrigin_ = 0;
    int64_t inOrigin_ = 0;
    int64_t delivered_ = 0;  // output frames since the origin
};

class UnusableStretch final : public AudioSource {
public:
    explicit UnusableStretch(const AudioSource& source)
        : AudioSource(source.SampleRate(), source.FullScale(), source.Channels(), kSourceUnusable) {}
    void Read(int32_t* buffer, int32_t frames) override {
        if (frames > 0) std::memset(buffer, 0, static_cast<size_t>(frames) * Channels() * sizeof(int32_t));
    }
    int32_t Position() const override { return 0; }
    int32_t Length() const override { return 0; }
    void Seek(int32_t) override {}
};

}  // namespace

int32_t StretchFftSize(int32_t sampleRate) {
    const int32_t n = std::max(sampleRate, 0) / 32;
    return static_cast<int32_t>(
        std::min<size_t>(PowerOfTwoAtLeast(static_cast<size_t>(n - n / 4), 3), 16384));
}

Ref<AudioSource> StretchStream(Ref<AudioSource> source, double factor) {
    const int32_t hs = StretchFftSize(source->SampleRate()) / kOverlap;
    // Negated so that NaN is refused too.
    if (!(factor > 0 && factor <= kMaxStretchFactor)) return MakeRef<UnusableStretch>(*source);
    const auto hopMicro = static_cast<int64_t>(std::llround(static_cast<double>(hs) * factor * kMicro));
    if (hopMicro < 1) return MakeRef<UnusableStretch>(*source);
    return MakeRef<TimeStretcher>(std::move(source), hopMicro);
}

}  // namespace sonitor
