#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document/DocumentHost.h"

namespace sonitor {

class ProgressTask;
class SettingsStore;
class SoundDocument;
class TaskHost;

// The type list of the Save As dialog, in its order.
const std::vector<FileDialogFilter>& SaveAsFilters();

// ".ra", ".ram" and ".rm" (any case): formats we can read but not write.
bool IsRealAudioExtension(std::string_view extension);

// The messages and questions of the save commands.
std::string SaveLowSpaceMessage(const std::string& name);
std::string SaveMaybeIncompleteMessage(const std::string& name);
extern const char* const kRealAudioQuestion;
extern const char* const kReplaceQuestion;

// Task work of a save: the document's audio and tags written to target in
// the format of its extension, through SaveAudio (temporary file, rename
// after success). Returns kTaskDone, kTaskCancelled or kTaskFailed; the
// document itself is not changed.
int32_t SaveDocument(ProgressTask& task, SoundDocument& document, const std::string& target,
                     const SettingsStore& settings);

// The Save command. A document without a file (untitled) goes to Save As.
// Checks the working folder's space, refuses the real-audio formats (asking
// whether to Save As instead), saves as a task, then marks the document
// unmodified. True when the document was saved.
bool SaveCommand(SoundDocument& document, DocumentHost& host, TaskHost& tasks, const SettingsStore& settings);

// The Save As command: the save dialog (from "SaveAsDir" and "SaveAsFormat",
// stored again on OK), the replace question (No asks for another name), the
// real-audio question, the format's options, then the save. The document
// takes the new name only when the save succeeded, so a failed Save As
// leaves it bound to the file it came from.
bool SaveAsCommand(SoundDocument& document, DocumentHost& host, TaskHost& tasks,
                   const SettingsStore& settings);

}  // namespace sonitor
