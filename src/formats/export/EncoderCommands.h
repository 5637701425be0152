#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/import/ExternalDecoders.h"

namespace sonitor {

class SettingsStore;

// Settings of the external encoders, one settings section each. Flags are
// stored as "1"/"0". Load* fills missing values with the defaults below and
// Store* writes every field.

struct Mp3EncoderSettings {
    bool constantBitRate = true;
    uint16_t cbrBitRate = 128;
    bool highQuality = true;
    uint16_t vbrMinBitRate = 32;
    uint16_t vbrMaxBitRate = 128;
    uint8_t vbrQuality = 4;  // 0 best .. 9
    bool errorProtection = false;
    uint8_t channelMode = 1;  // 0 stereo, 1 joint, 2 forced, 3 mono
};

struct OggEncoderSettings {
    bool qualityMode = true;  // else a bitrate range
    uint8_t vbrQuality = 4;   // 0..10
    uint16_t vbrMinBitRate = 96;
    uint16_t vbrMaxBitRate = 128;
    uint8_t channels = 1;
    bool stripComments = false;
};

struct FlacEncoderSettings {
    uint8_t compression = 4;  // 0..8
    uint8_t channels = 1;
    uint32_t sampleRate = 44100;
};

struct AacEncoderSettings {
    bool averageBitRate = false;  // else VBR quality
    uint16_t abrBitRate = 128;
    uint16_t vbrQuality = 100;  // percent
    bool forceMpeg2 = false;
    bool disableTns = false;
};

struct AmrEncoderSettings {
    uint8_t modeRateSelection = 4;  // index into kAmrModes
};

inline constexpr char kMp3EncoderSection[] = "MP3Encoder";
inline constexpr char kOggEncoderSection[] = "OggEncoder";
inline constexpr char kFlacEncoderSection[] = "FlacEncoder";
inline constexpr char kAacEncoderSection[] = "AACEncoder";
inline constexpr char kAmrEncoderSection[] = "AMREncoder";

inline constexpr std::array<const char*, 8> kAmrModes = {"MR475", "MR515", "MR59",  "MR67",
                                                         "MR74",  "MR795", "MR102", "MR122"};
inline constexpr std::array<int32_t, 8> kAmrBitRates = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};

Mp3EncoderSettings LoadMp3EncoderSettings(const SettingsStore& store);
OggEncoderSettings LoadOggEncoderSettings(const SettingsStore& store);
FlacEncoderSettings LoadFlacEncoderSettings(const SettingsStore& store);
AacEncoderSettings LoadAacEncoderSettings(const SettingsStore& store);
AmrEncoderSettings LoadAmrEncoderSettings(const SettingsStore& store);
bool StoreMp3EncoderSettings(const SettingsStore& store, const Mp3EncoderSettings& settings);
bool StoreOggEncoderSettings(const SettingsStore& store, const OggEncoderSettings& settings);
bool StoreFlacEncoderSettings(const SettingsStore& store, const FlacEncoderSettings& settings);
bool StoreAacEncoderSettings(const SettingsStore& store, const AacEncoderSettings& settings);
bool StoreAmrEncoderSettings(const SettingsStore& store, const AmrEncoderSettings& settings);

enum class EncoderKind { Mp3, Ogg, Flac, Aac, M4a, Amr };

// The component ("mp3el", "oggenc", "flacenc", "aacenc", "amrenc"), the
// Debian program that does the work and its package. AAC, M4A and AMR are
// all encoded by ffmpeg.
const ExternalDecoder& EncoderComponent(EncoderKind kind);

// One encoder run. commandText is the classic command line (quoted program,
// then the options) that users and support know; arguments is what we
// actually start: the same choices expressed for the Debian program, as an
// argument vector. The encoder reads sampleRate / channels 16-bit signed
// little-endian PCM on its standard input; channels is never above 2.
struct EncoderPlan {
    std::string commandText;
    std::vector<std::string> arguments;
    int32_t sampleRate = 44100;
    int channels = 1;
};

// The rate the MP3 encoder is given for a document rate and bitrate range.
int32_t Mp3EncodingRate(int32_t documentRate, int minBitRate, int maxBitRate);

// output must be an absolute path (no name can then be taken for an option).
EncoderPlan PlanMp3Encoder(const std::string& program, const Mp3EncoderSettings& settings, int32_t rate,
                           int channels, const std::string& output);
EncoderPlan PlanOggEncoder(const std::string& program, const OggEncoderSettings& settings, int32_t rate,
                           int channels, const std::string& output);
EncoderPlan PlanFlacEncoder(const std::string& program, const FlacEncoderSettings& settings,
                            const std::string& output);
// m4a selects the MP4 container instead of a bare ADTS stream.
EncoderPlan PlanAacEncoder(const std::string& program, const AacEncoderSettings& settings, int32_t rate,
                           int channels, bool m4a, const std::string& output);
EncoderPlan PlanAmrEncoder(const std::string& program, const AmrEncoderSettings& settings,
                           const std::string& output);

// The plan with the settings read from store.
EncoderPlan PlanEncoder(EncoderKind kind, const std::string& program, const SettingsStore& store,
                        int32_t rate, int channels, const std::string& output);

}  // namespace sonitor
