#pragma once

#include <cstdint>
#include <string>

#include "formats/raw/RawSampleSink.h"
#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// AIFF files with 8-bit or 16-bit samples. Status 4 when the file cannot be
// opened, 3 for a damaged or unusable header, 5 for samples above 16 bits.
Ref<AudioSource> OpenAiffSource(const std::string& path);
// 16-bit AIFF behind a 54-byte header (COMM, then SSND).
Ref<AudioSink> CreateAiffSink(const std::string& path, int32_t sampleRate, int channels);

// The 54-byte header of a 16-bit file; sizes a 32-bit field cannot hold,
// and the SSND size while the file is open, read 0xFFFFFFFF.
std::string MakeAiffHeader(const RawHeaderInfo& info);

// The 80-bit extended encoding of a whole rate (zero for rates below 1), and
// the rate an AIFF reader takes from one: the integer part rounded on the
// first dropped bit, or -1 when it is negative or beyond 32 bits.
void EncodeAiffRate(int32_t rate, uint8_t out[10]);
int64_t DecodeAiffRate(const uint8_t in[10]);

}  // namespace sonitor
