#pragma once

#include <cstdint>
#include <string>

#include "formats/raw/RawSampleSink.h"
#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// Sun/NeXT ".snd" files in µ-law, A-law, 8-bit or 16-bit linear coding.
// Status 4 when the file cannot be opened, 3 for a bad header, 5 for any
// other encoding.
Ref<AudioSource> OpenAuSource(const std::string& path);
// 16-bit linear AU behind a 24-byte header.
Ref<AudioSink> CreateAuSink(const std::string& path, int32_t sampleRate, int channels);

// The 24-byte header of a 16-bit file; the data size reads 0xFFFFFFFF while
// the file is open and when it does not fit in 32 bits.
std::string MakeAuHeader(const RawHeaderInfo& info);

}  // namespace sonitor
