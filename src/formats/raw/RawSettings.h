#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sonitor {

class SettingsStore;

// How a headerless file is read and written: the choices of the "Codec
// Settings" dialog, kept per section ("VoxAudio" for .vox, "RawAudio" for
// .raw and .snd) under the keys "Codec", "SampleRate" and "Channels".
struct RawSettings {
    int32_t sampleRate = 44100;
    uint8_t channels = 1;
    int32_t codec = 3;  // a RawCoding index
};

inline constexpr char kVoxAudioSection[] = "VoxAudio";
inline constexpr char kRawAudioSection[] = "RawAudio";

// The rates the dialog offers; any rate in kMinRawRate..kMaxRawRate may be typed.
inline constexpr std::array<int32_t, 12> kRawRateChoices = {6000,  8000,  11025, 16000, 22050, 32000,
                                                            44100, 48000, 64000, 88200, 96000, 196000};
inline constexpr int32_t kMinRawRate = 6000;
inline constexpr int32_t kMaxRawRate = 196000;

// 8000 Hz mono VOX for "VoxAudio"; 44100 Hz mono 16-bit little-endian otherwise.
RawSettings DefaultRawSettings(const std::string& section);
// The stored settings, section defaults for missing values; 0 channels reads as 1.
RawSettings LoadRawSettings(const SettingsStore& store, const std::string& section);
bool StoreRawSettings(const SettingsStore& store, const std::string& section, const RawSettings& settings);

// What the dialog's OK button does: a rate outside kMinRawRate..kMaxRawRate
// keeps the dialog open (false, nothing stored); otherwise the settings are
// stored in the section.
bool AcceptCodecSettings(const SettingsStore& store, const std::string& section, const RawSettings& settings);

}  // namespace sonitor
