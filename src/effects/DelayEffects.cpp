// Echo, reverb, the modulated delay (phaser and flanger) and chorus: the
// delay-line effects. Every processor keeps its ring for its whole life and
// clears it on Seek; the ring positions and LFO phases run on.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "effects/AudioEffect.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectProcessors.h"
#include "effects/Processor.h"
#include "foundation/ConvertStream.h"
#include "foundation/Numbers.h"

namespace sonitor {

// Distortion.cpp: distortion, AM radio and telephone.
void AddDistortionEffects(std::vector<EffectDefinition>& catalogue);

// The processors of this file (defined at its end).

namespace {

int32_t Saturate(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// trunc(v) for a wet signal added to a 32-bit sample: anything beyond
// +-2^32 saturates the sum anyway, so clamping there keeps the conversion
// defined without changing a representable result.
int64_t TruncWet(double v) {
    constexpr double kLimit = 4294967296.0;
    return v >= kLimit ? int64_t{1} << 32 : v <= -kLimit ? -(int64_t{1} << 32) : static_cast<int64_t>(v);
}

// Ring lengths in interleaved samples.
size_t RingSamples(int32_t milliseconds, int32_t rate, int channels, int64_t minimum) {
    return static_cast<size_t>(
        std::max(int64_t{FramesFromMilliseconds(milliseconds, rate)} * channels, minimum));
}

// --- Echo -----------------------------------------------------------------

// y = x + ((ring[p] * g) >> 9) over interleaved samples: a recursive comb
// whose repeats fall by g / 512. At g near 512 a sustained signal builds up
// about a hundredfold, so the product is taken in 64 bits and the sample
// saturates rather than wraps.
class EchoProcessor final : public InPlaceProcessor {
public:
    EchoProcessor(Ref<AudioSource> upstream, int32_t milliseconds, int32_t gainPercent)
        : InPlaceProcessor(upstream, upstream->SampleRate(), GrownFullScale(upstream->FullScale()),
                           upstream->Channels()),
          ring_(RingSamples(milliseconds, SampleRate(), Channels(), 20), 0),
          gain_(static_cast<int32_t>(int64_t{gainPercent} * 512 / 100)) {}

protected:
    void Reset() override { std::fill(ring_.begin(), ring_.end(), 0); }

    void Process(int32_t* samples, int32_t frames) override {
        size_t left = static_cast<size_t>(frames) * static_cast<size_t>(Channels());
        const size_t length = ring_.size();
        const int64_t g = gain_;
        while (left > 0) {
            // As far as the ring position goes before it wraps.
            const size_t run = std::min(left, length - position_);
            int32_t* ring = ring_.data() + position_;
            for (size_t i = 0; i < run; ++i) {
                const int32_t y = Saturate(samples[i] + ((ring[i] * g) >> 9));
                ring[i] = y;
                samples[i] = y;
            }
            samples += run;
            left -= run;
            position_ += run;
            if (position_ == length) position_ = 0;
        }
    }

private:
    std::vector<int32_t> ring_;
    size_t position_ = 0;
    int32_t gain_;  // Q9
};

// --- Reverb ---------------------------------------------------------------

// Five feedback taps into one ring, at about 0.26, 0.44, 0.62, 0.79 and 1.0
// of the reverb time. The gains sum to just under 512, so a sustained
// signal settles near 170 times its level: products in 64 bits, samples
// saturate.
class ReverbProcessor final : public InPlaceProcessor {
public:
    ReverbProcessor(Ref<AudioSource> upstream, int32_t levelPercent, int32_t milliseconds)
        : InPlaceProcessor(upstream, upstream->SampleRate(), GrownFullScale(upstream->FullScale()),
                           upstream->Channels()),
          ring_(RingSamples(milliseconds, SampleRate(), Channels(), 128), 0) {
        const double length = static_cast<double>(ring_.size());
        static constexpr double kTapStarts[4] = {0.7413, 0.5581, 0.3823, 0.211};
        for (int k = 0; k < 4; ++k)
            taps_[k] = static_cast<size_t>(kTapStarts[k] * length);
        const int64_t level = int64_t{levelPercent} * 512 / 100;
        static constexpr double kShares[5] = {0.4, 0.1, 0.3, 0.07, 0.13};
        for (int k = 0; k < 5; ++k)
            gains_[k] = static_cast<int64_t>(kShares[k] * static_cast<double>(level));
    }

protected:
    void Reset() override { std::fill(ring_.begin(), ring_.end(), 0); }

    void Process(int32_t* samples, int32_t frames) override {
        size_t left = static_cast<size_t>(frames) * static_cast<size_t>(Channels());
        const size_t length = ring_.size();
        const int64_t g1 = gains_[0], g2 = gains_[1], g3 = gains_[2], g4 = gains_[3], g5 = gains_[4];
        while (left > 0) {
            // Until the first of the five positions wraps.
            size_t run = std::min(left, length - write_);
            for (size_t t : taps_)
                run = std::min(run, length - t);
            int32_t* w = ring_.data() + write_;
            const int32_t* r1 = ring_.data() + taps_[0];
            const int32_t* r2 = ring_.data() + taps_[1];
            const int32_t* r3 = ring_.data() + taps_[2];
            const int32_t* r4 = ring_.data() + taps_[3];
            for (size_t i = 0; i < run; ++i) {
                const int64_t y = samples[i] + ((r1[i] * g1) >> 9) + ((r2[i] * g2) >> 9) +
                                  ((r3[i] * g3) >> 9) + ((r4[i] * g4) >> 9) + ((g5 * w[i]) >> 9);
                w[i] = Saturate(y);
                samples[i] = w[i];
            }
            samples += run;
            left -= run;
            write_ += run;
            if (write_ == length) write_ = 0;
            for (size_t& t : taps_) {
                t += run;
                if (t == length) t = 0;
            }
        }
    }

private:
    std::vector<int32_t> ring_;
    size_t write_ = 0;
    size_t taps_[4];
    int64_t gains_[5];  // Q9
};

// --- Modulated delay and chorus -------------------------------------------

// The geometry both share: a base delay of D0 frames swept by +-A frames,
// over a ring of the dry input long enough for the deepest tap and the
// frame behind it.
struct SweptDelay {
    int64_t baseFrames = 0;  // D0
    double depthFrames = 0;  // A
    size_t ringSamples = 0;  // S

    SweptDelay(int32_t rate, int channels, int32_t milliseconds, int32_t depthPercent) {
        baseFrames = int64_t{rate} * std::clamp(milliseconds, 0, 1000) / 1000;
        const int64_t depth = baseFrames * std::clamp(depthPercent, 0, 100) / 100;
        depthFrames = static_cast<double>(depth);
        ringSamples = static_cast<size_t>(channels * (baseFrames + 2 + depth));
    }
};

// One voice's tap for this frame: whole frames back and the fraction
// toward the frame before.
struct Tap {
    size_t back;  // NC x i samples, always below the ring length
    double fraction;
};

inline Tap SweepTap(const SweptDelay& delay, double phase, size_t channels) {
    const double d = delay.depthFrames * std::sin(phase) + static_cast<double>(delay.baseFrames);
    const auto whole = static_cast<int64_t>(d);
    return {static_cast<size_t>(whole) * channels, d - static_cast<double>(whole)};
}

// The linear interpolation between the tap and the frame before it, seen
// from ring position w (already holding the current input).
inline double ReadTap(const int32_t* ring, size_t length, size_t channels, size_t w, const Tap& tap) {
    size_t first = w + length - tap.back;
    if (first >= length) first -= length;
    size_t second = first + length - channels;
    if (second >= length) second -= length;
    return ring[first] * (1 - tap.fraction) + ring[second] * tap.fraction;
}

// Phaser and flanger: the input plus gain x the input delayed by a
// sine-swept time (feed-forward; the ring holds only dry input).
class ModulatedDelay final : public InPlaceProcessor {
public:
    ModulatedDelay(Ref<AudioSource> upstream, int32_t milliseconds, double modulationHz, int32_t depthPercent,
                   int32_t gainPercent)
        : InPlaceProcessor(upstream, upstream->SampleRate(), GrownFullScale(upstream->FullScale()),
                           upstream->Channels()),
          delay_(SampleRate(), Channels(), milliseconds, depthPercent),
          ring_(delay_.ringSamples, 0),
          gain_(gainPercent * 0.01),
          increment_(modulationHz * 6.283185307179586 / SampleRate()) {}

protected:
    void Reset() override { std::fill(ring_.begin(), ring_.end(), 0); }

    void Process(int32_t* samples, int32_t frames) override {
        const size_t channels = static_cast<size_t>(Channels());
        const size_t length = ring_.size();
        int32_t* ring = ring_.data();
        for (int32_t f = 0; f < frames; ++f) {
            const Tap tap = SweepTap(delay_, phase_, channels);
            phase_ += increment_;
            for (size_t c = 0; c < channels; ++c, ++samples) {
                ring[write_] = *samples;
                const double wet = gain_ * ReadTap(ring, length, channels, write_, tap);
                *samples = Saturate(*samples + TruncWet(wet));
                if (++write_ == length) write_ = 0;
            }
        }
    }

private:
    SweptDelay delay_;
    std::vector<int32_t> ring_;
    size_t write_ = 0;
    double gain_;
    double phase_ = 0;
    double increment_;
};

// Two voices swept at three and five quarters of the modulation rate,
// weighted crosswise: left hears mostly the slow voice, right the fast one.
// Works on two channels only; CreateChorus converts around it.
class ChorusProcessor final : public InPlaceProcessor {
public:
    ChorusProcessor(Ref<AudioSource> upstream, int32_t milliseconds, double modulationHz,
                    int32_t depthPercent, int32_t gainPercent)
        : InPlaceProcessor(upstream, upstream->SampleRate(), GrownFullScale(upstream->FullScale()), 2),
          delay_(SampleRate(), 2, milliseconds, depthPercent),
          ring_(delay_.ringSamples, 0),
          near_(gainPercent * 0.01),
          far_(gainPercent * 0.01 * 0.5),
          slowIncrement_(modulationHz * 4.71238898038469 / SampleRate()),
          fastIncrement_(modulationHz * 7.853981633974483 / SampleRate()) {}

protected:
    void Reset() override { std::fill(ring_.begin(), ring_.end(), 0); }

    void Process(int32_t* samples, int32_t frames) override {
        const size_t length = ring_.size();
        int32_t* ring = ring_.data();
        for (int32_t f = 0; f < frames; ++f, samples += 2) {
            const Tap slow = SweepTap(delay_, slowPhase_, 2);
            slowPhase_ += slowIncrement_;
            const Tap fast = SweepTap(delay_, fastPhase_, 2);
            fastPhase_ += fastIncrement_;
            for (int c = 0; c < 2; ++c) {
                ring[write_] = samples[c];
                const double v1 = ReadTap(ring, length, 2, write_, slow);
                const double v2 = ReadTap(ring, length, 2, write_, fast);
                const double g1 = c == 0 ? near_ : far_;
                const double g2 = c == 0 ? far_ : near_;
                samples[c] = Saturate(samples[c] + TruncWet(g1 * v1) + TruncWet(g2 * v2));
                if (++write_ == length) write_ = 0;
            }
        }
    }

private:
    SweptDelay delay_;
    std::vector<int32_t> ring_;
    size_t write_ = 0;
    double near_;
    double far_;
    double slowPhase_ = 0;
    double fastPhase_ = 0;
    double slowIncrement_;
    double fastIncrement_;
};

// --- Parameter records ----------------------------------------------------

struct EchoSettings {
    int32_t milliseconds = 800;
    int32_t gain = 50;

    static EchoSettings From(const EffectValues& values) {
        return {IntValue(values, "EchoTime"), IntValue(values, "EchoGain")};
    }
    std::optional<InvalidValue> Validate() const {
        if (milliseconds < 10 || milliseconds > 3000)
            return InvalidEffectValue("Echo time must be between 10 and 3000ms. Please try again.");
        if (gain >= 100) return InvalidEffectValue("Echo Gain must be less than 100%. Please try again.");
        // At -100 % and below every repeat is at least as loud as the one
        // before: the feedback never dies away.
        if (gain <= -100)
            return InvalidEffectValue("Echo Gain must be greater than -100%. Please try again.");
        return std::nullopt;
    }
};

struct ReverbSettings {
    int32_t level = 100;
    int32_t milliseconds = 50;

    static ReverbSettings From(const EffectValues& values) {
        return {IntValue(values, "ReverbLevel"), IntValue(values, "ReverbTime")};
    }
    std::optional<InvalidValue> Validate() const {
        if (level > 100) return InvalidEffectValue("Reverb level must be less than 100. Please try again.");
        // The loop gain of the five taps grows with the level's magnitude.
        if (level <= -100)
            return InvalidEffectValue("Reverb level must be greater than -100. Please try again.");
        if (milliseconds < 50 || milliseconds > 1000)
            return InvalidEffectValue("Reverb time must be between 50 and 1000. Please try again.");
        return std::nullopt;
    }
};

// Phaser, flanger and chorus; the phaser has no modulation or depth keys
// and keeps both at 0.
struct SweepSettings {
    int32_t milliseconds = 0;
    double modulation = 0;
    int32_t depth = 0;
    int32_t gain = 0;

    static SweepSettings From(const EffectValues& values, bool modulated) {
        SweepSettings s;
        s.milliseconds = IntValue(values, "Time");
        s.gain = IntValue(values, "Gain");
        if (modulated) {
            s.modulation = DecimalValue(values, "Mod");
            s.depth = IntValue(values, "Depth");
        }
        return s;
    }
};

std::optional<InvalidValue> GainCheck(int32_t gain) {
    if (gain < 0 || gain > 100) return InvalidEffectValue("Gain percent must be between 0 and 100.");
    return std::nullopt;
}

std::optional<InvalidValue> ValidatePhaser(const SweepSettings& s) {
    if (s.milliseconds < 0 || s.milliseconds > 10)
        return InvalidEffectValue("Delay Time must be between 0 and 10 milliseconds");
    return GainCheck(s.gain);
}

std::optional<InvalidValue> ValidateFlanger(const SweepSettings& s) {
    if (s.milliseconds < 0 || s.milliseconds > 10)
        return InvalidEffectValue("Delay Time must be between 0 and 10 milliseconds");
    if (s.modulation < 0 || s.modulation > 5)
        return InvalidEffectValue("Modulation (of delay) must be between 0 and 5Hz.");
    if (s.depth < 0 || s.depth > 100) return InvalidEffectValue("Depth percent must be between 0 and 100.");
    return GainCheck(s.gain);
}

std::optional<InvalidValue> ValidateChorus(const SweepSettings& s) {
    if (s.milliseconds < 10 || s.milliseconds > 100)
        return InvalidEffectValue("Delay Time must be between 10 and 100 milliseconds");
    if (s.modulation < 0 || s.modulation > 2)
        return InvalidEffectValue("Modulation (of delay) must be between 0 and 2Hz.");
    if (s.depth < 0 || s.depth > 30) return InvalidEffectValue("Depth percent must be between 0 and 30.");
    return GainCheck(s.gain);
}

// --- Catalogue entries ----------------------------------------------------

EffectDefinition EchoEffect() {
    EffectDefinition e;
    e.id = "echo";
    e.name = "Echo";
    e.parameters = {{"EchoTime", "800", "Echo time (ms)", "10..3000"},
                    {"EchoGain", "50", "Echo gain (%)", "-99..99"}};
    e.presets = {{"Living Room", {{"EchoTime", "50"}, {"EchoGain", "10"}}},
                 {"Cave", {{"EchoTime", "400"}, {"EchoGain", "40"}}},
                 {"Grand Canyon", {{"EchoTime", "750"}, {"EchoGain", "75"}}}};
    e.validate = [](const EffectValues& values) { return EchoSettings::From(values).Validate(); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const EchoSettings s = EchoSettings::From(values);
        return ApplyProcessorEffect(task, range, "Echo", [s](Ref<AudioSource> source) {
            return CreateEcho(std::move(source), s.milliseconds, s.gain);
        });
    };
    return e;
}

EffectDefinition ReverbEffect() {
    EffectDefinition e;
    e.id = "reverb";
    e.name = "Reverb";
    e.parameters = {{"ReverbLevel", "100", "Reverb level (%)", "-99..100"},
                    {"ReverbTime", "50", "Reverb time (ms)", "50..1000"}};
    e.presets = {{"Living Room", {{"ReverbLevel", "25"}, {"ReverbTime", "50"}}},
                 {"Bathroom", {{"ReverbLevel", "50"}, {"ReverbTime", "250"}}},
                 {"Auditorium", {{"ReverbLevel", "75"}, {"ReverbTime", "500"}}},
                 {"Hangar", {{"ReverbLevel", "100"}, {"ReverbTime", "1000"}}}};
    e.validate = [](const EffectValues& values) { return ReverbSettings::From(values).Validate(); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const ReverbSettings s = ReverbSettings::From(values);
        return ApplyProcessorEffect(task, range, "Reverb", [s](Ref<AudioSource> source) {
            return CreateReverb(std::move(source), s.level, s.milliseconds);
        });
    };
    return e;
}

EffectValues SweepPreset(const char* time, const char* depth, const char* gain) {
    return {{"Time", time}, {"Mod", "0.5"}, {"Depth", depth}, {"Gain", gain}};
}

EffectDefinition PhaserEffect() {
    EffectDefinition e;
    e.id = "phaser";
    e.name = "Phaser";
    e.section = "Phaser";
    e.parameters = {{"Time", "5", "Delay time (ms)", "0..10"}, {"Gain", "100", "Gain (%)", "0..100"}};
    e.presets = {{"Strong", {{"Time", "3"}, {"Gain", "100"}}},
                 {"Medium", {{"Time", "5"}, {"Gain", "50"}}},
                 {"Soft", {{"Time", "7"}, {"Gain", "50"}}}};
    e.validate = [](const EffectValues& values) {
        return ValidatePhaser(SweepSettings::From(values, false));
    };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const SweepSettings s = SweepSettings::From(values, false);
        return ApplyProcessorEffect(task, range, "Phaser", [s](Ref<AudioSource> source) {
            return CreateModulatedDelay(std::move(source), s.milliseconds, 0.0, 0, s.gain);
        });
    };
    return e;
}

EffectDefinition FlangerEffect() {
    EffectDefinition e;
    e.id = "flanger";
    e.name = "Flanger";
    e.section = "Flanger";
    e.parameters = {{"Time", "5", "Delay time (ms)", "0..10"},
                    {"Mod", "0.5", "Modulation (Hz)", "0..5"},
                    {"Depth", "50", "Depth (%)", "0..100"},
                    {"Gain", "75", "Gain (%)", "0..100"}};
    e.presets = {{"Strong", SweepPreset("5", "70", "100")},
                 {"Medium", SweepPreset("5", "70", "90")},
                 {"Soft", SweepPreset("5", "70", "50")}};
    e.validate = [](const EffectValues& values) {
        return ValidateFlanger(SweepSettings::From(values, true));
    };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const SweepSettings s = SweepSettings::From(values, true);
        return ApplyProcessorEffect(task, range, "Flanger", [s](Ref<AudioSource> source) {
            return CreateModulatedDelay(std::move(source), s.milliseconds, s.modulation, s.depth, s.gain);
        });
    };
    return e;
}

EffectDefinition ChorusEffect() {
    EffectDefinition e;
    e.id = "chorus";
    e.name = "Chorus";
    e.section = "Chorus";
    e.parameters = {{"Time", "40", "Delay time (ms)", "10..100"},
                    {"Mod", "0.5", "Modulation (Hz)", "0..2"},
                    {"Depth", "5", "Depth (%)", "0..30"},
                    {"Gain", "70", "Gain (%)", "0..100"}};
    e.presets = {{"Strong - Short Delay", SweepPreset("40", "5", "80")},
                 {"Strong - Long Delay", SweepPreset("65", "5", "80")},
                 {"Soft - Short Delay", SweepPreset("40", "5", "50")},
                 {"Soft - Long Delay", SweepPreset("65", "5", "50")}};
    e.validate = [](const EffectValues& values) { return ValidateChorus(SweepSettings::From(values, true)); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const SweepSettings s = SweepSettings::From(values, true);
        return ApplyProcessorEffect(task, range, "Chorus", [s](Ref<AudioSource> source) {
            return CreateChorus(std::move(source), s.milliseconds, s.modulation, s.depth, s.gain);
        });
    };
    return e;
}

}  // namespace

