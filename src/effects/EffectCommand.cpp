#include "effects/EffectCommand.h"

#include <algorithm>

#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"

namespace sonitor {

int32_t ApplyEffectCommand(SoundDocument& document, const EffectDefinition& effect,
                           const EffectValues& values, EditContext& ctx) {
    if (!document.HasSelection() || document.selectionStart >= document.selectionEnd)
        SelectAll(document, ctx.host);
    if (effect.stereoOnly && document.clip.Channels() != 2) {
        ctx.host.Prompt().Tell(kStereoOnlyTitle, kStereoOnlyMessage, PromptIcon::Information);
        return kTaskFailed;
    }
    if (effect.validate) {
        if (const std::optional<InvalidValue> invalid = effect.validate(values)) {
            ctx.host.Prompt().Tell(invalid->title, invalid->text, PromptIcon::Information);
            return kTaskFailed;
        }
    }
    ctx.host.StopPlayback();
    BeginEdit(document, effect.name, ctx.host);

    const int32_t length = document.clip.Length();
    EffectRange range{document.clip, std::clamp(document.selectionStart, 0, length),
                      std::clamp(document.selectionEnd, 0, length)};
    FunctionTask task(effect.caption.empty() ? effect.name : effect.caption,
                      [&](ProgressTask& t) { return effect.run(t, range, values); });
    const int32_t result = RunTask(task, ctx.tasks);
    if (result != kTaskDone) {
        ctx.host.DocumentChanged(document);
        return result;
    }
    // Effects that change the processed part's length move the selection
    // end; those that change the whole clip's timing (rate conversion) move
    // its start too.
    document.selectionStart = range.start;
    document.selectionEnd = std::max(range.start, range.end);
    const int32_t rate = static_cast<int32_t>(document.clip.SampleRate());
    FinishEdit(document, range.start, rate / std::max(1, effect.leadInDivisor), ctx.host, ctx.settings);
    return kTaskDone;
}

}  // namespace sonitor
