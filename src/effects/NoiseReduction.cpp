// The noise tools: the multi-band noise gate, noise profiles with the stored
// sample of "Get Noise Sample", spectral subtraction, and the catalogue
// entries of the noise family (click repair lives in ClickRepair.cpp and
// registers through AddNoiseEffects too).
#include "effects/NoiseReduction.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ProgressTask.h"
#include "effects/AudioEffect.h"
#include "effects/Decibels.h"
#include "effects/Fft.h"
#include "effects/Processor.h"
#include "foundation/Numbers.h"

namespace sonitor {

// ClickRepair.cpp.
void AddClickRepairEffects(std::vector<EffectDefinition>& catalogue);

const char* const kNoiseSampleErrorTitle = "Manual Noise Reduction Error";
const char* const kNoiseSampleTooLongMessage =
    "You cannot sample an area of your audio longer than 8 seconds. Please select a shorter area.";
const char* const kNoiseSampleMismatchMessage =
    "The noise sample you took is not compatible with the selection you are attempting to apply it to.";

namespace {

constexpr int64_t kQ24One = int64_t{1} << 24;

int32_t Saturate(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// --- Multi-band noise gate ------------------------------------------------------------

constexpr int kBands = 4;

// The peak factor of a band at a level: 2^33 / (amplitude x 2^-24 x 2^17),
// which is 2^40 / amplitude exactly. Silence (-127 dB) has no amplitude and
// the lowest levels give factors beyond 32 bits; both saturate, which keeps
// such a gate open for anything but digital silence.
int32_t GateThreshold(int level) {
    const int64_t amplitude = AmplitudeGain(ClampDecibels(level));
    if (amplitude <= 0) return INT32_MAX;
    const int64_t t = (int64_t{1} << 40) / amplitude;
    return t > INT32_MAX ? INT32_MAX : static_cast<int32_t>(t);
}

// Q8 one-pole coefficient for exp(constant / rate), constant = -2 pi f.
int64_t OnePole(double constant, int32_t rate) {
    return static_cast<int64_t>(256.0 * (1.0 - std::exp(constant / rate)));
}

// The gain a band wants for its block peak: shut below the threshold,
// open from about five times it, linear between.
int64_t GateTarget(int64_t peak, int32_t threshold) {
    peak = std::min<int64_t>(peak, INT32_MAX);
    // Where the product passes 2^30 the band is far past fully open; below
    // that MulQ24 cannot wrap.
    if (((peak * threshold) >> 24) >= (int64_t{1} << 30)) return kQ24One;
    const int64_t v = int64_t{MulQ24(static_cast<int32_t>(peak), threshold)} - 512;
    if (v < 0) return 0;
    if (v > 2048) return kQ24One;
    return v * 8192;
}

// Reads one block ahead: while a block is delivered each band's gain ramps
// toward what the next block's peak asks for, opening over one block and
// closing over two (the lowest band over four, so hum tails fade slowly).
class NoiseGate final : public Processor {
public:
    NoiseGate(Ref<AudioSource> upstream, int level)
        : Processor(std::move(upstream)),
          window_(std::clamp(SampleRate() / 30, 20, 8192)),
          raw_(static_cast<size_t>(window_) * static_cast<size_t>(Channels())),
          bands_(2 * kBands * raw_.size()),
          filters_(static_cast<size_t>(Channels())) {
        const int clamped = ClampDecibels(level);
        const int bandLevels[kBands] = {clamped + 3, clamped, clamped - 3, clamped};
        for (int b = 0; b < kBands; ++b)
            thresholds_[static_cast<size_t>(b)] = GateThreshold(bandLevels[b]);
        const int32_t rate = SampleRate();
        k_ = {OnePole(-314.15926535, rate), OnePole(-2513.2741228, rate), OnePole(-6911.5038377, rate),
              OnePole(-16336.2817982, rate)};
    }

    int32_t Position() const override {
        if (!started_) return upstream_->Position();
        return static_cast<int32_t>(int64_t{upstream_->Position()} - (2 * int64_t{window_} - delivered_));
    }

    void Read(int32_t* buffer, int32_t frames) override {
        const size_t channels = static_cast<size_t>(Channels());
        while (frames > 0) {
            if (!started_) {
                Start();
            } else if (delivered_ == window_) {
                Advance();
            }
            const int32_t n = std::min(frames, window_ - delivered_);
            const size_t first = static_cast<size_t>(delivered_) * channels;
            std::array<const int32_t*, kBands> band{};
            for (int b = 0; b < kBands; ++b)
                band[static_cast<size_t>(b)] = Band(current_, b) + first;
            for (int32_t f = 0; f < n; ++f) {
                std::array<int32_t, kBands> g{};
                for (size_t b = 0; b < kBands; ++b)
                    g[b] = static_cast<int32_t>(std::clamp<int64_t>(gain_[b], 0, kQ24One));
                for (size_t c = 0; c < channels; ++c) {
                    const size_t i = static_cast<size_t>(f) * channels + c;
                    int64_t sum = 0;
                    for (size_t b = 0; b < kBands; ++b)
                        sum += MulQ24(band[b][i], g[b]);
                    *buffer++ = Saturate(sum);
                }
                for (size_t b = 0; b < kBands; ++b)
                    gain_[b] += step_[b];
            }
            delivered_ += n;
            frames -= n;
        }
    }

private:
    struct FilterState {
        std::array<int64_t, kBands> s{};
    };

    void Reset() override {
        started_ = false;
        delivered_ = 0;
        std::fill(filters_.begin(), filters_.end(), FilterState{});
    }

    int32_t* Band(int slot, int band) {
        return bands_.data() + (static_cast<size_t>(slot) * kBands + static_cast<size_t>(band)) * raw_.size();
    }

    // Reads the next block into slot, splits it and returns each band's
    // target gain.
    std::array<int64_t, kBands> ReadBlock(int slot) {
        ReadInPieces(*upstream_, raw_.data(), window_);
        const size_t channels = static_cast<size_t>(Channels());
        std::array<int32_t*, kBands> out{};
        for (int b = 0; b < kBands; ++b)
            out[static_cast<size_t>(b)] = Band(slot, b);
        std::array<int64_t, kBands> peak{};
        for (size_t c = 0; c < channels; ++c) {
            std::array<int64_t, kBands> s = filters_[c].s;
            for (size_t i = c; i < raw_.size(); i += channels) {
                // Everything below about 50 Hz goes first; then each band is
                // the one-pole low-pass of what the bands below left over.
                int64_t x = raw_[i];
                x -= s[0] >> 8;
                s[0] += k_[0] * x;
                for (size_t b = 1; b < kBands; ++b) {
                    s[b] += k_[b] * (x - (s[b] >> 8));
                    const int32_t part = Saturate(s[b] >> 8);
                    x -= part;
                    out[b - 1][i] = part;
                    peak[b - 1] = std::max<int64_t>(peak[b - 1], std::llabs(part));
                }
                const int32_t rest = Saturate(x);
                out[kBands - 1][i] = rest;
                peak[kBands - 1] = std::max<int64_t>(peak[kBands - 1], std::llabs(rest));
            }
            filters_[c].s = s;
        }
        std::array<int64_t, kBands> target{};
        for (size_t b = 0; b < kBands; ++b)
            target[b] = GateTarget(peak[b], thresholds_[b]);
        return target;
    }

    // The gains start where the first block wants them.
    void Start() {
        current_ = 0;
        gain_ = ReadBlock(0);
        BeginBlock(ReadBlock(1));
        started_ = true;
    }

    void Advance() {
        const int freed = current_;
        current_ ^= 1;
        BeginBlock(ReadBlock(freed));
    }

    void BeginBlock(const std::array<int64_t, kBands>& target) {
        delivered_ = 0;
        for (size_t b = 0; b < kBands; ++b) {
            const int64_t difference = target[b] - gain_[b];
            const int64_t frames = difference >= 0 ? window_ : (b == 0 ? 4 : 2) * int64_t{window_};
            step_[b] = difference / frames;
        }
    }

    int32_t window_;
    std::array<int32_t, kBands> thresholds_{};
    std::array<int64_t, kBands> k_{};
    std::vector<int32_t> raw_;
    std::vector<int32_t> bands_;  // [slot][band] blocks of window_ interleaved frames
    std::vector<FilterState> filters_;
    int current_ = 0;
    int32_t delivered_ = 0;
    bool started_ = false;
    std::array<int64_t, kBands> gain_{};
    std::array<int64_t, kBands> step_{};
};

// --- Spectra ---------------------------------------------------------------------------

// 0 dB of the noise profile's levels.
constexpr double kLevelReference = 92682.0;

int LevelOfMagnitude(double magnitude) {
    if (!(magnitude > 0)) return kDecibelSilence;
    const double db = 20.0 * std::log10(magnitude / kLevelReference);
    if (db >= 127.0) return 127;
    if (db <= -127.0) return kDecibelSilence;
    return static_cast<int>(magnitude >= kLevelReference ? std::trunc(db + 0.5) : std::trunc(db - 0.5));
}

// Two real frames go through one complex transform, one as the real part
// and one as the imaginary part; Z[k] and conj(Z[N - k]) separate them
// again: A[k] = (Z[k] + conj(Z[N-k])) / 2, B[k] = (Z[k] - conj(Z[N-k])) / 2i.
// A channel without a partner pairs with silence.
void LoadPair(std::vector<std::complex<double>>& z, const std::vector<double>& window, const double* a,
              const double* b) {
    for (size_t i = 0; i < z.size(); ++i)
        z[i] = {window[i] * a[i], b ? window[i] * b[i] : 0.0};
}

// Squared magnitudes of the two separated spectra at bin k.
void PairNorms(const std::vector<std::complex<double>>& z, size_t k, double& a2, double& b2) {
    const size_t n = z.size();
    const std::complex<double> zk = z[k];
    const std::complex<double> zm = std::conj(z[(n - k) & (n - 1)]);
    a2 = std::norm(zk + zm) * 0.25;
    b2 = std::norm(zk - zm) * 0.25;
}

// --- Noise profiles ------------------------------------------------------------------------

// The sample of "Get Noise Sample", kept until the program exits. Profiles
// are immutable once built, so readers share them by pointer.
std::mutex gStoredSampleLock;
std::shared_ptr<const NoiseProfile> gStoredSample;

// --- Spectral subtraction ------------------------------------------------------------------
//
// The frame is N points, the hop H = N/4. Each step transforms the last N
// input frames of a channel, keeps per bin what the profile calls noise (the
// whole bin when it is quieter than the profile, else the profile's
// magnitude with the bin's phase), transforms back and undoes the analysis
// window: that is the noise estimate of the step. Only the middle half of
// the frame is used, under a triangle that rises over its first quarter and
// falls over its second; the triangles of consecutive steps overlap by H and
// add up to one, so every output frame gets its whole estimate from two
// steps and the cut frame edges never show.
//
// Alignment: the first step's frame starts 2H before the first output frame,
// so its falling half covers output frames 0..H-1 and the second step
// completes them. Every step then delivers H frames, and the output lines up
// with the input sample for sample, whatever the position it starts from.
class SpectralSubtraction final : public Processor {
public:
    SpectralSubtraction(Ref<AudioSource> upstream, std::shared_ptr<const NoiseProfile> profile)
        : Processor(std::move(upstream)),
          size_(static_cast<size_t>(profile->fftSize)),
          hop_(size_ / 4),
          fft_(size_),
          window_(HammingWindow(size_)),
          spectrum_(size_),
          input_(static_cast<size_t>(Channels()), std::vector<double>(size_)),
          estimate_(static_cast<size_t>(Channels()), std::vector<double>(2 * hop_)),
          pending_(static_cast<size_t>(Channels()), std::vector<int64_t>(hop_)),
          output_(hop_ * static_cast<size_t>(Channels())),
          block_(hop_ * static_cast<size_t>(Channels())),
          position_(upstream_->Position()) {
        // Bins 0 .. N/2; the one at half the rate has no profile entry of
        // its own and takes its neighbour's.
        const size_t bins = size_ / 2;
        for (size_t c = 0; c < static_cast<size_t>(Channels()); ++c) {
            std::vector<double> noise(profile->magnitudes[c]);
            noise.resize(bins + 1, noise.empty() ? 0.0 : noise.back());
            noise_.push_back(std::move(noise));
        }
    }

    int32_t Position() const override { return static_cast<int32_t>(position_); }

    void Seek(int32_t position) override {
        started_ = false;
        position_ = position;
    }

    void Read(int32_t* buffer, int32_t frames) override {
        const size_t channels = static_cast<size_t>(Channels());
        while (frames > 0) {
            if (!started_) Start();
            if (delivered_ == hop_) Step(true);
            const auto n =
                static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(frames), hop_ - delivered_));
            std::copy_n(output_.begin() + static_cast<ptrdiff_t>(delivered_ * channels),
                        static_cast<size_t>(n) * channels, buffer);
            buffer += static_cast<size_t>(n) * channels;
            delivered_ += static_cast<size_t>(n);
            position_ += n;
            frames -= n;
        }
    }

private:
    // Reads H frames into the last quarter of every channel's frame.
    void ReadHop() {
        const size_t channels = static_cast<size_t>(Channels());
        ReadInPieces(*upstream_, block_.data(), static_cast<int64_t>(hop_));
        for (size_t c = 0; c < channels; ++c) {
            double* in = input_[c].data() + 3 * hop_;
            for (size_t i = 0; i < hop_; ++i)
                in[i] = block_[i * channels + c];
        }
    }

