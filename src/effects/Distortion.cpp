// Distortion, the one-pole high-pass and low-pass, and the two character
// effects built from them: AM radio and telephone.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "effects/AudioEffect.h"
#include "effects/BlockFilter.h"
#include "effects/Decibels.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectProcessors.h"
#include "effects/Processor.h"
#include "foundation/Numbers.h"

namespace sonitor {

void AddDistortionEffects(std::vector<EffectDefinition>& catalogue);

namespace {

int32_t Saturate(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// A three-slope curve, odd around 0: slope c below a quarter of the
// threshold, b up to the threshold, a above it, joined without steps.
class DistortionProcessor final : public InPlaceProcessor {
public:
    DistortionProcessor(Ref<AudioSource> upstream, int level, double degree) : InPlaceProcessor(upstream) {
        // +127 dB puts the threshold far past the 32-bit range: it saturates,
        // and the whole range then lies on the two lower slopes.
        const double threshold = GainFromDecibelByte(ClampDecibels(level)) * 131072.0;
        threshold_ = threshold >= 2147483647.0 ? INT32_MAX : static_cast<int32_t>(threshold);
        quarter_ = threshold_ >> 2;
        constexpr double kOne = 16777216.0;
        high_ = static_cast<int32_t>((1 - degree) * kOne);
        middle_ = static_cast<int32_t>((1 - 0.22 * degree) * kOne);
        low_ = static_cast<int32_t>((1 + 0.66 * degree) * kOne);
        k1_ = int64_t{MulQ24(quarter_, low_)} - MulQ24(quarter_, middle_);
        k2_ = k1_ - MulQ24(threshold_, high_) + MulQ24(threshold_, middle_);
    }

protected:
    void Process(int32_t* samples, int32_t frames) override {
        const int64_t count = int64_t{frames} * Channels();
        for (int64_t i = 0; i < count; ++i)
            samples[i] = Shape(samples[i]);
    }

private:
    int32_t Shape(int32_t x) const {
        if (x >= 0) {
            if (x < quarter_) return MulQ24(x, low_);
            if (x < threshold_) return Saturate(MulQ24(x, middle_) + k1_);
            return Saturate(MulQ24(x, high_) + k2_);
        }
        if (x > -quarter_) return MulQ24(x, low_);
        if (x > -threshold_) return Saturate(MulQ24(x, middle_) - k1_);
        return Saturate(MulQ24(x, high_) - k2_);
    }

    int32_t threshold_;  // T
    int32_t quarter_;    // Q
    int32_t high_;       // a, Q24: slope above T
    int32_t middle_;     // b
    int32_t low_;        // c: slope below Q
    int64_t k1_;
    int64_t k2_;
};

// Q8 coefficient of a one-pole section at frequency f.
int32_t OnePoleCoefficient(double frequency, int32_t rate) {
    return static_cast<int32_t>(256 * (1 - std::exp(-6.283185307 * frequency / rate)));
}

// One-pole sections with a Q8 coefficient. The accumulator holds 256 times
// the smoothed level, which passes 32 bits once the input's low end goes
// beyond 2^23; it is kept in 64 bits and only the output saturates.
class OnePoleFilter final : public InPlaceProcessor {
public:
    OnePoleFilter(Ref<AudioSource> upstream, double frequency, bool highPass)
        : InPlaceProcessor(upstream, upstream->SampleRate(), GrownFullScale(upstream->FullScale()),
                           upstream->Channels()),
          k_(OnePoleCoefficient(frequency, SampleRate())),
          highPass_(highPass),
          sums_(static_cast<size_t>(Channels()), 0) {}

protected:
    void Reset() override { std::fill(sums_.begin(), sums_.end(), 0); }

    void Process(int32_t* samples, int32_t frames) override {
        const size_t channels = sums_.size();
        const int64_t k = k_;
        for (size_t c = 0; c < channels; ++c) {
            int64_t s = sums_[c];
            int32_t* x = samples + c;
            if (highPass_) {
                for (int32_t f = 0; f < frames; ++f, x += channels) {
                    const int64_t y = *x - (s >> 8);
                    s += k * y;
                    *x = Saturate(y);
                }
            } else {
                for (int32_t f = 0; f < frames; ++f, x += channels) {
                    s += k * (*x - (s >> 8));
                    *x = Saturate(s >> 8);
                }
            }
            sums_[c] = s;
        }
    }

private:
    int32_t k_;
    bool highPass_;
    std::vector<int64_t> sums_;
};

struct DistortionSettings {
    int level = -3;
    double degree = 0.5;

    static DistortionSettings From(const EffectValues& values) {
        return {ClampDecibels(IntValue(values, "Level")), DecimalValue(values, "Degree")};
    }
    std::optional<InvalidValue> Validate() const {
        if (degree < 0 || degree > 1)
            return InvalidEffectValue("Delay Time must be between 0.0 and 1.0 milliseconds");
        return std::nullopt;
    }
};

EffectDefinition DistortionEffect() {
    EffectDefinition e;
    e.id = "distortion";
    e.name = "Distortion";
    e.section = "Distortion";
    e.parameters = {{"Level", "-3", "Level (dB)", "-127..127"}, {"Degree", "0.5", "Degree", "0.0..1.0"}};
    // The presets choose how hard the curve bends and leave the level where
    // the user put it.
    e.presets = {{"Clip", {{"Degree", "1.0"}}},
                 {"Heavy", {{"Degree", "0.6"}}},
                 {"Medium", {{"Degree", "0.3"}}},
                 {"Light", {{"Degree", "0.1"}}}};
    e.validate = [](const EffectValues& values) { return DistortionSettings::From(values).Validate(); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const DistortionSettings s = DistortionSettings::From(values);
        return ApplyProcessorEffect(task, range, "Distortion", [s](Ref<AudioSource> source) {
            return CreateDistortion(std::move(source), s.level, s.degree);
        });
    };
    return e;
}

EffectDefinition FixedEffect(const char* id, const char* name, FunctionEffect::Factory factory) {
    EffectDefinition e;
    e.id = id;
    e.name = name;
    e.run = [name, factory](ProgressTask& task, EffectRange& range, const EffectValues&) {
        return ApplyProcessorEffect(task, range, name, factory);
    };
    return e;
}

}  // namespace

Ref<AudioSource> CreateDistortion(Ref<AudioSource> source, int level, double degree) {
    return MakeRef<DistortionProcessor>(std::move(source), level, degree);
}

Ref<AudioSource> CreateOnePoleHighPass(Ref<AudioSource> source, double frequency) {
    return MakeRef<OnePoleFilter>(std::move(source), frequency, true);
}

Ref<AudioSource> CreateOnePoleLowPass(Ref<AudioSource> source, double frequency) {
    return MakeRef<OnePoleFilter>(std::move(source), frequency, false);
}

// A narrow, slightly overdriven band from 100 Hz to 5 kHz.
Ref<AudioSource> CreateAmRadio(Ref<AudioSource> source) {
    Ref<AudioSource> band = CreateOnePoleLowPass(CreateOnePoleHighPass(std::move(source), 100), 5000);
    return CreateDistortion(std::move(band), -8, 0.05);
}

// The telephone band, 300 Hz to 3.6 kHz, cut with brick-wall edges by the
// block filter and then overdriven a little.
Ref<AudioSource> CreateTelephone(Ref<AudioSource> source) {
    const int32_t half = source->SampleRate() / 2 < 1 ? 22050 : source->SampleRate() / 2;
    const int32_t lo = std::min<int32_t>(614400 / half, 2047);
    const int32_t hi = std::min<int32_t>(7372800 / half, 2047);
    // The band's entries are 100: the table is kept in percent, which the
    // filter (unity 128) hears as about 2 dB down before the overdrive.
    BinCurve curve{};
    for (int32_t bin = lo; bin < hi; ++bin)
        curve[static_cast<size_t>(bin)] = 100;
    return CreateDistortion(CreateBlockFilter(std::move(source), curve), -8, 0.1);
}

void AddDistortionEffects(std::vector<EffectDefinition>& catalogue) {
    catalogue.push_back(DistortionEffect());
    catalogue.push_back(FixedEffect("am-radio", "AM Radio Effect", CreateAmRadio));
    catalogue.push_back(FixedEffect("telephone", "Telephone Effect", CreateTelephone));
}

}  // namespace sonitor
