// Effects that act on loudness over time: the dynamic range compressor, DC
// offset correction, stereo pan, vocal reduction and automatic gain control.
// Their catalogue entries are added through AddAmplitudeEffects.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ProgressTask.h"
#include "effects/AudioEffect.h"
#include "effects/Decibels.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectProcessors.h"
#include "effects/Processor.h"
#include "foundation/ConvertStream.h"
#include "foundation/Numbers.h"
#include "foundation/PeakLimiter.h"

namespace sonitor {

// Used by Amplitude.cpp (registration), and by the tests and the preview,
// which need the processors themselves.
void AddDynamicsEffects(std::vector<EffectDefinition>& catalogue);

namespace {

// --- Levels --------------------------------------------------------------------

// The level scale of the compressor and the gain control: 10 log10 of the
// mean of (x >> 5)^2 relative to this, in whole decibels.
constexpr int64_t kLevelReference = 8388626;

// The mean square of (x >> 5) over a block, accumulated in a high part (the
// squares' bits above 13) and a low part. Squares of loud samples pass 32
// bits, so everything is 64-bit; where the squares fit the result is the
// same as with 32-bit parts.
class MeanSquare {
public:
    void Add(int64_t x) {
        const int64_t v = x >> 5;
        const int64_t square = v * v;
        high_ += square >> 13;
        low_ += square & 8191;
        ++count_;
    }
    int64_t Mean() const {
        if (count_ == 0) return 0;
        const int64_t total = high_ + (low_ >> 13);
        return ((total / count_) << 13) + ((total % count_) << 13) / count_;
    }
    void Clear() { *this = MeanSquare(); }

private:
    int64_t high_ = 0;
    int64_t low_ = 0;
    int64_t count_ = 0;
};

int LevelFromMeanSquare(int64_t meanSquare) {
    if (meanSquare <= 0) return kDecibelSilence;
    const double db =
        10.0 * std::log10(static_cast<double>(meanSquare) / static_cast<double>(kLevelReference));
    const double rounded = meanSquare >= kLevelReference ? std::trunc(db + 0.5) : std::trunc(db - 0.5);
    return ClampDecibels(static_cast<int64_t>(rounded));
}

int32_t SaturateGain(double gain) {
    if (!(gain > 0)) return 0;
    return gain >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(gain);
}

int32_t Saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// --- Dynamic range compressor ---------------------------------------------------

constexpr int kRatioCount = 7;
constexpr std::array<double, kRatioCount> kRatioFactors = {1.0,
                                                           0.9623506263981255,
                                                           0.9440608762859234,
                                                           0.9261187281287935,
                                                           0.9172759353897796,
                                                           0.9120108393559098,
                                                           0.8912509382363546};
constexpr std::array<const char*, kRatioCount> kRatioLabels = {"1:1", "3:2", "2:1",  "3:1",
                                                               "4:1", "5:1", "Limit"};
constexpr int32_t kCompressorFullScale = 4194303;

using GainTable = std::array<int32_t, 256>;

// Gains by block level + 128. Below the threshold the make-up gain that puts
// the curve back at unity at 0 dB; from there each decibel louder is
// multiplied by the ratio factor, and from the limit on by a decibel per
// decibel. A low threshold with "Limit" asks for more make-up gain than Q24
// holds: those entries saturate.
GainTable CompressorGains(int thresholdDb, int limitDb, double factor) {
    const int threshold = ClampDecibels(thresholdDb);
    const int limit = ClampDecibels(limitDb);
    double gain = threshold < 0 ? 16777216.0 / std::pow(factor, -threshold) : 16777216.0;
    GainTable table{};
    for (int i = 0; i <= threshold + 127; ++i)
        table[static_cast<size_t>(i)] = SaturateGain(gain);
    for (int i = threshold + 128; i < limit + 128; ++i) {
        table[static_cast<size_t>(i)] = SaturateGain(gain);
        gain *= factor;
    }
    // The limit wins over the threshold: with a limit below the threshold
    // limiting starts at the limit.
    for (int i = limit + 128; i < 256; ++i) {
        table[static_cast<size_t>(i)] = SaturateGain(gain);
        gain *= 0.8913;
    }
    return table;
}

// Looks one block ahead: the gain ramps during the block being delivered
// toward what the next block needs, quickly down (attack) and slowly up
// (release).
class Compressor final : public Processor {
public:
    Compressor(Ref<AudioSource> upstream, const GainTable& table)
        : Processor(upstream, upstream->SampleRate(), kCompressorFullScale, upstream->Channels()),
          table_(table),
          window_(std::clamp(FramesFromMilliseconds(45, upstream->SampleRate()), 128, 8192)),
          blocks_(static_cast<size_t>(window_) * 2 * static_cast<size_t>(upstream->Channels())) {}

