#pragma once

#include <string>

#include "document/ProgressTask.h"
#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// The one copy loop for loading, converting and saving. Sets line 0 to title
// and line 1 to "Please wait...", converts the source to the sink's rate and
// channels, limits peaks to 16-bit full scale, and copies in blocks of at
// most 8192 frames, pumping before each block. The bar shows the fraction
// reached before the block just written, so it never shows 100 while the
// task still runs.
//
// kTaskDone when everything was copied; kTaskCancelled when the user
// cancelled (the caller discards the partial output); kTaskFailed when the
// source is unusable or the sink failed, before or during the copy (a disk
// that fills up half-way, or a file that turns out damaged half-way, is a
// failure, not a success). The sink is not
// closed here: whoever owns it decides what happens to its output.
int32_t CopySourceToSink(ProgressTask& task, const std::string& title, const Ref<AudioSource>& source,
                         const Ref<AudioSink>& sink);

}  // namespace sonitor
