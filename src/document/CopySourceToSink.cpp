#include "document/CopySourceToSink.h"

#include <algorithm>
#include <vector>

#include "foundation/ConvertStream.h"
#include "foundation/PeakLimiter.h"

namespace sonitor {

int32_t CopySourceToSink(ProgressTask& task, const std::string& title, const Ref<AudioSource>& source,
                         const Ref<AudioSink>& sink) {
    SetProgressText(task, 0, title);
    SetProgressText(task, 1, "Please wait...");
    SetProgressFraction(task, 0);
    if (!source || !sink || source->Status() != kSourceOk || sink->Failed()) return kTaskFailed;

    Ref<AudioSource> input = ConvertStream(source, sink->SampleRate(), sink->Channels());
    input = LimitPeaks(input, kLimiterCeiling);
    if (input->Status() != kSourceOk || input->Channels() != sink->Channels()) return kTaskFailed;

    const int64_t frames = std::max<int64_t>(0, int64_t{input->Length()} - input->Position());
    std::vector<int32_t> block(static_cast<size_t>(kMaxTransferFrames) * static_cast<size_t>(sink->Channels()));
    for (int64_t done = 0; done < frames;) {
        if (PumpTaskMessages(task)) return kTaskCancelled;
        const auto n = static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, frames - done));
        input->Read(block.data(), n);
        // A reader that meets a damaged or vanished file says so in its
        // status; what it delivered from then on is not the file's sound.
        if (source->Status() != kSourceOk) return kTaskFailed;
        sink->Write(block.data(), n);
        if (sink->Failed()) return kTaskFailed;
        SetProgressFraction(task, static_cast<double>(done) / static_cast<double>(frames));
        done += n;
    }
    return kTaskDone;
}

}  // namespace sonitor