    int32_t Position() const override {
        if (!started_) return upstream_->Position();
        return static_cast<int32_t>(int64_t{upstream_->Position()} - (2 * int64_t{window_} - delivered_));
    }

    void Read(int32_t* buffer, int32_t frames) override {
        const int channels = Channels();
        while (frames > 0) {
            if (!started_) {
                Start();
            } else if (delivered_ == window_) {
                Advance();
            }
            const int32_t n = std::min(frames, window_ - delivered_);
            const int32_t* in = Block(current_) + static_cast<size_t>(delivered_) * channels;
            for (int32_t f = 0; f < n; ++f) {
                const auto g = static_cast<int32_t>(std::clamp<int64_t>(gain_, 0, INT32_MAX));
                for (int c = 0; c < channels; ++c)
                    *buffer++ = MulQ24(*in++, g);
                gain_ += step_;
            }
            delivered_ += n;
            frames -= n;
        }
    }

private:
    void Reset() override {
        started_ = false;
        delivered_ = 0;
    }

    int32_t* Block(int slot) { return blocks_.data() + static_cast<size_t>(slot) * window_ * Channels(); }

    int32_t BlockGain(int slot) {
        MeanSquare ms;
        const int32_t* s = Block(slot);
        for (size_t i = 0; i < static_cast<size_t>(window_) * Channels(); ++i)
            ms.Add(s[i]);
        return table_[static_cast<size_t>(LevelFromMeanSquare(ms.Mean()) + 128)];
    }

    void Start() {
        current_ = 0;
        upstream_->Read(Block(0), window_);
        upstream_->Read(Block(1), window_);
        gain_ = BlockGain(0);
        previousTarget_ = gain_;
        nextGain_ = BlockGain(1);
        started_ = true;
        BeginBlock();
    }

    void Advance() {
        const int freed = current_;
        current_ ^= 1;
        upstream_->Read(Block(freed), window_);
        previousTarget_ = nextGain_;
        nextGain_ = BlockGain(freed);
        BeginBlock();
    }

    void BeginBlock() {
        delivered_ = 0;
        if (nextGain_ < gain_) {
            step_ = (nextGain_ - gain_) / (window_ + window_ / 4);
        } else {
            step_ = ((previousTarget_ + nextGain_) / 2 - gain_) / (2 * int64_t{window_});
        }
    }

    GainTable table_;
    int32_t window_;
    std::vector<int32_t> blocks_;  // two blocks: the one being delivered and the next
    int current_ = 0;
    int32_t delivered_ = 0;
    bool started_ = false;
    // Gains are Q24 but kept in 64 bits: saturated make-up gains near 2^31
    // would overflow their sums.
    int64_t gain_ = 0;
    int64_t step_ = 0;
    int64_t previousTarget_ = 0;
    int64_t nextGain_ = 0;
};

struct CompressorValues {
    int threshold = 0;
    int ratio = 0;
    int limit = 0;

