#include "formats/raw/AiffFile.h"

#include <cstring>
#include <string>

#include "formats/Endian.h"
#include "formats/raw/RawCodings.h"
#include "formats/raw/RawIo.h"
#include "formats/raw/RawSampleSink.h"
#include "formats/raw/RawSampleSource.h"

namespace sonitor {

namespace {

constexpr size_t kHeaderSize = 54;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

// Size fields hold 32 bits; larger sizes say "unknown", which readers take
// as "to the end of the file".
uint32_t SizeField(int64_t v) {
    return v >= int64_t{kUnknownSize} ? kUnknownSize : static_cast<uint32_t>(v);
}

bool IdIs(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

}  // namespace

std::string MakeAiffHeader(const RawHeaderInfo& info) {
    uint8_t h[kHeaderSize] = {};
    std::memcpy(h, "FORM", 4);
    StoreBE32(h + 4, SizeField(info.dataBytes + 46));
    std::memcpy(h + 8, "AIFF", 4);
    std::memcpy(h + 12, "COMM", 4);
    StoreBE32(h + 16, 18);
    StoreBE16(h + 20, static_cast<uint16_t>(info.channels));
    StoreBE32(h + 22, static_cast<uint32_t>(info.frames));
    StoreBE16(h + 26, 16);
    EncodeAiffRate(info.sampleRate, h + 28);
    std::memcpy(h + 38, "SSND", 4);
    // Until the file is finished its length is unknown.
    StoreBE32(h + 42, info.final ? SizeField(info.dataBytes + 8) : kUnknownSize);
    // Offset and block size stay 0.
    return std::string(reinterpret_cast<const char*>(h), sizeof h);
}

void EncodeAiffRate(int32_t rate, uint8_t out[10]) {
    std::memset(out, 0, 10);
    if (rate <= 0) return;
    const int log2 = 31 - __builtin_clz(static_cast<uint32_t>(rate));
    StoreBE16(out, static_cast<uint16_t>(16383 + log2));
    StoreBE32(out + 2, static_cast<uint32_t>(rate) << (31 - log2));
}

int64_t DecodeAiffRate(const uint8_t in[10]) {
    const uint16_t signAndExponent = LoadBE16(in);
    if (signAndExponent & 0x8000) return -1;
    const uint64_t top = LoadBE32(in + 2);
    // The integer part is the top mantissa word shifted right by 31 - e.
    const int shift = 31 - (static_cast<int>(signAndExponent) - 16383);
    if (shift < 0) return -1;
    if (shift == 0) return static_cast<int64_t>(top);
    if (shift > 32) return 0;
    const uint64_t rounding = (top >> (shift - 1)) & 1;
    return static_cast<int64_t>((top >> shift) + rounding);
}

Ref<AudioSource> OpenAiffSource(const std::string& path) {
    UniqueFd file = rawio::OpenForReading(path);
    if (!file) return MakeNullSource(kSourceCannotOpen);
    const int fd = file.Get();
    uint8_t form[12];
    if (ReadAt(fd, form, sizeof form, 0) != 12) return MakeNullSource(kSourceUnusable);
    if (!IdIs(form, "FORM") || !IdIs(form + 8, "AIFF")) return MakeNullSource(kSourceUnusable);

    // Chunks may come in any order; an odd-sized chunk is followed by a pad byte.
    uint8_t comm[18];
    bool haveComm = false;
    int64_t ssndBody = -1;
    uint32_t ssndSize = 0;
    for (int64_t at = 12; !haveComm || ssndBody < 0;) {
        uint8_t chunk[8];
        if (ReadAt(fd, chunk, sizeof chunk, at) != 8) break;
        const uint32_t size = LoadBE32(chunk + 4);
        const int64_t body = at + 8;
        if (!haveComm && IdIs(chunk, "COMM")) {
            if (size < 18 || ReadAt(fd, comm, sizeof comm, body) != 18)
                return MakeNullSource(kSourceUnusable);
            haveComm = true;
        } else if (ssndBody < 0 && IdIs(chunk, "SSND")) {
            ssndBody = body;
            ssndSize = size;
        }
        at = body + size + (size & 1);
    }
    if (!haveComm || ssndBody < 0) return MakeNullSource(kSourceUnusable);

    uint8_t ssnd[8];
    if (ReadAt(fd, ssnd, sizeof ssnd, ssndBody) != 8) return MakeNullSource(kSourceUnusable);
    const uint32_t offset = LoadBE32(ssnd);
    const int64_t dataStart = ssndBody + 8 + offset;
    int64_t dataBytes = -1;
    if (ssndSize != kUnknownSize) {
        dataBytes = static_cast<int64_t>(ssndSize) - 8 - offset;
        if (dataBytes < 0) dataBytes = 0;
    }

    const int channels = comm[1];
    const int sampleBits = LoadBE16(comm + 6);
    if (sampleBits > 16) return MakeNullSource(kSourceNoCodec);
    const int64_t rate = DecodeAiffRate(comm + 8);
    if (channels == 0 || rate <= 0 || rate > INT32_MAX) return MakeNullSource(kSourceUnusable);
    const int32_t coding = sampleBits > 8 ? kRawPcm16BE : kRawPcm8Signed;
    return MakeRef<RawSampleSource>(std::move(file), dataStart, dataBytes, coding, static_cast<int32_t>(rate),
                                    channels);
}

Ref<AudioSink> CreateAiffSink(const std::string& path, int32_t sampleRate, int channels) {
    return MakeRef<RawSampleSink>(path, kRawPcm16BE, sampleRate, channels, MakeAiffHeader);
}

}  // namespace sonitor
