// The filter family: the low frequency cut and the graphic equalizer.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "effects/AudioEffect.h"
#include "effects/Decibels.h"
#include "effects/EffectCatalogue.h"
#include "effects/Equalizer.h"
#include "effects/Processor.h"
#include "foundation/Numbers.h"
#include "foundation/SettingsStore.h"

namespace sonitor {

namespace {

int32_t Saturate(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

int32_t Q24(double v) {
    return static_cast<int32_t>(v * 16777216.0);
}

// The biquad's products: exact in 64 bits and rounded to nearest. MulQ24's
// products round down, and the feedback path multiplies that bias by the
// filter's gain at 0 Hz (about 1 / (1 + a1 + a2), half a million at a 10 Hz
// cut-off): a high-pass that should remove every offset added one of 3 % of
// full scale at 10 Hz and 0.015 % at 250 Hz. Rounded products leave a few
// units at most; they also cannot wrap on loud samples.
int64_t GainTerm(int64_t sample, int32_t gain) {
    return (sample * gain + (int64_t{1} << 23)) >> 24;
}

// Second-order high-pass with Q 0.707. b1 is -2 b0 exactly, so that the
// numerator blocks 0 Hz whatever the rounding of the coefficients; the sum of
// the four products is taken in 64 bits and saturated, so samples near the
// 32-bit limit clip instead of wrapping around.
class HighPassFilter final : public InPlaceProcessor {
public:
    HighPassFilter(Ref<AudioSource> upstream, int32_t cutoffHz)
        : InPlaceProcessor(std::move(upstream)), state_(static_cast<size_t>(Channels())) {
        const double rate = SampleRate() < 1 ? 44100.0 : SampleRate();
        double f = cutoffHz < 1 ? 10.0 : cutoffHz;
        // Above half the rate the poles leave the unit circle and the output
        // runs away; at half the rate the numerator vanishes and the filter
        // passes nothing, which is what such a cut-off asks for.
        f = std::min(f, rate / 2);
        const double w = 6.283185307179586 * f / rate;
        const double s = std::sin(w);
        const double c = std::cos(w);
        const double alpha = s * 0.7072135785007072;
        const double a0 = 1 + alpha;
        a1_ = Q24(-2 * c / a0);
        a2_ = Q24((1 - alpha) / a0);
        b0_ = Q24((1 + c) / 2 / a0);
        b1_ = -2 * b0_;
    }

private:
    struct ChannelState {
        int32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };

    void Reset() override { std::fill(state_.begin(), state_.end(), ChannelState{}); }

    void Process(int32_t* samples, int32_t frames) override {
        const size_t channels = state_.size();
        for (size_t c = 0; c < channels; ++c) {
            ChannelState st = state_[c];
            int32_t* p = samples + c;
            for (int32_t i = 0; i < frames; ++i, p += channels) {
                const int32_t x = *p;
                const int64_t y = GainTerm(int64_t{x} + st.x2, b0_) - GainTerm(st.y1, a1_) -
                                  GainTerm(st.y2, a2_) + GainTerm(st.x1, b1_);
                st.x2 = st.x1;
                st.x1 = x;
                st.y2 = st.y1;
                st.y1 = Saturate(y);
                *p = st.y1;
            }
            state_[c] = st;
        }
    }

    std::vector<ChannelState> state_;
    int32_t a1_ = 0, a2_ = 0, b0_ = 0, b1_ = 0;
};

const char* PresetSection(int preset) {
    return EqualizerPresetNames()[static_cast<size_t>(preset)];
}

bool IsBandPreset(int preset) {
    return preset == kEqualizerBandPass || preset == kEqualizerBandStop || preset == kEqualizerNotch ||
           preset == kEqualizerBoostCut;
}

EffectDefinition HighPassEffect() {
    EffectDefinition effect;
    effect.id = "high-pass-filter";
    effect.name = "High-Pass Filter";
    effect.parameters = {{"LowCutFreq", "250", "Cut-off frequency (Hz)",
                          "any (below 1 uses 10, half the rate or more cuts all)"}};
    effect.presets = {{"General Audio Cleanup", {{"LowCutFreq", "200"}}},
                      {"Radio / Telephone Quality Audio", {{"LowCutFreq", "4000"}}}};
    effect.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const int32_t cutoff = IntValue(values, "LowCutFreq");
        FunctionEffect lowCut("Low Frequency Cut", [cutoff](Ref<AudioSource> source) {
            return CreateHighPassFilter(std::move(source), cutoff);
        });
        return ApplyEffect(task, range.clip, range.start, range.end, lowCut);
    };
    return effect;
}

// The equalizer applies the curve in "equalizer.dat". Its presets stand for
// choosing a shape in the dialog: with "EQPreset" set, that shape (from the
// preset's stored settings) is applied instead, without touching the file.
EffectDefinition EqualizerEffect() {
    EffectDefinition effect;
    effect.id = "equalizer";
    effect.name = "Equalizer";
    effect.caption = "Equalizing";
    for (int preset = 1; preset < kEqualizerPresetCount; ++preset)
        effect.presets.push_back({PresetSection(preset), {{kEqualizerPresetKey, std::to_string(preset)}}});
    effect.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        const int preset = IntValue(values, kEqualizerPresetKey);
        const std::vector<CurvePoint> points = preset > kEqualizerNoPreset && preset < kEqualizerPresetCount
                                                   ? EqualizerPresetShape(preset, Settings())
                                                   : LoadCurveFile(EqualizerFilePath());
        const BinCurve curve = CurveFromPoints(points, static_cast<int32_t>(range.clip.SampleRate()));
        FunctionEffect equalizing("Equalizing", [&curve](Ref<AudioSource> source) {
            return CreateBlockFilter(std::move(source), curve);
        });
        return ApplyEffect(task, range.clip, range.start, range.end, equalizing);
    };
    return effect;
}

}  // namespace