    static CompressorValues From(const EffectValues& values) {
        return {IntValue(values, "CompressorThreshold"), IntValue(values, "CompressorRatio"),
                IntValue(values, "CompressorLimit")};
    }
    std::optional<InvalidValue> Validate() const {
        if (ratio < 0 || ratio >= kRatioCount)
            return InvalidEffectValue(
                "Compression ratio must be one of the ratios in the list. Please try again.");
        return std::nullopt;
    }
};

// --- Stereo pan -------------------------------------------------------------------

// A two-output mixer whose rows weight only their own input channel: with
// weights on the opposite inputs the centre position would fold the
// channels together, and a pan of 50 must leave the audio as it is. The
// weights pass through whole decibels like every gain of the mixer.
class StereoPan final : public InPlaceProcessor {
public:
    StereoPan(Ref<AudioSource> upstream, int32_t left, int32_t right)
        : InPlaceProcessor(upstream, upstream->SampleRate(),
                           left > kUnityGain || right > kUnityGain ? GrownFullScale(upstream->FullScale())
                                                                   : upstream->FullScale(),
                           2),
          left_(left),
          right_(right) {}

private:
    void Process(int32_t* samples, int32_t frames) override {
        for (int32_t f = 0; f < frames; ++f, samples += 2) {
            samples[0] = MulQ24(samples[0], left_);
            samples[1] = MulQ24(samples[1], right_);
        }
    }
    int32_t left_;
    int32_t right_;
};

int32_t PanWeight(double share) {
    const double linear = std::trunc(std::sqrt(share) * 1.4142 * 16777216.0);
    return AmplitudeGain(DecibelFromGain(static_cast<int64_t>(linear)));
}

struct PanValues {
    int pan = 50;
    static PanValues From(const EffectValues& values) { return {IntValue(values, "StereoPan")}; }
    std::optional<InvalidValue> Validate() const {
        if (pan < 0 || pan > 100)
            return InvalidEffectValue("Stereo pan must be between 0 and 100. Please try again.");
        return std::nullopt;
    }
};

// --- Reduce vocals ----------------------------------------------------------------

// Left minus right as one channel: what both channels share, usually the
// voice, cancels.
class ChannelDifference final : public Processor {
public:
    explicit ChannelDifference(Ref<AudioSource> stereo)
        : Processor(stereo, stereo->SampleRate(), kFullScaleHeadroom, 1),
          pair_(static_cast<size_t>(kMaxTransferFrames) * 2) {}

    void Read(int32_t* buffer, int32_t frames) override {
        while (frames > 0) {
            const int32_t n = std::min(frames, kMaxTransferFrames);
            upstream_->Read(pair_.data(), n);
            for (int32_t f = 0; f < n; ++f)
                buffer[f] = Saturate(int64_t{pair_[2 * static_cast<size_t>(f)]} -
                                     pair_[2 * static_cast<size_t>(f) + 1]);
            buffer += n;
            frames -= n;
        }
    }

private:
    std::vector<int32_t> pair_;
};

int32_t ReduceVocals(ProgressTask& task, EffectRange& range) {
    SetProgressText(task, 1, "Please wait...");
    AudioClip& clip = range.clip;
    if (clip.Channels() != 2) return kTaskFailed;
    const auto rate = static_cast<int32_t>(clip.SampleRate());
    const int channels = clip.Channels();
    FunctionEffect effect("Reduce Vocals", [rate, channels](Ref<AudioSource> source) {
        Ref<AudioSource> difference = MakeRef<ChannelDifference>(std::move(source));
        return LimitPeaks(ConvertStream(difference, rate, channels), kFullScale16);
    });
    // The written part is exactly as long as the selection (the rate is
    // kept), so the selection end stays where it is.
    return ApplyEffect(task, clip, range.start, range.end, effect);
}

// --- DC offset correction -------------------------------------------------------

class OffsetRemover final : public InPlaceProcessor {
public:
    OffsetRemover(Ref<AudioSource> upstream, std::vector<int32_t> offsets)
        : InPlaceProcessor(std::move(upstream)), offsets_(std::move(offsets)) {}

private:
    void Process(int32_t* samples, int32_t frames) override {
        const size_t channels = offsets_.size();
        for (size_t i = 0; i < static_cast<size_t>(frames) * channels; ++i)
            samples[i] = Saturate(int64_t{samples[i]} - offsets_[i % channels]);
    }
    std::vector<int32_t> offsets_;
};

// Per channel, the sum of the selection's samples over its frames. The
// sums are exact: 2^31 frames of 32-bit samples stay within 63 bits.
int32_t MeasureOffsets(ProgressTask& task, const AudioClip& clip, int32_t start, int32_t end,
                       std::vector<int32_t>& offsets) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    const int channels = reader->Channels();
    std::vector<int64_t> sums(static_cast<size_t>(channels));
    std::vector<int32_t> block(static_cast<size_t>(kMaxTransferFrames) * channels);
    reader->Seek(start);
    const int64_t total = int64_t{end} - start;
    for (int64_t done = 0; done < total;) {
        if (PumpTaskMessages(task)) return kTaskCancelled;
        const auto n = static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, total - done));
        reader->Read(block.data(), n);
        for (size_t i = 0; i < static_cast<size_t>(n) * channels; ++i)
            sums[i % channels] += block[i];
        done += n;
        SetProgressFraction(task, static_cast<double>(done) / static_cast<double>(total));
    }
    offsets.clear();
    for (int64_t sum : sums)
        offsets.push_back(static_cast<int32_t>(sum / total));
    return kTaskDone;
}

