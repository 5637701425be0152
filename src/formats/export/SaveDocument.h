#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "formats/export/ExportDispatcher.h"
#include "foundation/AudioSource.h"

namespace sonitor {

// "Unable to create file "%s"for saving." (sic: the classic text has no
// blank before "for").
std::string UnableToCreateMessage(const std::string& path);
// A save that failed after the file was created: the old file is intact.
std::string SaveFailedMessage(const std::string& path);

struct SaveOutcome {
    int32_t result = kTaskFailed;  // kTaskDone, kTaskCancelled, kTaskFailed
    std::string message;           // shown through the task on failure
    bool tagsWritten = false;
};

// Saves source to targetPath in the format of its extension. The audio is
// written to a temporary file in the target's folder, which replaces the
// target only when the copy, the sink's Close() and the output check have
// all succeeded; until then an existing target is left as it was. Then the
// tags (when given and the format holds them) are written, and for a
// playlist target the playlist beside the MP3. A failure message is shown
// through the task and returned.
SaveOutcome SaveAudio(ProgressTask& task, const Ref<AudioSource>& source, const std::string& targetPath,
                      const std::vector<TagEntry>* tags = nullptr, const ExportOptions& options = {});

}  // namespace sonitor