    void Start() {
        upstream_->Seek(static_cast<int32_t>(std::max<int64_t>(INT32_MIN, position_ - 2 * int64_t(hop_))));
        for (size_t q = 0; q < 4; ++q) {
            for (auto& in : input_)
                std::copy(in.begin() + static_cast<ptrdiff_t>(hop_), in.end(), in.begin());
            ReadHop();
        }
        Step(false);
        // Nothing is finished yet: the first Read steps again.
        delivered_ = hop_;
        started_ = true;
    }

    // One hop: estimate, finish the frames the last step began and begin
    // the next ones. With `deliver` false (the very first step) nothing is
    // finished, and the next step reads its hop first.
    void Step(bool deliver) {
        const size_t channels = static_cast<size_t>(Channels());
        if (deliver) {
            for (auto& in : input_)
                std::copy(in.begin() + static_cast<ptrdiff_t>(hop_), in.end(), in.begin());
            ReadHop();
        }
        for (size_t c = 0; c < channels; c += 2)
            Estimate(c, c + 1 < channels ? c + 1 : c);
        const double h = static_cast<double>(hop_);
        for (size_t c = 0; c < channels; ++c) {
            const std::vector<double>& e = estimate_[c];
            std::vector<int64_t>& pending = pending_[c];
            if (deliver) {
                for (size_t i = 0; i < hop_; ++i) {
                    pending[i] -= static_cast<int64_t>(static_cast<double>(i) / h * e[i]);
                    output_[i * channels + c] = Saturate(pending[i]);
                }
            }
            const double* x = input_[c].data() + 2 * hop_;
            for (size_t i = hop_; i < 2 * hop_; ++i)
                pending[i - hop_] = static_cast<int64_t>(x[i - hop_]) -
                                    static_cast<int64_t>(static_cast<double>(2 * hop_ - i) / h * e[i]);
        }
        delivered_ = 0;
    }