int32_t CorrectDcOffset(ProgressTask& task, EffectRange& range) {
    SetProgressText(task, 0, "DC Offset Correction");
    SetProgressText(task, 1, "Please wait...");
    if (range.end <= range.start) return kTaskDone;
    std::vector<int32_t> offsets;
    const int32_t measured = MeasureOffsets(task, range.clip, range.start, range.end, offsets);
    if (measured != kTaskDone) return measured;
    // No offset: the second pass would write the same samples again.
    if (std::all_of(offsets.begin(), offsets.end(), [](int32_t o) { return o == 0; })) return kTaskDone;
    FunctionEffect effect("DC Offset Correction", [&offsets](Ref<AudioSource> source) -> Ref<AudioSource> {
        return MakeRef<OffsetRemover>(std::move(source), offsets);
    });
    return ApplyEffect(task, range.clip, range.start, range.end, effect);
}

// --- Automatic gain control -------------------------------------------------------
//
// The gain rule. Each analysis window (R / 50 frames) has one level per
// channel, measured on a presence-weighted copy (450 Hz and 2200 Hz one-pole
// emphasis) on the compressor's decibel scale; the louder channel's level
// counts, so both channels get one gain and the stereo image stays put. The
// five fixed settings are:
//   2       the largest boost, as a factor (+6 dB);
//   -8 dB   the target level;
//   -9 dB   the quiet gate, relative to the material's typical level (the
//           higher of the channels' median levels over their non-silent
//           windows, read from the histograms);
//   2       the fastest gain change, in decibels per window;
//   -0.5    the slope: a window wants -0.5 dB of gain per decibel above the
//           target, so levels come halfway to the target.
// Quiet windows between active ones keep the gain of the active window
// before them, so pauses are neither pumped up nor let down. The gain curve
// is the lowest curve under the wanted gains that changes by at most 2 dB
// per window: it comes down ahead of a loud passage and rises after it.
// Quiet windows before the first active one and after the last are left at
// unity; the gain ramps from and back to unity inside the first and last
// active windows. Within a window the gain ramps linearly toward the next
// window's, and the peak limiter catches what the ramps let through.
constexpr double kAgcMaxBoostFactor = 2.0;
constexpr double kAgcTargetDb = -8.0;
constexpr double kAgcGateDb = -9.0;
constexpr double kAgcSlewDb = 2.0;
constexpr double kAgcSlope = -0.5;

