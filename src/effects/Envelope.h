#pragma once

#include <cstdint>
#include <vector>

#include "effects/PointRecord.h"

namespace sonitor {

class AudioClip;
class ProgressTask;

// The envelope engine as a task's work: straight lines of gain between the
// points over [start, end) of clip (positions as fractions of 255 of the
// range, level 128 = unity), in place; cancel leaves the clip as it was.
// Fewer than two points change nothing.
int32_t ApplyEnvelopeCurve(ProgressTask& task, AudioClip& clip, int32_t start, int32_t end,
                           const std::vector<CurvePoint>& points);

}  // namespace sonitor