    // The noise estimate of channels a and b (b == a: a alone) over the
    // frame's middle half, unwindowed, into estimate_.
    void Estimate(size_t a, size_t b) {
        const bool pair = b != a;
        LoadPair(spectrum_, window_, input_[a].data(), pair ? input_[b].data() : nullptr);
        fft_.Forward(spectrum_);
        const std::vector<double>& noiseA = noise_[a];
        const std::vector<double>& noiseB = noise_[b];
        const size_t n = size_;
        for (size_t k = 0; k <= n / 2; ++k) {
            double a2 = 0;
            double b2 = 0;
            PairNorms(spectrum_, k, a2, b2);
            const double ga = a2 > noiseA[k] * noiseA[k] ? noiseA[k] / std::sqrt(a2) : 1.0;
            const double gb = !pair ? ga : b2 > noiseB[k] * noiseB[k] ? noiseB[k] / std::sqrt(b2) : 1.0;
            // gA A[k] + i gB B[k] in terms of Z: the sum and difference of
            // the gains weight Z[k] and conj(Z[N-k]).
            const double alpha = (ga + gb) * 0.5;
            const double beta = (ga - gb) * 0.5;
            const size_t m = (n - k) & (n - 1);
            const std::complex<double> zk = spectrum_[k];
            const std::complex<double> zm = spectrum_[m];
            spectrum_[k] = alpha * zk + beta * std::conj(zm);
            if (m != k) spectrum_[m] = alpha * zm + beta * std::conj(zk);
        }
        fft_.Inverse(spectrum_);
        std::vector<double>& ea = estimate_[a];
        std::vector<double>& eb = estimate_[b];
        for (size_t i = 0; i < 2 * hop_; ++i) {
            const double w = window_[hop_ + i];
            ea[i] = spectrum_[hop_ + i].real() / w;
            if (pair) eb[i] = spectrum_[hop_ + i].imag() / w;
        }
    }

