#include "formats/import/LoadAudioFile.h"

#include <utility>

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/CopySourceToSink.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "formats/tags/TagIo.h"
#include "foundation/ConvertStream.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor {

int32_t LoadAudioFile(ProgressTask& task, SoundDocument& document, const std::string& path, uint8_t& interact,
                      const OpenAudioOptions& options) {
    const std::string title = Format("Loading file %s", FileNamePart(path).c_str());
    SetProgressText(task, 0, title);
    SetProgressText(task, 1, "Please wait...");
    OpenAudioResult opened = OpenAudioSource(path, interact, &task, options);
    // Every code other than success is passed on, cancel included: the
    // caller must not take a half-made document for a loaded one.
    if (opened.result != 0) return opened.result;
    if (!opened.source) return kTaskFailed;

    // The writer fills a clip of its own; the document gets it only once
    // the whole file has arrived.
    Ref<ClipWriter> writer =
        CreateClipWriter(nullptr, opened.source->SampleRate(), opened.source->Channels());
    int32_t result = CopySourceToSink(task, title, opened.source, writer);
    if (!writer->Close() && result == kTaskDone) result = kTaskFailed;
    if (result != kTaskDone) return result;

    document.clip = writer->ResultClip();
    document.fileName = path;
    document.tags.clear();
    ReadTags(path, document.tags);
    document.modified = false;
    return kTaskDone;
}

int32_t LoadAudioFileConverted(ProgressTask& task, Ref<AudioSource>& source, int32_t sampleRate,
                               int channels) {
    if (!source) return kTaskFailed;
    if (source->SampleRate() == sampleRate && source->Channels() == channels) return kTaskDone;
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, sampleRate, channels);
    // CopySourceToSink converts to the sink's rate and channels itself; the
    // explicit converter only makes a bad target fail before any work.
    Ref<AudioSource> converted = ConvertStream(source, sampleRate, channels);
    int32_t result = CopySourceToSink(task, "Converting rate or channels...", converted, writer);
    if (!writer->Close() && result == kTaskDone) result = kTaskFailed;
    if (result != kTaskDone) return result;
    source = OpenClipReader(writer->ResultClip());
    return kTaskDone;
}

}  // namespace sonitor
