#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "effects/BlockFilter.h"
#include "effects/PointRecord.h"
#include "foundation/AudioSource.h"

namespace sonitor {

class SettingsStore;

// The low frequency cut ("LowCutFreq"): a two-pole high-pass biquad with Q24
// coefficients. A cut-off below 1 Hz is designed at 10 Hz, one above half the
// rate at half the rate (which cuts everything).
Ref<AudioSource> CreateHighPassFilter(Ref<AudioSource> source, int32_t cutoffHz);

// The equalizer's axes. A point's position is a frequency on a logarithmic
// axis, (16^(x/255) - 1) / 15 * 20000 Hz, from 0 Hz at 0 to 20000 Hz at 255;
// its level a gain, 128 being unity.
int32_t EqualizerFrequency(uint8_t position);
// The position of a frequency, 0..255 (frequencies beyond the axis are held
// at its ends).
uint8_t EqualizerPosition(int32_t frequencyHz);
// The level of an amplitude percent: 100 % gives 127, 199 % gives 253
// (limited to 0..255).
uint8_t EqualizerLevel(int32_t amplitudePercent);
// The gain of a level in whole decibels for display: 255 is +6 dB, 0 is
// silence (-127).
int EqualizerLevelDecibels(uint8_t level);
// That gain as the status line shows it: "+6dB", "0dB", "-127dB".
std::string EqualizerGainText(uint8_t level);

// The 2048-bin curve of a point record at a rate (44100 when not above 0):
// straight lines between the points' bins, the first level below the first
// point, the last level above the last one.
BinCurve CurveFromPoints(const std::vector<CurvePoint>& points, int32_t sampleRate);

// The preset combo ("EQPreset" in "StoredValues"). Each preset's settings
// live in a section named after it.
enum EqualizerPreset : int {
    kEqualizerNoPreset = 0,  // "Select Preset"
    kEqualizerBandPass = 1,
    kEqualizerBandStop = 2,
    kEqualizerHighPass = 3,
    kEqualizerLowPass = 4,
    kEqualizerNotch = 5,
    kEqualizerBoostCut = 6,
};
inline constexpr int kEqualizerPresetCount = 7;
inline constexpr const char* kEqualizerPresetKey = "EQPreset";
// "Select Preset", "BandPass", "BandStop", "HighPass", "LowPass", "Notch",
// "Boost/Cut": the combo's entries and the section names.
const std::array<const char*, kEqualizerPresetCount>& EqualizerPresetNames();
extern const char* const kSelectPresetFirstMessage;

// The settings of the band presets (BandPass, BandStop, Notch, Boost/Cut).
struct BandPresetSettings {
    int32_t startHz = 8000;  // "StartFreq"
    int32_t endHz = 12000;   // "EndFreq"
    int32_t amplitude = 50;  // "Amp", percent
    int32_t slopeHz = 1000;  // "Slope"
    static BandPresetSettings Load(const SettingsStore& settings, int preset);
    void Store(const SettingsStore& settings, int preset) const;
};

// The settings of HighPass and LowPass.
struct PassPresetSettings {
    int32_t frequencyHz = 4000;  // "Freq"
    int32_t amplitude = 50;      // "Amp", percent
    int32_t slopeHz = 1000;      // "Slope"
    static PassPresetSettings Load(const SettingsStore& settings, int preset);
    void Store(const SettingsStore& settings, int preset) const;
};

// The points of a preset's shape (six for the band presets, four for the
// pass presets); values out of range are brought into it first.
std::vector<CurvePoint> BandPresetShape(int preset, BandPresetSettings values);
std::vector<CurvePoint> PassPresetShape(int preset, PassPresetSettings values);
// The shape of a preset from its stored settings; the flat curve for
// kEqualizerNoPreset and unknown indexes.
std::vector<CurvePoint> EqualizerPresetShape(int preset, const SettingsStore& settings);
// Choosing a preset: its shape is written to the curve file at once and the
// record read back from it, as the dialog then shows it.
std::vector<CurvePoint> ChooseEqualizerPreset(int preset, const SettingsStore& settings,
                                              const std::string& path);

}  // namespace sonitor