    size_t size_;
    size_t hop_;
    Fft fft_;
    std::vector<double> window_;
    std::vector<std::vector<double>> noise_;  // [channel][bin 0 .. N/2]
    std::vector<std::complex<double>> spectrum_;
    std::vector<std::vector<double>> input_;     // [channel] the last N input frames
    std::vector<std::vector<double>> estimate_;  // [channel] the middle half's estimate
    std::vector<std::vector<int64_t>> pending_;  // [channel] the H frames begun by the last step
    std::vector<int32_t> output_;                // H finished frames, interleaved
    std::vector<int32_t> block_;
    size_t delivered_ = 0;
    int64_t position_;
    bool started_ = false;
};

// --- Catalogue -------------------------------------------------------------------------

const char* const kNoiseCaption = "Noise Reduction";

// "START:END" in whole milliseconds, START below END.
bool ParseMillisecondRange(const std::string& text, int64_t& start, int64_t& end) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string a = text.substr(0, colon);
    const std::string b = text.substr(colon + 1);
    if (a.empty() || b.empty()) return false;
    char* stop = nullptr;
    start = std::strtoll(a.c_str(), &stop, 10);
    if (*stop != '\0' || start < 0) return false;
    end = std::strtoll(b.c_str(), &stop, 10);
    return *stop == '\0' && start < end;
}

