#include "edit/EditSettings.h"

#include <algorithm>

#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr const char* kStoredValues = "StoredValues";
constexpr const char* kSettings = "Settings";
constexpr const char* kAutoSplit = "AutoSplit";

// Decibel values are kept as signed bytes elsewhere; a hand-edited value
// outside that range must not reach the level arithmetic.
int32_t ClampDecibels(int value) {
    return std::clamp(value, -127, 127);
}

}  // namespace

// ---------------------------------------------------------------------------
// Paste Mix and Mix File

MixSettings MixSettings::Load(const SettingsStore& settings) {
    MixSettings s;
    s.volume = settings.ReadInt(kStoredValues, "PasteMixVolume", 100);
    s.overflowMode = settings.ReadInt(kStoredValues, "LongerSelection", kInsertSilence);
    if (s.overflowMode < kInsertSilence || s.overflowMode > kFadeOutMix) s.overflowMode = kInsertSilence;
    s.fadeOutFrames = std::max(0, settings.ReadInt(kStoredValues, "FadeOutTime", 250));
    return s;
}

void MixSettings::Store(const SettingsStore& settings) const {
    settings.WriteInt(kStoredValues, "PasteMixVolume", volume);
    settings.WriteInt(kStoredValues, "LongerSelection", overflowMode);
    // The fade length field is disabled in the other modes, so what it shows
    // there is not a choice the user made.
    if (overflowMode == kFadeOutMix) settings.WriteInt(kStoredValues, "FadeOutTime", fadeOutFrames);
}

std::optional<InvalidValue> MixSettings::Validate() const {
    if (volume > 100)
        return InvalidValue{"Invalid value", "Mix Volume must be less than 100%. Please try again."};
    if (pan < 0 || pan > 100)
        return InvalidValue{"Invalid value", "Stereo Pan must be between 0 and 100. Please try again."};
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Insert Silence

SilenceSettings SilenceSettings::Load(const SettingsStore& settings) {
    SilenceSettings s;
    s.milliseconds = settings.ReadInt(kStoredValues, "SilenceTimes", 0);
    return s;
}

void SilenceSettings::Store(const SettingsStore& settings) const {
    settings.WriteInt(kStoredValues, "SilenceTimes", milliseconds);
}

std::optional<InvalidValue> SilenceSettings::Validate() const {
    if (milliseconds <= 0)
        return InvalidValue{"Invalid Silence Time",
                            "The specified silence time is not valid. Please try again."};
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Repeat Loop

RepeatSettings RepeatSettings::Load(const SettingsStore& settings) {
    RepeatSettings s;
    s.times = settings.ReadInt(kStoredValues, "RepeatNumTimes", 1);
    return s;
}

void RepeatSettings::Store(const SettingsStore& settings) const {
    settings.WriteInt(kStoredValues, "RepeatNumTimes", times);
}

std::optional<InvalidValue> RepeatSettings::Validate() const {
    if (times < 1)
        return InvalidValue{"Invalid value", "The specified number of times is not valid. Please try again."};
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Auto Trim and Auto Split

AutoTrimSettings AutoTrimSettings::Load(const SettingsStore& settings) {
    AutoTrimSettings s;
    s.thresholdDb = ClampDecibels(settings.ReadInt(kSettings, "AutoTrimThreshold", -20));
    return s;
}

void AutoTrimSettings::Store(const SettingsStore& settings) const {
    settings.WriteInt(kSettings, "AutoTrimThreshold", thresholdDb);
}

AutoSplitSettings AutoSplitSettings::Load(const SettingsStore& settings) {
    AutoSplitSettings s;
    s.thresholdDb = ClampDecibels(settings.ReadInt(kAutoSplit, "Threshold", -36));
    s.durationMs = settings.ReadInt(kAutoSplit, "Duration", 0);
    return s;
}

void AutoSplitSettings::Store(const SettingsStore& settings) const {
    settings.WriteInt(kAutoSplit, "Threshold", thresholdDb);
    settings.WriteInt(kAutoSplit, "Duration", durationMs);
}

std::optional<InvalidValue> AutoSplitSettings::Validate() const {
    if (durationMs < 0)
        return InvalidValue{"Invalid Silence Time", "The specified duration is not valid. Please try again."};
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// New file

NewFileSettings NewFileSettings::Load(const SettingsStore& settings, bool defaults) {
    NewFileSettings s;
    s.defaults = defaults;
    s.sampleRate = settings.ReadInt(kSettings, defaults ? "DefaultSampleRate" : "SelectedSampleRate", 44100);
    s.channels = settings.ReadInt(kSettings, defaults ? "DefaultChannels" : "SelectedChannels", 1);
    // The dialog offers only mono and stereo; anything else shows as mono.
    if (s.channels != 2) s.channels = 1;
    return s;
}

void NewFileSettings::Store(const SettingsStore& settings) const {
    settings.WriteInt(kSettings, defaults ? "DefaultSampleRate" : "SelectedSampleRate", sampleRate);
    settings.WriteInt(kSettings, defaults ? "DefaultChannels" : "SelectedChannels", channels);
}

std::optional<InvalidValue> NewFileSettings::Validate() const {
    if (sampleRate < 6000 || sampleRate > 96000)
        return InvalidValue{"Sonitor", "Sample rates must be between 6000 and 96000 samples per second."};
    if (channels != 1 && channels != 2)
        return InvalidValue{"Sonitor", "A new file must be mono or stereo. Please try again."};
    return std::nullopt;
}

bool IsSetDefaultsTitle(const std::string& title) {
    return EqualsIgnoreCase(title, "Set Defaults");
}

}  // namespace sonitor
