#pragma once

#include <cstdint>
#include <string>

#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// GSM 06.10 full-rate files: headerless 33-byte frames of 160 samples at
// 8000 Hz mono (the plain frame packing, not the WAV variant).
inline constexpr int kGsmFrameBytes = 33;
inline constexpr int kGsmFrameSamples = 160;
inline constexpr int32_t kGsmSampleRate = 8000;

// Status 4 when the file cannot be opened. A partial frame at the end is
// ignored. Seeking restarts the decoder at the frame sought.
Ref<AudioSource> OpenGsmSource(const std::string& path);
// A partial last frame is completed with silence when the sink is closed.
Ref<AudioSink> CreateGsmSink(const std::string& path);

}  // namespace sonitor