Ref<AudioSource> CreateEcho(Ref<AudioSource> source, int32_t milliseconds, int32_t gainPercent) {
    return MakeRef<EchoProcessor>(std::move(source), milliseconds, gainPercent);
}

Ref<AudioSource> CreateReverb(Ref<AudioSource> source, int32_t levelPercent, int32_t milliseconds) {
    return MakeRef<ReverbProcessor>(std::move(source), levelPercent, milliseconds);
}

Ref<AudioSource> CreateModulatedDelay(Ref<AudioSource> source, int32_t milliseconds, double modulationHz,
                                      int32_t depthPercent, int32_t gainPercent) {
    return MakeRef<ModulatedDelay>(std::move(source), milliseconds, modulationHz, depthPercent, gainPercent);
}

// Mono is duplicated into both channels and only the left channel comes
// back, so a mono file stays mono; more than two channels gives an unusable
// source (the converter's status 3).
Ref<AudioSource> CreateChorus(Ref<AudioSource> source, int32_t milliseconds, double modulationHz,
                              int32_t depthPercent, int32_t gainPercent) {
    const int32_t rate = source->SampleRate();
    const int channels = source->Channels();
    Ref<AudioSource> stereo = ConvertStream(std::move(source), rate, 2);
    if (stereo->Channels() != 2) return stereo;
    Ref<AudioSource> chorus =
        MakeRef<ChorusProcessor>(std::move(stereo), milliseconds, modulationHz, depthPercent, gainPercent);
    return ConvertStream(std::move(chorus), rate, channels);
}

void AddModulationEffects(std::vector<EffectDefinition>& catalogue) {
    catalogue.push_back(EchoEffect());
    catalogue.push_back(ReverbEffect());
    catalogue.push_back(PhaserEffect());
    catalogue.push_back(FlangerEffect());
    catalogue.push_back(ChorusEffect());
    AddDistortionEffects(catalogue);
}

}  // namespace sonitor
