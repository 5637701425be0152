#include "formats/mp3/Mp3Header.h"

#include <cstring>

#include "formats/Endian.h"
#include "formats/mp3/Mp3Tables.h"

namespace sonitor {

int Mp3Header::BitrateKbps() const noexcept {
    return mp3::kBitrateKbps[Lsf() ? 1 : 0][bitrateIndex];
}

int Mp3Header::SampleRate() const noexcept {
    return mp3::kSampleRates[RateTable()];
}

int Mp3Header::FrameBytes() const noexcept {
    // 1152 or 576 samples of bitrate * 1000 / 8 bytes per second.
    const int perKbps = Lsf() ? 72000 : 144000;
    return perKbps * BitrateKbps() / SampleRate() + (padding ? 1 : 0);
}

int Mp3Header::SideInfoBytes() const noexcept {
    if (Lsf()) return Channels() == 1 ? 9 : 17;
    return Channels() == 1 ? 17 : 32;
}

std::optional<Mp3Header> ParseMp3Header(const uint8_t* b) noexcept {
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return std::nullopt;
    Mp3Header h;
    switch ((b[1] >> 3) & 3) {
        case 0:
            h.version = MpegVersion::kMpeg25;
            break;
        case 2:
            h.version = MpegVersion::kMpeg2;
            break;
        case 3:
            h.version = MpegVersion::kMpeg1;
            break;
        default:
            return std::nullopt;
    }
    if (((b[1] >> 1) & 3) != 1) return std::nullopt;  // not Layer III
    h.crc = (b[1] & 1) == 0;
    h.bitrateIndex = static_cast<uint8_t>(b[2] >> 4);
    h.sampleRateIndex = static_cast<uint8_t>((b[2] >> 2) & 3);
    if (h.bitrateIndex == 0 || h.bitrateIndex == 15 || h.sampleRateIndex >= 3) return std::nullopt;
    h.padding = ((b[2] >> 1) & 1) != 0;
    h.mode = static_cast<uint8_t>(b[3] >> 6);
    h.modeExtension = static_cast<uint8_t>((b[3] >> 4) & 3);
    return h;
}

int64_t FindMp3FrameHeader(const uint8_t* data, size_t size, size_t maxPositions, bool confirm) noexcept {
    if (size < 4) return -1;
    const size_t last = size - 4;
    for (size_t i = 0; i <= last && i < maxPositions; ++i) {
        if (data[i] != 0xFF) continue;
        const auto h = ParseMp3Header(data + i);
        if (!h) continue;
        if (!confirm) return static_cast<int64_t>(i);
        const size_t next = i + static_cast<size_t>(h->FrameBytes());
        if (next >= size) return static_cast<int64_t>(i);
        if (next <= last) {
            const auto h2 = ParseMp3Header(data + next);
            if (h2 && h2->SameStream(*h)) return static_cast<int64_t>(i);
        }
    }
    return -1;
}

Mp3InfoFrame ParseMp3InfoFrame(const Mp3Header& header, const uint8_t* frame, size_t size) noexcept {
    Mp3InfoFrame info;
    const size_t sideStart = static_cast<size_t>(header.HeaderBytes());
    const size_t sideEnd = sideStart + static_cast<size_t>(header.SideInfoBytes());
    auto zeros = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (frame[i] != 0) return false;
        return true;
    };
    // Xing (VBR) and Info (CBR) share one layout: tag, flags, then the frame
    // count when flag bit 0 is set. Encoders place the tag after the side
    // information as if there were no CRC, even when there is one.
    const size_t places[2] = {sideEnd, 4 + static_cast<size_t>(header.SideInfoBytes())};
    for (size_t at : places) {
        if (size >= at + 12 && zeros(sideStart, at) &&
            (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0)) {
            info.present = true;
            if (LoadBE32(frame + at + 4) & 1) info.frameCount = LoadBE32(frame + at + 8);
            return info;
        }
    }
    // VBRI sits at a fixed place: tag, version, delay, quality, bytes, frames.
    const size_t vbri = 4 + 32;
    if (size >= vbri + 18 && zeros(sideStart, sideEnd < vbri ? sideEnd : vbri) &&
        std::memcmp(frame + vbri, "VBRI", 4) == 0) {
        info.present = true;
        info.frameCount = LoadBE32(frame + vbri + 14);
    }
    return info;
}

}  // namespace sonitor
