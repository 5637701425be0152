#include "formats/raw/AuFile.h"

#include <cstring>
#include <string>

#include "formats/Endian.h"
#include "formats/raw/RawCodings.h"
#include "formats/raw/RawIo.h"
#include "formats/raw/RawSampleSink.h"
#include "formats/raw/RawSampleSource.h"

namespace sonitor {

namespace {

constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

enum AuEncoding : uint32_t { kAuMuLaw = 1, kAuLinear8 = 2, kAuLinear16 = 3, kAuALaw = 27 };

}  // namespace

std::string MakeAuHeader(const RawHeaderInfo& info) {
    uint8_t h[kHeaderSize];
    std::memcpy(h, ".snd", 4);
    StoreBE32(h + 4, kHeaderSize);
    // Unknown while the file is open, and for sizes a 32-bit field cannot hold.
    const bool known = info.final && info.dataBytes < int64_t{kUnknownSize};
    StoreBE32(h + 8, known ? static_cast<uint32_t>(info.dataBytes) : kUnknownSize);
    StoreBE32(h + 12, kAuLinear16);
    StoreBE32(h + 16, static_cast<uint32_t>(info.sampleRate));
    StoreBE32(h + 20, static_cast<uint32_t>(info.channels));
    return std::string(reinterpret_cast<const char*>(h), sizeof h);
}

Ref<AudioSource> OpenAuSource(const std::string& path) {
    UniqueFd file = rawio::OpenForReading(path);
    if (!file) return MakeNullSource(kSourceCannotOpen);
    uint8_t h[kHeaderSize];
    if (ReadAt(file.Get(), h, sizeof h, 0) != kHeaderSize) return MakeNullSource(kSourceUnusable);
    if (std::memcmp(h, ".snd", 4) != 0) return MakeNullSource(kSourceUnusable);
    const uint32_t offset = LoadBE32(h + 4);
    const uint32_t size = LoadBE32(h + 8);
    const uint32_t encoding = LoadBE32(h + 12);
    const uint32_t rate = LoadBE32(h + 16);
    const int channels = h[23];
    // Samples cannot begin inside the header.
    if (offset < kHeaderSize) return MakeNullSource(kSourceUnusable);

    int32_t coding;
    switch (encoding) {
        case kAuMuLaw:
            coding = kRawMuLaw;
            break;
        case kAuLinear8:
            coding = kRawPcm8Signed;
            break;
        case kAuLinear16:
            coding = kRawPcm16BE;
            break;
        case kAuALaw:
            coding = kRawALaw;
            break;
        default:
            return MakeNullSource(kSourceNoCodec);
    }
    if (channels == 0 || rate == 0 || rate > INT32_MAX) return MakeNullSource(kSourceUnusable);
    const int64_t dataBytes = size == kUnknownSize ? -1 : static_cast<int64_t>(size);
    return MakeRef<RawSampleSource>(std::move(file), offset, dataBytes, coding, static_cast<int32_t>(rate),
                                    channels);
}

Ref<AudioSink> CreateAuSink(const std::string& path, int32_t sampleRate, int channels) {
    return MakeRef<RawSampleSink>(path, kRawPcm16BE, sampleRate, channels, MakeAuHeader);
}

}  // namespace sonitor