int32_t AgcWindowFrames(int32_t rate) {
    return std::clamp(rate / 50, 20, 8192);
}

// Two one-pole stages (Q8 coefficients) for the analysis copy: the signal
// above 450 Hz plus, again, the part above 2200 Hz. The state is 64-bit
// so that loud material cannot overflow it.
class Emphasis {
public:
    explicit Emphasis(int32_t rate)
        : k1_(static_cast<int64_t>(256.0 * (1.0 - std::exp(-2827.43338815 / rate)))),
          k2_(static_cast<int64_t>(256.0 * (1.0 - std::exp(-13823.0076754 / rate)))) {}
    int64_t operator()(int64_t x) {
        x -= s1_ >> 8;
        s1_ += k1_ * x;
        const int64_t v = x - (s2_ >> 8);
        s2_ += k2_ * v;
        return x + v;
    }

private:
    int64_t k1_, k2_;
    int64_t s1_ = 0, s2_ = 0;
};

// Levels of the selection's windows (the louder channel of each) and the
// per-channel histograms.
struct AgcAnalysis {
    int32_t window = 0;
    std::vector<int8_t> levels;
    std::vector<std::array<int64_t, 256>> histograms;
};

int32_t AnalyseLevels(ProgressTask& task, const AudioClip& clip, int32_t start, int32_t end,
                      AgcAnalysis& out) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    const int channels = reader->Channels();
    const auto uchannels = static_cast<size_t>(channels);
    out.window = AgcWindowFrames(reader->SampleRate());
    out.levels.clear();
    out.histograms.assign(uchannels, {});
    std::vector<Emphasis> emphasis(uchannels, Emphasis(reader->SampleRate()));
    std::vector<MeanSquare> squares(uchannels);
    std::vector<int32_t> block(static_cast<size_t>(kMaxTransferFrames) * uchannels);
    reader->Seek(start);
    const int64_t total = int64_t{end} - start;
    int32_t inWindow = 0;
    const auto closeWindow = [&] {
        int loudest = kDecibelSilence;
        for (size_t c = 0; c < uchannels; ++c) {
            const int level = LevelFromMeanSquare(squares[c].Mean());
            ++out.histograms[c][static_cast<size_t>(level + 128)];
            loudest = std::max(loudest, level);
            squares[c].Clear();
        }
        out.levels.push_back(static_cast<int8_t>(loudest));
        inWindow = 0;
    };
    for (int64_t done = 0; done < total;) {
        if (PumpTaskMessages(task)) return kTaskCancelled;
        const auto n = static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, total - done));
        reader->Read(block.data(), n);
        for (int32_t f = 0; f < n; ++f) {
            for (size_t c = 0; c < uchannels; ++c)
                squares[c].Add(emphasis[c](block[static_cast<size_t>(f) * uchannels + c]));
            if (++inWindow == out.window) closeWindow();
        }
        done += n;
        SetProgressFraction(task, static_cast<double>(done) / static_cast<double>(total));
    }
    if (inWindow > 0) closeWindow();
    return kTaskDone;
}

// The median level of a histogram's non-silent windows, or silence.
int MedianLevel(const std::array<int64_t, 256>& histogram) {
    int64_t count = 0;
    for (size_t i = 1; i < 256; ++i)
        count += histogram[i];
    if (count == 0) return kDecibelSilence;
    int64_t seen = 0;
    for (size_t i = 1; i < 256; ++i) {
        seen += histogram[i];
        if (2 * seen >= count) return static_cast<int>(i) - 128;
    }
    return kDecibelSilence;
}

int32_t Q24FromDecibels(double db) {
    return SaturateGain(std::pow(10.0, db / 20.0) * 16777216.0 + 0.5);
}

