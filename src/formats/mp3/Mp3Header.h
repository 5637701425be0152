#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sonitor {

enum class MpegVersion : uint8_t { kMpeg1 = 0, kMpeg2 = 1, kMpeg25 = 2 };

// The fields of a 4-byte MPEG audio frame header that Layer III decoding
// uses. Only headers accepted by ParseMp3Header are represented.
struct Mp3Header {
    MpegVersion version = MpegVersion::kMpeg1;
    bool crc = false;  // a 16-bit CRC follows the header
    uint8_t bitrateIndex = 1;
    uint8_t sampleRateIndex = 0;
    bool padding = false;
    uint8_t mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    uint8_t modeExtension = 0;

    bool Lsf() const noexcept { return version != MpegVersion::kMpeg1; }
    // Index of the rate's tables, 0..8 (MPEG-1, MPEG-2, MPEG-2.5 rates).
    int RateTable() const noexcept { return static_cast<int>(version) * 3 + sampleRateIndex; }
    int BitrateKbps() const noexcept;
    int SampleRate() const noexcept;
    int Channels() const noexcept { return mode == 3 ? 1 : 2; }
    int Granules() const noexcept { return Lsf() ? 1 : 2; }
    int SamplesPerFrame() const noexcept { return Lsf() ? 576 : 1152; }
    // Whole frame including the header.
    int FrameBytes() const noexcept;
    // Header plus CRC.
    int HeaderBytes() const noexcept { return crc ? 6 : 4; }
    int SideInfoBytes() const noexcept;
    // Same stream parameters, so that frames may follow one another.
    bool SameStream(const Mp3Header& o) const noexcept {
        return version == o.version && sampleRateIndex == o.sampleRateIndex && Channels() == o.Channels();
    }
};

// Parses 4 header bytes. Accepts only Layer III headers with the 11 sync
// bits, a known MPEG version, a bitrate index other than 0 (free format) and
// 15, and a sample-rate index below 3.
std::optional<Mp3Header> ParseMp3Header(const uint8_t* bytes) noexcept;

// Offset of the first header that ParseMp3Header accepts, trying at most
// maxPositions start positions of data (each needs 4 bytes), or -1. When
// confirm is set, a header counts only when the next frame's header follows
// it (same stream) or its frame reaches the end of data, which keeps stray
// sync patterns in leading junk from passing for a stream.
int64_t FindMp3FrameHeader(const uint8_t* data, size_t size, size_t maxPositions = 65536,
                           bool confirm = false) noexcept;

// What an information frame (Xing, Info or VBRI) at the start of a stream
// says. Such a frame carries no audio.
struct Mp3InfoFrame {
    bool present = false;
    uint32_t frameCount = 0;  // 0 when the frame gives none
};

// Looks for an information frame in the first frame of a stream: "Xing" or
// "Info" right after an all-zero side information (or where it would end
// without the CRC), or "VBRI" 32 bytes after the header. frame holds size
// bytes from the start of the header.
Mp3InfoFrame ParseMp3InfoFrame(const Mp3Header& header, const uint8_t* frame, size_t size) noexcept;

}  // namespace sonitor