std::optional<InvalidValue> ValidateThreshold(const EffectValues& values) {
    const int32_t p = IntValue(values, "SSNoiseThreshold");
    if (p < 0 || p > 100)
        return InvalidEffectValue("Noise threshold must be between 0 and 100. Please try again.");
    return std::nullopt;
}

int32_t ApplySubtraction(ProgressTask& task, EffectRange& range,
                         std::shared_ptr<const NoiseProfile> profile) {
    FunctionEffect effect(kNoiseCaption, [profile](Ref<AudioSource> source) {
        return CreateSpectralSubtraction(std::move(source), profile);
    });
    return ApplyEffect(task, range.clip, range.start, range.end, effect);
}

int32_t RunAutoSubtraction(ProgressTask& task, EffectRange& range, const EffectValues& values) {
    if (range.end <= range.start) return kTaskDone;
    const auto rate = static_cast<int32_t>(range.clip.SampleRate());
    const int32_t minimum = MinimumNoiseFrames(rate);
    if (range.end - range.start < minimum) {
        ShowTaskError(task, "The selection is too short for noise reduction. Please select at least " +
                                std::to_string(MillisecondsFromFrames(minimum, rate) + 1) + " milliseconds.");
        return kTaskFailed;
    }
    SetProgressText(task, 0, kNoiseCaption);
    auto profile = std::make_shared<NoiseProfile>();
    Ref<ClipReader> reader = OpenClipReader(range.clip);
    const int32_t built = BuildNoiseProfile(task, *reader, range.start, range.end,
                                            IntValue(values, "SSNoiseThreshold"), *profile);
    if (built != kTaskDone) return built;
    return ApplySubtraction(task, range, std::move(profile));
}