Ref<AudioSource> CreateHighPassFilter(Ref<AudioSource> source, int32_t cutoffHz) {
    return MakeRef<HighPassFilter>(std::move(source), cutoffHz);
}

int32_t EqualizerFrequency(uint8_t position) {
    // (16^(x/255) - 1) / 15 * 20000: the power form is exact at both ends,
    // where exp(x/255 * ln 16) with a rounded ln 16 falls just short of
    // 20000 at 255.
    return static_cast<int32_t>(std::trunc((std::pow(16.0, position / 255.0) - 1) / 15 * 20000));
}

uint8_t EqualizerPosition(int32_t frequencyHz) {
    if (frequencyHz <= 0) return 0;
    const double x = std::trunc(std::log(frequencyHz * 0.00005 * 15 + 1) * 91.97180893096903);
    return x >= 255 ? 255 : static_cast<uint8_t>(x);
}

uint8_t EqualizerLevel(int32_t amplitudePercent) {
    const double v = std::trunc(amplitudePercent * 0.005 * 255);
    return v <= 0 ? 0 : v >= 255 ? 255 : static_cast<uint8_t>(v);
}

int EqualizerLevelDecibels(uint8_t level) {
    return DecibelFromGain(static_cast<int64_t>(std::trunc(level / 255.0 * 33554432)));
}

std::string EqualizerGainText(uint8_t level) {
    const int db = EqualizerLevelDecibels(level);
    return (db > 0 ? "+" : "") + std::to_string(db) + "dB";
}

BinCurve CurveFromPoints(const std::vector<CurvePoint>& points, int32_t sampleRate) {
    BinCurve curve;
    if (points.empty()) {
        curve.fill(128);
        return curve;
    }
    const double rate = sampleRate > 0 ? sampleRate : 44100;
    std::vector<int64_t> bins(points.size());
    for (size_t k = 0; k < points.size(); ++k)
        bins[k] =
            static_cast<int64_t>(std::trunc(2.0 * EqualizerFrequency(points[k].position) / rate * 2048));
    // Below the first point's bin the curve keeps its level.
    curve.fill(points.front().level);
    int64_t written = -1;
    for (size_t k = 0; k + 1 < points.size(); ++k) {
        const int64_t b0 = bins[k];
        const int64_t b1 = bins[k + 1];
        if (b1 <= b0) continue;
        const int64_t v0 = points[k].level;
        const int64_t dv = int64_t{points[k + 1].level} - v0;
        for (int64_t bin = std::max<int64_t>(b0, 0); bin < std::min<int64_t>(b1, 2048); ++bin) {
            curve[static_cast<size_t>(bin)] = static_cast<uint8_t>(v0 + (bin - b0) * dv / (b1 - b0));
            written = bin;
        }
    }
    if (written >= 0) {
        for (int64_t bin = written + 1; bin < 2048; ++bin)
            curve[static_cast<size_t>(bin)] = points.back().level;
    } else {
        curve.fill(points.back().level);
    }
    return curve;
}

const std::array<const char*, kEqualizerPresetCount>& EqualizerPresetNames() {
    static const std::array<const char*, kEqualizerPresetCount> names = {
        "Select Preset", "BandPass", "BandStop", "HighPass", "LowPass", "Notch", "Boost/Cut"};
    return names;
}

const char* const kSelectPresetFirstMessage =
    "Please select a preset first before opening the Settings window.";

BandPresetSettings BandPresetSettings::Load(const SettingsStore& settings, int preset) {
    BandPresetSettings v;
    const std::string section = PresetSection(preset);
    v.startHz = settings.ReadInt(section, "StartFreq", v.startHz);
    v.endHz = settings.ReadInt(section, "EndFreq", v.endHz);
    v.amplitude = settings.ReadInt(section, "Amp", v.amplitude);
    v.slopeHz = settings.ReadInt(section, "Slope", v.slopeHz);
    return v;
}

