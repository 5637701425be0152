#pragma once

#include <string>

#include "BenchBase.h"
#include "document/AudioClip.h"
#include "edit/EditOperations.h"

namespace sonitor {

// Loads any file the import reads into clip through the load task's work,
// so that every benchmark reads its input as the editor does.
inline bool LoadAudioIntoClip(const std::string& path, AudioClip& clip, TaskHost& host) {
    FunctionTask task("Loading", [&](ProgressTask& t) { return LoadFileIntoClip(t, path, clip); });
    return RunTask(task, host) == kTaskDone && clip.Length() > 0;
}

}  // namespace sonitor