int32_t RunSampleSubtraction(ProgressTask& task, EffectRange& range, const EffectValues& values) {
    std::shared_ptr<const NoiseProfile> profile;
    const auto it = values.find("NoiseSample");
    if (it != values.end() && !it->second.empty()) {
        // The sample comes from the same clip, as a batch run has no other.
        int64_t startMs = 0;
        int64_t endMs = 0;
        if (!ParseMillisecondRange(it->second, startMs, endMs)) return kTaskFailed;
        const auto rate = static_cast<int32_t>(range.clip.SampleRate());
        const int32_t start = std::min(FramesFromMilliseconds(startMs, rate), range.clip.Length());
        const int32_t end = std::min(FramesFromMilliseconds(endMs, rate), range.clip.Length());
        if (const std::optional<InvalidValue> refusal = NoiseSampleRefusal(int64_t{end} - start, rate)) {
            ShowTaskError(task, refusal->text);
            return kTaskFailed;
        }
        SetProgressText(task, 0, kNoiseCaption);
        auto taken = std::make_shared<NoiseProfile>();
        Ref<ClipReader> reader = OpenClipReader(range.clip);
        const int32_t built = BuildNoiseProfile(task, *reader, start, end, 90, *taken);
        if (built != kTaskDone) return built;
        profile = std::move(taken);
    } else {
        profile = StoredNoiseSample();
        if (!profile) {
            ShowTaskError(task,
                          "There is no noise sample. Please select an area that holds only the noise and "
                          "take a noise sample first.");
            return kTaskFailed;
        }
    }
    if (!NoiseProfileMatches(*profile, static_cast<int32_t>(range.clip.SampleRate()),
                             range.clip.Channels())) {
        ShowTaskError(task, kNoiseSampleMismatchMessage);
        return kTaskFailed;
    }
    if (range.end <= range.start) return kTaskDone;
    return ApplySubtraction(task, range, std::move(profile));
}

EffectDefinition NoiseGateEffect() {
    EffectDefinition e;
    e.id = "noise-gate";
    e.name = "Noise Reduction (Multi-band Noise Gating)";
    e.caption = kNoiseCaption;
    e.parameters = {{"NoiseGateLevel", "-30", "Gate level (dB)", "-127..127"}};
    e.presets = {{"Remove Hum and Hiss", {{"NoiseGateLevel", "-20"}}}};
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const int level = ClampDecibels(IntValue(values, "NoiseGateLevel"));
        return ApplyProcessorEffect(task, range, kNoiseCaption, [level](Ref<AudioSource> source) {
            return CreateNoiseGate(std::move(source), level);
        });
    };
    return e;
}

