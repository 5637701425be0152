#include "formats/WaveFormat.h"

#include <algorithm>
#include <cstring>

#include "formats/Endian.h"
#include "formats/WavCodec.h"
#include "formats/WavCodecs.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

// Bytes 4..15 of every sub-format GUID that is derived from a format tag.
constexpr uint8_t kTagGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr size_t kExtensibleExtraBytes = 22;  // valid bits, channel mask, GUID

}  // namespace

std::vector<uint8_t> WaveFormat::Serialize() const {
    std::vector<uint8_t> out(18 + extra.size());
    StoreLE16(&out[0], tag);
    StoreLE16(&out[2], channels);
    StoreLE32(&out[4], samplesPerSec);
    StoreLE32(&out[8], avgBytesPerSec);
    StoreLE16(&out[12], blockAlign);
    StoreLE16(&out[14], bitsPerSample);
    StoreLE16(&out[16], CbSize());
    if (!extra.empty()) std::memcpy(&out[18], extra.data(), extra.size());
    return out;
}

std::optional<WaveFormat> WaveFormat::Parse(const uint8_t* bytes, size_t size) {
    if (size < 16) return std::nullopt;
    WaveFormat f;
    f.tag = LoadLE16(bytes);
    f.channels = LoadLE16(bytes + 2);
    f.samplesPerSec = LoadLE32(bytes + 4);
    f.avgBytesPerSec = LoadLE32(bytes + 8);
    f.blockAlign = LoadLE16(bytes + 12);
    f.bitsPerSample = LoadLE16(bytes + 14);
    if (size >= 18) {
        // A cbSize that claims more than the chunk holds would read past it.
        const size_t cb = std::min<size_t>(LoadLE16(bytes + 16), size - 18);
        f.extra.assign(bytes + 18, bytes + 18 + cb);
    }
    return f;
}

WaveFormat MakePcmWaveFormat(uint32_t sampleRate, uint16_t bits, uint16_t channels) {
    WaveFormat f;
    f.tag = kWaveTagPcm;
    f.channels = channels;
    f.samplesPerSec = sampleRate;
    f.bitsPerSample = bits;
    f.blockAlign = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    f.avgBytesPerSec = sampleRate * f.blockAlign;
    return f;
}

uint16_t EffectiveWaveTag(const WaveFormat& format) {
    if (format.tag != kWaveTagExtensible) return format.tag;
    if (format.extra.size() < kExtensibleExtraBytes) return 0;
    const uint8_t* guid = format.extra.data() + 6;
    if (std::memcmp(guid + 4, kTagGuidTail, sizeof kTagGuidTail) != 0) return 0;
    const uint32_t data1 = LoadLE32(guid);
    return data1 <= 0xFFFF ? static_cast<uint16_t>(data1) : 0;
}

namespace {

std::string ChoiceName(const char* coding, const WaveFormat& f) {
    // Rounded to the nearest kB/s, as a rough guide to the file size.
    const uint32_t kbps = (f.avgBytesPerSec + 500) / 1000;
    return Format("%s: %u Hz, %s, %u kB/s", coding, f.samplesPerSec, f.channels == 1 ? "mono" : "stereo",
                  kbps);
}

std::vector<WaveFormatChoice> BuildChoices() {
    static constexpr uint32_t kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
    std::vector<WaveFormatChoice> list;
    const auto add = [&list](const char* coding, WaveFormat f) {
        std::string name = ChoiceName(coding, f);
        list.push_back({std::move(f), std::move(name)});
    };
    for (uint16_t ch = 1; ch <= 2; ++ch)
        for (uint32_t r : kRates)
            add("A-law", MakeG711WaveFormat(kWaveTagALaw, r, ch));
    for (uint16_t ch = 1; ch <= 2; ++ch)
        for (uint32_t r : kRates)
            add("u-law", MakeG711WaveFormat(kWaveTagMuLaw, r, ch));
    for (uint16_t ch = 1; ch <= 2; ++ch)
        for (uint32_t r : kRates)
            add("IMA ADPCM", MakeImaAdpcmWaveFormat(r, ch));
    for (uint16_t ch = 1; ch <= 2; ++ch)
        for (uint32_t r : kRates)
            add("Microsoft ADPCM", MakeMsAdpcmWaveFormat(r, ch));
    for (uint32_t r : {8000u, 11025u, 22050u, 44100u})
        add("GSM 6.10", MakeGsm610WaveFormat(r));
    return list;
}

}  // namespace

const std::vector<WaveFormatChoice>& EncodableWaveFormats() {
    static const std::vector<WaveFormatChoice> list = BuildChoices();
    return list;
}

bool IsFormatEncodable(const WaveFormat& format) {
    if (format.tag == kWaveTagPcm || EffectiveWaveTag(format) == kWaveTagPcm) return true;
    return OpenCodecStream(Pcm16FormatFor(format), format, nullptr) == CodecStatus::kOk;
}

bool ChooseWaveFormat(WaveFormat& format, const WaveFormatPicker& pick, UserPrompt& prompt) {
    const std::vector<WaveFormatChoice>& choices = EncodableWaveFormats();
    WaveFormat current = format;
    for (;;) {
        std::optional<WaveFormat> picked = pick(kChooseFormatTitle, choices, current);
        if (!picked) return false;
        if (18 + picked->extra.size() <= kWaveFormatBufferBytes && IsFormatEncodable(*picked)) {
            format = std::move(*picked);
            return true;
        }
        prompt.Tell(kFormatNotAvailableCaption, kFormatNotAvailableText, PromptIcon::Error);
        // The chooser reopens on the refused pick, as it left it.
        current = std::move(*picked);
    }
}

}  // namespace sonitor
