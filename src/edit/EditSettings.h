#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonitor {

class SettingsStore;

// Why a dialog's values were refused: the message box to show.
struct InvalidValue {
    std::string title;
    std::string text;
};

// Remembered values of the edit dialogs. Each record loads from and stores
// to its keys; Validate() returns the refusal the dialog shows on OK, or
// nothing when the values may be used.

// Paste Mix and Mix File ("StoredValues").
struct MixSettings {
    static constexpr int kInsertSilence = 0;  // overflow modes ("LongerSelection")
    static constexpr int kIncreaseSelection = 1;
    static constexpr int kFadeOutMix = 2;

    int32_t volume = 100;         // "PasteMixVolume", percent, at most 100
    int32_t overflowMode = 0;     // "LongerSelection", 0..2 (others read as 0)
    int32_t fadeOutFrames = 250;  // "FadeOutTime", frames, negative read as 0
    int32_t pan = 50;             // 0..100, 50 = centre; never stored

    static MixSettings Load(const SettingsStore& settings);
    // Volume and mode always; "FadeOutTime" only in fade-out mode.
    void Store(const SettingsStore& settings) const;
    // "Mix Volume must be less than 100%. Please try again." ("Invalid
    // value") above 100; pan outside 0..100 is refused too.
    std::optional<InvalidValue> Validate() const;
};

// Insert Silence ("StoredValues"/"SilenceTimes", milliseconds).
struct SilenceSettings {
    int32_t milliseconds = 0;
    static SilenceSettings Load(const SettingsStore& settings);
    void Store(const SettingsStore& settings) const;
    // 0 or less: "The specified silence time is not valid. Please try
    // again." ("Invalid Silence Time").
    std::optional<InvalidValue> Validate() const;
};

// Repeat Loop ("StoredValues"/"RepeatNumTimes": extra copies).
struct RepeatSettings {
    int32_t times = 1;
    static RepeatSettings Load(const SettingsStore& settings);
    void Store(const SettingsStore& settings) const;
    // Below 1 is refused ("Invalid value").
    std::optional<InvalidValue> Validate() const;
};

// Auto Trim ("Settings"/"AutoTrimThreshold", dB, limited to -127..127).
struct AutoTrimSettings {
    int32_t thresholdDb = -20;
    static AutoTrimSettings Load(const SettingsStore& settings);
    void Store(const SettingsStore& settings) const;
};

// Auto Split ("AutoSplit"/"Threshold" dB limited to -127..127, "Duration" ms).
struct AutoSplitSettings {
    int32_t thresholdDb = -36;
    int32_t durationMs = 0;
    static AutoSplitSettings Load(const SettingsStore& settings);
    void Store(const SettingsStore& settings) const;
    // Negative duration: "The specified duration is not valid. Please try
    // again." ("Invalid Silence Time").
    std::optional<InvalidValue> Validate() const;
};

// The new-file dialog. With defaults set (the "Set Defaults" title) it reads
// and writes "DefaultSampleRate"/"DefaultChannels", else
// "SelectedSampleRate"/"SelectedChannels" (all in "Settings").
struct NewFileSettings {
    bool defaults = false;
    int32_t sampleRate = 44100;
    int32_t channels = 1;  // 1 or 2
    static NewFileSettings Load(const SettingsStore& settings, bool defaults);
    void Store(const SettingsStore& settings) const;
    // A rate outside 6000..96000: "Sample rates must be between 6000 and
    // 96000 samples per second." (title "Sonitor"); channels other than 1
    // or 2 are refused too.
    std::optional<InvalidValue> Validate() const;
};

// The dialog title that edits the defaults, compared without regard to case.
bool IsSetDefaultsTitle(const std::string& title);

}  // namespace sonitor
