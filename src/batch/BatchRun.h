#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch/BatchScript.h"
#include "edit/EditSettings.h"

namespace sonitor {

class ProgressTask;
class SettingsStore;
class SoundDocument;
class TaskHost;
class UserPrompt;

// Where and in what format a batch writes its outputs ("BatchConverter").
struct BatchOutput {
    bool sameFormat = true;   // "SaveSameFileFormat"
    int32_t formatIndex = 0;  // "SaveFileFormat": BatchOutputFormats()
    bool sameFolder = true;   // "SameOutputFolder"
    std::string folder;       // "OutputFolder"
    static BatchOutput Load(const SettingsStore& settings);
    void Store(const SettingsStore& settings) const;
};

// The output path of one source: its folder or the output folder, its name
// without extension, its extension or the chosen format's. Nothing for a
// format index outside the list.
std::optional<std::string> BatchOutputPath(const std::string& source, const BatchOutput& output);

// Sources whose output path another earlier source already claims (a.wav
// and a.mp3 both to a.mp3): the later ones, which a run refuses.
std::vector<std::string> BatchOutputCollisions(const std::vector<std::string>& sources,
                                               const BatchOutput& output);

// The checks a command's values must pass before it runs (the dialogs'
// limits, through the effect's validate()), on the values it would run
// with; nothing when it may run (a compressor ratio of 7 or more passes: the
// run skips it). The stereo-only check needs the file and is made by the
// run.
std::optional<InvalidValue> CheckBatchCommand(const BatchCommand& command, const SettingsStore& settings);

// Applies one command to the whole clip of document (selected whole before
// the command), as a task's work: kTaskDone, kTaskCancelled or kTaskFailed
// (with the message shown through the task). A compressor ratio of 7 or
// more is skipped (kTaskDone).
int32_t ApplyBatchCommand(ProgressTask& task, SoundDocument& document, const BatchCommand& command,
                          const SettingsStore& settings);

// Converts one file: load, every command, save to outputPath through a
// temporary file renamed after success (the source is never touched until
// then), tags carried over for ".mp3" and ".wav". Returns the task result;
// on failure message says why.
int32_t ConvertBatchFile(ProgressTask& task, const std::string& source, const std::string& outputPath,
                         const std::vector<BatchCommand>& commands, const SettingsStore& settings,
                         std::string& message);

// The whole run as one task through host: files in order; stops at the
// first failure unless keepGoing; calls report(index, source, output,
// result, message) after each file. Returns kTaskDone when every file
// succeeded, kTaskCancelled when the user cancelled, else kTaskFailed.
using BatchReport = std::function<void(size_t index, const std::string& source, const std::string& output,
                                       int32_t result, const std::string& message)>;
int32_t RunBatch(TaskHost& host, const std::vector<std::string>& sources,
                 const std::vector<BatchCommand>& commands, const BatchOutput& output,
                 const SettingsStore& settings, bool keepGoing, const BatchReport& report);

// The warning when the output format fixes rate and channels (".wav", ".vox",
// ".raw") and the list converts them; asked once.
extern const char* const kBatchConvertWarning;
bool BatchNeedsConvertWarning(const std::vector<BatchCommand>& commands, const BatchOutput& output);

}  // namespace sonitor
