#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/UserPrompt.h"

namespace sonitor {

// Format tags of the wave format record that this program knows by name.
enum WaveFormatTag : uint16_t {
    kWaveTagPcm = 0x0001,
    kWaveTagMsAdpcm = 0x0002,
    kWaveTagIeeeFloat = 0x0003,
    kWaveTagALaw = 0x0006,
    kWaveTagMuLaw = 0x0007,
    kWaveTagImaAdpcm = 0x0011,
    kWaveTagGsm610 = 0x0031,
    kWaveTagMpegLayer3 = 0x0055,
    kWaveTagExtensible = 0xFFFE,
};

// The wave format record of a "fmt " chunk (little-endian in the file):
// tag, channels, samples per second, average bytes per second, block align,
// bits per sample, then cbSize (u16) and cbSize extra bytes.
struct WaveFormat {
    uint16_t tag = kWaveTagPcm;
    uint16_t channels = 1;
    uint32_t samplesPerSec = 44100;
    uint32_t avgBytesPerSec = 88200;
    uint16_t blockAlign = 2;
    uint16_t bitsPerSample = 16;
    std::vector<uint8_t> extra;  // cbSize bytes

    uint16_t CbSize() const { return static_cast<uint16_t>(extra.size()); }
    // 18 + cbSize bytes, as stored in a "fmt " chunk.
    std::vector<uint8_t> Serialize() const;
    // From the bytes of a "fmt " chunk (at least 16). Below 18 bytes cbSize
    // is 0; a cbSize larger than the bytes present is cut to what is there.
    static std::optional<WaveFormat> Parse(const uint8_t* bytes, size_t size);

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// Largest record a caller of ChooseWaveFormat must be able to hold.
inline constexpr size_t kWaveFormatBufferBytes = 1024;

// Integer PCM: block align channels * ceil(bits / 8), cbSize 0.
WaveFormat MakePcmWaveFormat(uint32_t sampleRate, uint16_t bits, uint16_t channels);

// The tag that describes the coding: for an extensible record whose
// sub-format GUID is one of the standard tag-derived ones, the tag inside
// the GUID; 0 for an extensible record with any other GUID; otherwise the
// record's own tag.
uint16_t EffectiveWaveTag(const WaveFormat& format);

// One entry of the format chooser.
struct WaveFormatChoice {
    WaveFormat format;
    std::string name;
};

// Every compressed format we offer for saving, grouped by coding, in the
// order the chooser lists them.
const std::vector<WaveFormatChoice>& EncodableWaveFormats();

// True when a file in this format can be written: PCM always, anything else
// when the codec layer can encode 16-bit PCM into it.
bool IsFormatEncodable(const WaveFormat& format);

inline constexpr char kChooseFormatTitle[] = "Select Wave File Format";
inline constexpr char kFormatNotAvailableCaption[] = "Format Not Available";
inline constexpr char kFormatNotAvailableText[] =
    "The requested format is not available because the required CODEC is not installed on this "
    "computer.";

// Stands in for the chooser window: shows the title and the choices with the
// initial format selected, returns the picked format or nothing on cancel.
using WaveFormatPicker = std::function<std::optional<WaveFormat>(
    const std::string& title, const std::vector<WaveFormatChoice>& choices, const WaveFormat& initial)>;

// Lets the user pick a format, starting from `format`. A pick that cannot be
// encoded (or does not fit the caller's 1024-byte buffer) is refused with the
// "Format Not Available" message and the chooser shown again. True with the
// pick in `format` once an encodable one is confirmed; false on cancel.
bool ChooseWaveFormat(WaveFormat& format, const WaveFormatPicker& pick, UserPrompt& prompt);

}  // namespace sonitor
