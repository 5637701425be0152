#include "effects/AudioEffect.h"

#include <algorithm>
#include <vector>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/ProgressTask.h"

namespace sonitor {

int32_t PumpProcessor(ProgressTask& task, AudioSource& processor, AudioSink& writer, int32_t start,
                      int32_t end) {
    if (end < start) return kTaskDone;
    if (start > 0) processor.Seek(start);
    const int64_t total = std::max<int64_t>(1, int64_t{end} - start);
    std::vector<int32_t> buffer(static_cast<size_t>(kMaxTransferFrames) *
                                static_cast<size_t>(processor.Channels()));
    int64_t done = 0;
    for (;;) {
        if (PumpTaskMessages(task)) return kTaskCancelled;
        const int32_t n =
            static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, int64_t{end} - start - done));
        if (n < 1) return kTaskDone;
        processor.Read(buffer.data(), n);
        writer.Write(buffer.data(), n);
        if (writer.Failed()) return kTaskFailed;
        done += n;
        SetProgressFraction(task, static_cast<double>(done) / static_cast<double>(total));
    }
}

int32_t ApplyEffect(ProgressTask& task, AudioClip& clip, int32_t start, int32_t end, AudioEffect& effect) {
    start = std::clamp(start, 0, clip.Length());
    end = std::clamp(end, 0, clip.Length());
    if (end < start) return kTaskDone;
    SetProgressText(task, 0, effect.Name());
    Ref<AudioSource> processor = effect.CreateProcessor(OpenClipReader(clip));
    if (!processor || !processor->Ok()) return kTaskFailed;
    // The written frames keep the clip's format whatever the processor
    // declares inside the chain.
    Ref<ClipWriter> writer =
        CreateClipWriter(nullptr, static_cast<int32_t>(clip.SampleRate()), clip.Channels());
    if (processor->Channels() != clip.Channels()) return kTaskFailed;
    int32_t result = PumpProcessor(task, *processor, *writer, start, end);
    if (!writer->Close() && result == kTaskDone) result = kTaskFailed;
    if (result != kTaskDone) return result;
    return ClipReplaceRange(clip, start, end, writer->ResultClip()) ? kTaskDone : kTaskFailed;
}

}  // namespace sonitor