EffectDefinition AutoSubtractionEffect() {
    EffectDefinition e;
    e.id = "noise-reduction-auto";
    e.name = "Noise Reduction (Auto Spectral Subtraction)";
    e.caption = kNoiseCaption;
    e.parameters = {
        {"SSNoiseThreshold", "30", "Noise threshold (percentile of the selection's levels)", "0..100"}};
    e.presets = {{"Apply to Voice", {{"SSNoiseThreshold", "20"}}},
                 {"Apply to Music", {{"SSNoiseThreshold", "10"}}}};
    e.validate = ValidateThreshold;
    e.run = RunAutoSubtraction;
    return e;
}

EffectDefinition SampleSubtractionEffect() {
    EffectDefinition e;
    e.id = "noise-reduction-sample";
    e.name = "Noise Reduction (Spectral Subtraction Based on Noise Sample)";
    e.caption = kNoiseCaption;
    e.parameters = {{"NoiseSample", "",
                     "Noise sample START:END (ms) in the same file; empty: the sample taken last",
                     "at most 8 seconds"}};
    e.validate = [](const EffectValues& values) -> std::optional<InvalidValue> {
        const auto it = values.find("NoiseSample");
        int64_t start = 0;
        int64_t end = 0;
        if (it == values.end() || it->second.empty() || ParseMillisecondRange(it->second, start, end))
            return std::nullopt;
        return InvalidEffectValue(
            "The noise sample must be given as START:END in milliseconds, START below END. Please try "
            "again.");
    };
    e.run = RunSampleSubtraction;
    return e;
}

}  // namespace

Ref<AudioSource> CreateNoiseGate(Ref<AudioSource> source, int levelDb) {
    return MakeRef<NoiseGate>(std::move(source), levelDb);
}

int32_t NoiseFftSize(int32_t sampleRate) {
    const int32_t n = std::max(sampleRate, 0) / 33;
    return static_cast<int32_t>(PowerOfTwoAtLeast(static_cast<size_t>(n - n / 4), 3));
}

int32_t MinimumNoiseFrames(int32_t sampleRate) {
    return 10 * NoiseFftSize(sampleRate);
}

bool NoiseProfileMatches(const NoiseProfile& profile, int32_t sampleRate, int channels) {
    return profile.fftSize == NoiseFftSize(sampleRate) && profile.channels == channels &&
           profile.magnitudes.size() == static_cast<size_t>(channels);
}

int32_t BuildNoiseProfile(ProgressTask& task, AudioSource& source, int32_t start, int32_t end, int percentile,
                          NoiseProfile& profile) {
    const int32_t size = NoiseFftSize(source.SampleRate());
    const auto n = static_cast<size_t>(size);
    const size_t bins = n / 2;
    const auto channels = static_cast<size_t>(source.Channels());
    const int64_t total = int64_t{end} - start;
    // Only whole frames count: a zero-padded last frame would pull the low
    // percentiles toward silence.
    const int64_t frames = total / size;
    if (total < MinimumNoiseFrames(source.SampleRate())) return kTaskFailed;

    std::vector<uint32_t> histogram(channels * bins * 256);
    const Fft fft(n);
    const std::vector<double> window = HammingWindow(n);
    std::vector<std::complex<double>> z(n);
    std::vector<int32_t> block(n * channels);
    std::vector<std::vector<double>> frame(channels, std::vector<double>(n));
    source.Seek(start);
    const int64_t pumpEvery = std::max<int64_t>(1, kMaxTransferFrames / size);
    for (int64_t f = 0; f < frames; ++f) {
        if (f % pumpEvery == 0) {
            if (PumpTaskMessages(task)) return kTaskCancelled;
            SetProgressFraction(task, static_cast<double>(f) / static_cast<double>(frames));
        }
        ReadInPieces(source, block.data(), size);
        for (size_t c = 0; c < channels; ++c)
            for (size_t i = 0; i < n; ++i)
                frame[c][i] = block[i * channels + c];
        for (size_t a = 0; a < channels; a += 2) {
            const size_t b = a + 1;
            const bool pair = b < channels;
            LoadPair(z, window, frame[a].data(), pair ? frame[b].data() : nullptr);
            fft.Forward(z);
            for (size_t k = 0; k < bins; ++k) {
                double a2 = 0;
                double b2 = 0;
                PairNorms(z, k, a2, b2);
                ++histogram[(a * bins + k) * 256 +
                            static_cast<size_t>(LevelOfMagnitude(std::sqrt(a2)) + 128)];
                if (pair)
                    ++histogram[(b * bins + k) * 256 +
                                static_cast<size_t>(LevelOfMagnitude(std::sqrt(b2)) + 128)];
            }
        }
    }
    SetProgressFraction(task, 1.0);

    const int64_t wanted = ((frames / 10) * std::clamp(percentile, 0, 100)) / 10;
    profile.fftSize = size;
    profile.channels = static_cast<int>(channels);
    profile.magnitudes.assign(channels, std::vector<double>(bins));
    for (size_t c = 0; c < channels; ++c) {
        for (size_t k = 0; k < bins; ++k) {
            const uint32_t* counts = &histogram[(c * bins + k) * 256];
            int level = 127;
            int64_t seen = 0;
            for (int i = 0; i < 256; ++i) {
                seen += counts[i];
                if (seen >= wanted) {
                    level = i - 128;
                    break;
                }
            }
            profile.magnitudes[c][k] = std::pow(10.0, level / 20.0) * kLevelReference;
        }
    }
    return kTaskDone;
}

