#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/WaveFormat.h"
#include "foundation/AudioSink.h"

namespace sonitor {

// Size fields of a file that is still being written: readers take them as
// "the data runs to the end of the file".
inline constexpr uint64_t kWavSizeOpen = UINT64_MAX;

// "RIFF", size, "WAVE", "fmt " with the record (padded to even), "data",
// size. Sizes that do not fit 32 bits (past 4 GiB, or kWavSizeOpen) are
// written as 0xFFFFFFFF. For 16-bit PCM the header is 46 bytes.
std::vector<uint8_t> MakeWavHeader(const WaveFormat& format, uint64_t dataBytes);

// Writes integer PCM with format tag 1 and a 46-byte header; bits choose
// the stored width (1-8: unsigned bytes, 9-16, 17-24, 25 and more: 2, 3, 4
// bytes) and the stored bits are 8 * bytes per sample. Samples beyond the
// stored range are saturated. Until Close() (or destruction) both sizes in
// the header read 0xFFFFFFFF; no pad byte follows odd-sized data. A file
// that cannot be created, or a failed write (disk full), sets the failed
// flag.
Ref<AudioSink> CreatePcmWavSink(const std::string& path, int32_t sampleRate, int bits, int channels);

// PCM formats go to CreatePcmWavSink; any other format is encoded from
// 16-bit PCM by the codec layer. The failed flag is set when no codec can
// encode the format (the file is then left alone) or the file cannot be
// written.
Ref<AudioSink> CreateWavSink(const std::string& path, const WaveFormat& format);

}  // namespace sonitor
