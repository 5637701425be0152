// Files and conversions into working clips, shared by Paste, Insert File,
// Mix File and the clipboard exchange.
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/CopySourceToSink.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "formats/import/LoadAudioFile.h"

namespace sonitor {

int32_t LoadFileIntoClip(ProgressTask& task, const std::string& path, AudioClip& clip) {
    // The load task fills a scratch document; only a complete load reaches
    // the caller's clip.
    Ref<SoundDocument> scratch = MakeRef<SoundDocument>();
    uint8_t interact = 1;  // say once why a file cannot be opened
    const int32_t result = LoadAudioFile(task, *scratch, path, interact);
    if (result == kTaskDone) clip = std::move(scratch->clip);
    return result;
}

int32_t ConvertClip(ProgressTask& task, AudioClip& clip, int32_t sampleRate, int channels) {
    if (clip.SampleRate() == static_cast<uint32_t>(sampleRate) && clip.Channels() == channels)
        return kTaskDone;
    // The copy loop converts to the writer's rate and channels.
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, sampleRate, channels);
    const int32_t copied =
        CopySourceToSink(task, "Converting rate or channels...", OpenClipReader(clip), writer);
    if (!writer->Close() || copied != kTaskDone) return copied == kTaskDone ? kTaskFailed : copied;
    clip = writer->ResultClip();
    return kTaskDone;
}

}  // namespace sonitor