Ref<AudioSource> CreateSpectralSubtraction(Ref<AudioSource> source,
                                           std::shared_ptr<const NoiseProfile> profile) {
    if (!profile || profile->fftSize < 8 || (profile->fftSize & (profile->fftSize - 1)) != 0 ||
        profile->magnitudes.size() != static_cast<size_t>(source->Channels()))
        return source;
    return MakeRef<SpectralSubtraction>(std::move(source), std::move(profile));
}

std::optional<InvalidValue> NoiseSampleRefusal(int64_t frames, int32_t sampleRate) {
    const int32_t rate = std::max(sampleRate, 1);
    if (frames / rate > 8) return InvalidValue{kNoiseSampleErrorTitle, kNoiseSampleTooLongMessage};
    const int32_t minimum = MinimumNoiseFrames(rate);
    if (frames < minimum) {
        return InvalidValue{kNoiseSampleErrorTitle,
                            "You cannot sample an area of your audio shorter than " +
                                std::to_string(MillisecondsFromFrames(minimum, rate) + 1) +
                                " milliseconds. Please select a longer area."};
    }
    return std::nullopt;
}

int32_t TakeNoiseSample(ProgressTask& task, const AudioClip& clip, int32_t start, int32_t end) {
    if (NoiseSampleRefusal(int64_t{end} - start, static_cast<int32_t>(clip.SampleRate()))) return kTaskFailed;
    auto profile = std::make_shared<NoiseProfile>();
    Ref<ClipReader> reader = OpenClipReader(clip);
    const int32_t built = BuildNoiseProfile(task, *reader, start, end, 90, *profile);
    if (built == kTaskDone) StoreNoiseSample(std::move(profile));
    return built;
}

std::shared_ptr<const NoiseProfile> StoredNoiseSample() {
    const std::lock_guard<std::mutex> lock(gStoredSampleLock);
    return gStoredSample;
}

void StoreNoiseSample(std::shared_ptr<const NoiseProfile> profile) {
    const std::lock_guard<std::mutex> lock(gStoredSampleLock);
    gStoredSample = std::move(profile);
}

void AddNoiseEffects(std::vector<EffectDefinition>& catalogue) {
    catalogue.push_back(NoiseGateEffect());
    catalogue.push_back(AutoSubtractionEffect());
    catalogue.push_back(SampleSubtractionEffect());
    AddClickRepairEffects(catalogue);
}

}  // namespace sonitor