void BandPresetSettings::Store(const SettingsStore& settings, int preset) const {
    const std::string section = PresetSection(preset);
    settings.WriteInt(section, "StartFreq", startHz);
    settings.WriteInt(section, "EndFreq", endHz);
    settings.WriteInt(section, "Amp", amplitude);
    settings.WriteInt(section, "Slope", slopeHz);
}

PassPresetSettings PassPresetSettings::Load(const SettingsStore& settings, int preset) {
    PassPresetSettings v;
    const std::string section = PresetSection(preset);
    v.frequencyHz = settings.ReadInt(section, "Freq", v.frequencyHz);
    v.amplitude = settings.ReadInt(section, "Amp", v.amplitude);
    v.slopeHz = settings.ReadInt(section, "Slope", v.slopeHz);
    return v;
}

void PassPresetSettings::Store(const SettingsStore& settings, int preset) const {
    const std::string section = PresetSection(preset);
    settings.WriteInt(section, "Freq", frequencyHz);
    settings.WriteInt(section, "Amp", amplitude);
    settings.WriteInt(section, "Slope", slopeHz);
}

std::vector<CurvePoint> BandPresetShape(int preset, BandPresetSettings v) {
    const bool boosting = preset == kEqualizerNotch || preset == kEqualizerBoostCut;
    v.amplitude = std::clamp(v.amplitude, 0, boosting ? 199 : 100);
    // Negative frequencies have no position and a band starting above the
    // axis would end before it starts: both are held on the axis.
    v.startHz = std::clamp(v.startHz, 0, 20000);
    v.endHz = std::max(v.endHz, 0);
    v.slopeHz = std::max(v.slopeHz, 0);
    if (preset == kEqualizerNotch) {
        v.slopeHz = 0;
        if (int64_t{v.endHz} - v.startHz < 50) v.endHz = v.startHz + 50;
    }
    v.endHz = std::max(v.endHz, v.startHz);
    v.slopeHz = std::min(v.slopeHz, v.startHz);
    v.endHz = std::min(v.endHz, 20000);
    v.slopeHz = std::min(v.slopeHz, 20000 - v.endHz);
    const uint8_t amp = EqualizerLevel(v.amplitude);
    const uint8_t unity = EqualizerLevel(100);
    const uint8_t outside = preset == kEqualizerBandPass ? amp : unity;
    const uint8_t inside = preset == kEqualizerBandPass ? unity : amp;
    return {{0, outside},
            {EqualizerPosition(v.startHz - v.slopeHz), outside},
            {EqualizerPosition(v.startHz), inside},
            {EqualizerPosition(v.endHz), inside},
            {EqualizerPosition(v.endHz + v.slopeHz), outside},
            {255, outside}};
}

std::vector<CurvePoint> PassPresetShape(int preset, PassPresetSettings v) {
    v.frequencyHz = std::clamp(v.frequencyHz, 0, 20000);
    v.slopeHz = std::clamp(v.slopeHz, 0, v.frequencyHz);
    v.amplitude = std::clamp(v.amplitude, 0, 100);
    const uint8_t amp = EqualizerLevel(v.amplitude);
    const uint8_t unity = EqualizerLevel(100);
    if (preset == kEqualizerHighPass) {
        return {{0, amp},
                {EqualizerPosition(v.frequencyHz - v.slopeHz), amp},
                {EqualizerPosition(v.frequencyHz), unity},
                {255, unity}};
    }
    // The ramp may reach past 20000 Hz; its position is then held at 255.
    return {{0, unity},
            {EqualizerPosition(v.frequencyHz), unity},
            {EqualizerPosition(v.frequencyHz + v.slopeHz), amp},
            {255, amp}};
}

std::vector<CurvePoint> EqualizerPresetShape(int preset, const SettingsStore& settings) {
    if (IsBandPreset(preset)) return BandPresetShape(preset, BandPresetSettings::Load(settings, preset));
    if (preset == kEqualizerHighPass || preset == kEqualizerLowPass)
        return PassPresetShape(preset, PassPresetSettings::Load(settings, preset));
    return FlatCurve();
}

std::vector<CurvePoint> ChooseEqualizerPreset(int preset, const SettingsStore& settings,
                                              const std::string& path) {
    SaveCurveFile(path, EqualizerPresetShape(preset, settings));
    return LoadCurveFile(path);
}

void AddFilterEffects(std::vector<EffectDefinition>& catalogue) {
    catalogue.push_back(HighPassEffect());
    catalogue.push_back(EqualizerEffect());
}

}  // namespace sonitor
