#include "formats/raw/RawCodings.h"

#include "formats/Endian.h"
#include "formats/G711.h"
#include "foundation/AudioSource.h"

namespace sonitor {

namespace {

// (x + 2048) >> 12 limited to the signed 8-bit range; values beyond full
// scale would otherwise wrap into the opposite sign.
inline int32_t InternalTo8(int32_t x) {
    const int64_t v = (static_cast<int64_t>(x) + 2048) >> 12;
    return static_cast<int32_t>(v < -128 ? -128 : v > 127 ? 127 : v);
}

}  // namespace

bool IsRawCoding(int32_t coding) {
    return coding >= 0 && coding < kRawCodingCount;
}

const char* RawCodingName(int32_t coding) {
    static const char* const kNames[kRawCodingCount] = {
        "Dialogic ADPCM", "G711 uLaw",    "G711 aLaw",       "16 bit PCM (LE)",
        "8 bit unsigned", "8 bit signed", "16 bit PCM (BE)",
    };
    return IsRawCoding(coding) ? kNames[coding] : "";
}

int RawBytesPerSample(int32_t coding) {
    switch (coding) {
        case kRawMuLaw:
        case kRawALaw:
        case kRawPcm8Unsigned:
        case kRawPcm8Signed:
            return 1;
        case kRawPcm16LE:
        case kRawPcm16BE:
            return 2;
        default:
            return 0;
    }
}

int32_t RawFullScale(int32_t coding) {
    return coding == kRawMuLaw || coding == kRawALaw ? kG711FullScale : kFullScale16;
}

void DecodeRawSamples(int32_t coding, const uint8_t* bytes, size_t count, int32_t* samples) {
    switch (coding) {
        case kRawMuLaw:
            DecodeMuLaw(bytes, count, samples);
            break;
        case kRawALaw:
            DecodeALaw(bytes, count, samples);
            break;
        case kRawPcm16LE:
            for (size_t i = 0; i < count; ++i) {
                samples[i] = static_cast<int16_t>(LoadLE16(bytes + 2 * i)) * 16;
            }
            break;
        case kRawPcm8Unsigned:
            for (size_t i = 0; i < count; ++i)
                samples[i] = (bytes[i] - 128) * 4096;
            break;
        case kRawPcm8Signed:
            for (size_t i = 0; i < count; ++i)
                samples[i] = static_cast<int8_t>(bytes[i]) * 4096;
            break;
        case kRawPcm16BE:
            for (size_t i = 0; i < count; ++i) {
                samples[i] = static_cast<int16_t>(LoadBE16(bytes + 2 * i)) * 16;
            }
            break;
        default:
            break;
    }
}

void EncodeRawSamples(int32_t coding, const int32_t* samples, size_t count, uint8_t* bytes) {
    switch (coding) {
        case kRawMuLaw:
            EncodeMuLaw(samples, count, bytes);
            break;
        case kRawALaw:
            EncodeALaw(samples, count, bytes);
            break;
        case kRawPcm16LE:
            for (size_t i = 0; i < count; ++i) {
                StoreLE16(bytes + 2 * i, static_cast<uint16_t>(InternalTo16(samples[i])));
            }
            break;
        case kRawPcm8Unsigned:
            for (size_t i = 0; i < count; ++i)
                bytes[i] = static_cast<uint8_t>(InternalTo8(samples[i]) + 128);
            break;
        case kRawPcm8Signed:
            for (size_t i = 0; i < count; ++i)
                bytes[i] = static_cast<uint8_t>(InternalTo8(samples[i]));
            break;
        case kRawPcm16BE:
            for (size_t i = 0; i < count; ++i) {
                StoreBE16(bytes + 2 * i, static_cast<uint16_t>(InternalTo16(samples[i])));
            }
            break;
        default:
            break;
    }
}

}  // namespace sonitor