// Q24 gains at the start of every window and one past the last.
std::vector<int32_t> AgcBoundaryGains(const AgcAnalysis& analysis) {
    const size_t windows = analysis.levels.size();
    std::vector<int32_t> boundaries(windows + 1, kUnityGain);
    int typical = kDecibelSilence;
    for (const auto& histogram : analysis.histograms)
        typical = std::max(typical, MedianLevel(histogram));
    if (typical == kDecibelSilence) return boundaries;
    const double gate = typical + kAgcGateDb;
    const auto active = [&](size_t i) {
        return analysis.levels[i] != kDecibelSilence && analysis.levels[i] >= gate;
    };
    size_t first = 0;
    while (first < windows && !active(first))
        ++first;
    if (first == windows) return boundaries;
    size_t last = windows - 1;
    while (!active(last))
        --last;

    const double maxBoost = 20.0 * std::log10(kAgcMaxBoostFactor);
    std::vector<double> gains(windows, 0.0);
    double held = 0.0;
    for (size_t i = first; i <= last; ++i) {
        if (active(i)) held = std::min(maxBoost, kAgcSlope * (analysis.levels[i] - kAgcTargetDb));
        gains[i] = held;
    }
    for (size_t i = first + 1; i <= last; ++i)
        gains[i] = std::min(gains[i], gains[i - 1] + kAgcSlewDb);
    for (size_t i = last; i-- > first;)
        gains[i] = std::min(gains[i], gains[i + 1] + kAgcSlewDb);
    for (size_t i = first + 1; i <= last; ++i)
        boundaries[i] = Q24FromDecibels(gains[i]);
    return boundaries;
}

// Applies the boundary gains, ramping linearly inside each window. The gain
// of a frame depends only on its position, so seeking needs no state.
class WindowGains final : public InPlaceProcessor {
public:
    WindowGains(Ref<AudioSource> upstream, int32_t origin, int32_t window, std::vector<int32_t> boundaries)
        : InPlaceProcessor(upstream, upstream->SampleRate(), GrownFullScale(upstream->FullScale()),
                           upstream->Channels()),
          origin_(origin),
          window_(window),
          boundaries_(std::move(boundaries)) {}

private:
    void Process(int32_t* samples, int32_t frames) override {
        const int channels = Channels();
        const int64_t end = int64_t{window_} * static_cast<int64_t>(boundaries_.size() - 1);
        int64_t at = int64_t{upstream_->Position()} - frames - origin_;
        for (int32_t f = 0; f < frames; ++f, ++at, samples += channels) {
            if (at < 0 || at >= end) continue;
            const size_t w = static_cast<size_t>(at / window_);
            const int64_t from = boundaries_[w];
            const auto gain =
                static_cast<int32_t>(from + (boundaries_[w + 1] - from) * (at % window_) / window_);
            for (int c = 0; c < channels; ++c)
                samples[c] = MulQ24(samples[c], gain);
        }
    }
    int32_t origin_;
    int32_t window_;
    std::vector<int32_t> boundaries_;
};

int32_t AutomaticGainControl(ProgressTask& task, EffectRange& range) {
    SetProgressText(task, 0, "Performing Automatic Gain Control");
    SetProgressText(task, 1, "Please wait...");
    if (range.end <= range.start) return kTaskDone;
    AgcAnalysis analysis;
    const int32_t analysed = AnalyseLevels(task, range.clip, range.start, range.end, analysis);
    if (analysed != kTaskDone) return analysed;
    std::vector<int32_t> boundaries = AgcBoundaryGains(analysis);
    const int32_t origin = range.start;
    const int32_t window = analysis.window;
    FunctionEffect effect("Performing Automatic Gain Control", [&](Ref<AudioSource> source) {
        Ref<AudioSource> gained = MakeRef<WindowGains>(std::move(source), origin, window, boundaries);
        return LimitPeaks(gained, kFullScale16);
    });
    return ApplyEffect(task, range.clip, range.start, range.end, effect);
}

// --- Catalogue ----------------------------------------------------------------------

