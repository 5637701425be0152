#pragma once

#include <string>

#include "formats/raw/RawSettings.h"
#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// A headerless file read by its settings: codec 0 is VOX (mono, the
// settings' rate), 1..6 sample data over the whole file with the settings'
// rate and channels. Any other codec gives a NullSource with status 1; a
// file that cannot be opened, status 4.
Ref<AudioSource> OpenRawSource(const RawSettings& settings, const std::string& path);
// The matching sink; any other codec gives a NullSink.
Ref<AudioSink> CreateRawSink(const RawSettings& settings, const std::string& path);

}  // namespace sonitor
