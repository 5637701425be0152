#pragma once

#include <cstdint>

#include "edit/EditContext.h"
#include "effects/EffectCatalogue.h"

namespace sonitor {

class SoundDocument;

// The common flow of an effect command once its values are known (from the
// dialog, a batch file or the command line): without a selection the whole
// document is selected; a stereo-only effect on another channel count says
// so and stops; values that fail validation are shown as "Invalid value"
// and stop; playback stops; the undo point named after the effect; the
// effect's work as a task under its name; on success the after-effect step
// (FinishEdit at the start with the effect's lead-in). Returns the task
// result (kTaskFailed for the refusals).
int32_t ApplyEffectCommand(SoundDocument& document, const EffectDefinition& effect,
                           const EffectValues& values, EditContext& ctx);

}  // namespace sonitor