EffectDefinition CompressorEffect() {
    EffectDefinition e;
    e.id = "compressor";
    e.name = "Dynamic Range Compressor";
    std::string ratios;
    for (int i = 0; i < kRatioCount; ++i)
        ratios += (i ? ", " : "") + std::to_string(i) + " = " + kRatioLabels[static_cast<size_t>(i)];
    e.parameters = {{"CompressorThreshold", "0", "Threshold (dB)", "-127..127"},
                    {"CompressorRatio", "0", "Ratio (" + ratios + ")", "0..6"},
                    {"CompressorLimit", "0", "Limit (dB)", "-127..127"}};
    e.presets = {{"General Voice Level",
                  {{"CompressorThreshold", "-10"}, {"CompressorRatio", "1"}, {"CompressorLimit", "4"}}},
                 {"TV / Radio Advertisement",
                  {{"CompressorThreshold", "-6"}, {"CompressorRatio", "2"}, {"CompressorLimit", "3"}}}};
    e.validate = [](const EffectValues& v) { return CompressorValues::From(v).Validate(); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& v) {
        const CompressorValues c = CompressorValues::From(v);
        FunctionEffect effect("Dynamic Range Compressor", [c](Ref<AudioSource> source) {
            return CreateCompressor(std::move(source), c.threshold, c.ratio, c.limit);
        });
        return ApplyEffect(task, range.clip, range.start, range.end, effect);
    };
    return e;
}

EffectDefinition DcOffsetEffect() {
    EffectDefinition e;
    e.id = "dc-offset-correction";
    e.name = "DC Offset Correction";
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues&) {
        return CorrectDcOffset(task, range);
    };
    return e;
}

EffectDefinition StereoPanEffect() {
    EffectDefinition e;
    e.id = "stereo-pan";
    e.name = "Stereo Pan";
    e.stereoOnly = true;
    e.parameters = {{"StereoPan", "50", "Pan (0 = left, 100 = right)", "0..100"}};
    e.validate = [](const EffectValues& v) { return PanValues::From(v).Validate(); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& v) {
        const int pan = PanValues::From(v).pan;
        FunctionEffect effect(
            "Stereo Pan", [pan](Ref<AudioSource> source) { return CreateStereoPan(std::move(source), pan); });
        return ApplyEffect(task, range.clip, range.start, range.end, effect);
    };
    return e;
}

EffectDefinition ReduceVocalsEffect() {
    EffectDefinition e;
    e.id = "reduce-vocals";
    e.name = "Reduce Vocals";
    e.stereoOnly = true;
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues&) {
        return ReduceVocals(task, range);
    };
    return e;
}

EffectDefinition AgcEffect() {
    EffectDefinition e;
    e.id = "automatic-gain-control";
    e.name = "Automatic Gain Control";
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues&) {
        return AutomaticGainControl(task, range);
    };
    return e;
}

}  // namespace

Ref<AudioSource> CreateCompressor(Ref<AudioSource> source, int thresholdDb, int ratioIndex, int limitDb) {
    const double factor = kRatioFactors[static_cast<size_t>(std::clamp(ratioIndex, 0, kRatioCount - 1))];
    return MakeRef<Compressor>(std::move(source), CompressorGains(thresholdDb, limitDb, factor));
}

// Only stereo is panned; anything else passes as it is (the command refuses
// it before it gets here).
Ref<AudioSource> CreateStereoPan(Ref<AudioSource> source, int pan) {
    if (source->Channels() != 2) return source;
    const double p = std::clamp(pan, 0, 100) / 100.0;
    const int32_t left = PanWeight(1.0 - p);
    const int32_t right = PanWeight(p);
    return MakeRef<StereoPan>(std::move(source), left, right);
}

void AddDynamicsEffects(std::vector<EffectDefinition>& catalogue) {
    catalogue.push_back(CompressorEffect());
    catalogue.push_back(DcOffsetEffect());
    catalogue.push_back(StereoPanEffect());
    catalogue.push_back(ReduceVocalsEffect());
    catalogue.push_back(AgcEffect());
}

}  // namespace sonitor
