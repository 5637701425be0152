#pragma once

#include <cstdint>
#include <string>

#include "formats/WaveFormat.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// Where the samples of a RIFF/WAVE file are.
struct WavLayout {
    WaveFormat format;
    int64_t dataStart = 0;  // byte offset of the first sample
    // Bytes of the data chunk that are present in the file: a size of
    // 0xFFFFFFFF (a file whose writer never finished) runs to the end of
    // the file, and any size is cut to the bytes there are.
    int64_t dataBytes = 0;
};

// Walks the chunks of a WAV file: steps over anything before a RIFF/WAVE
// header (RF64 is taken like RIFF), skips every chunk other than "fmt " and
// a following "data" (odd sizes with their pad byte) and checks the format.
// Returns kSourceOk, or kSourceUnusable for a damaged or unsupported layout:
// a short read, a chunk of 2^31 bytes or more, a "fmt " chunk outside
// 16..8192 bytes, channels outside 1..255, a rate outside 1..196000 Hz.
uint8_t ReadWavLayout(int fd, int64_t fileSize, WavLayout& layout);

// Opens a WAV file for reading. Integer PCM (tag 1, or extensible with the
// PCM sub-format) is read directly with the width of its samples:
//   1-8 bits unsigned, (s - 128) * 4096; 9-16 bits, s * 16;
//   17-24 bits, s >> 4; 25 bits and more, (s + 2048) >> 12.
// Anything else is decoded to 16-bit through our codec layer (WavCodec.h).
// Never empty: a NullSource with status 4 when the file cannot be opened, 3
// when it is damaged; status 5 when no codec knows the format.
Ref<AudioSource> OpenWavSource(const std::string& path);

}  // namespace sonitor
