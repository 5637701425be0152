#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonitor {
class SettingsStore;
class SoundDocument;
class TaskHost;
}  // namespace sonitor

namespace sonitor::cli {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

// The exit status for a task's result: 0 done, 130 cancelled, else 1.
int ExitForTaskResult(int32_t result);
// A copy of the user's settings in this process's private working folder,
// file name `name`, for a command that sets values for itself (a play speed,
// no automatic playback) without changing what the user keeps.
SettingsStore PrivateSettingsCopy(const char* name);
// Opens in into document through the load task under tasks; when it fails
// without having said why, "sonitor-cli COMMAND: cannot read ..." goes to
// stderr. Returns the task result.
int32_t LoadDocument(const char* command, const std::string& in, SoundDocument& document, TaskHost& tasks);
// "START:END" in whole milliseconds, 0 <= START < END.
bool ParseMillisecondRange(const std::string& text, int64_t& start, int64_t& end);

// `sonitor-cli demo [--seconds N] [--rate HZ]`: loads generated tones into
// a document through the copy loop, edits it, undoes and redoes, and prints
// the segment list and working files.
int RunDemo(const std::vector<std::string>& args);

// `sonitor-cli info [--json] FILE...`: format, rate, channels, length and
// tags of each file, read through the import path. 1 when any file could
// not be read (its message on stderr).
int RunInfo(const std::vector<std::string>& args);

// `sonitor-cli convert [--rate HZ] [--channels 1|2] IN OUT`: any readable
// format to any writable one by extension, streamed through the copy loop;
// tags carried over where both formats hold them.
int RunConvert(const std::vector<std::string>& args);

// `sonitor-cli edit IN OUT [COMMAND [ARG...]]...`: opens IN, runs Edit menu
// commands on it, saves the result to OUT and the documents the commands
// made beside it. 1 when a command or a save failed.
int RunEdit(const std::vector<std::string>& args);

// `sonitor-cli apply EFFECT [KEY=VALUE...] [--preset NAME] [--selection
// START:END] IN OUT` and `apply --list`: one effect of the catalogue on IN
// (or the part from START to END milliseconds), saved to OUT. Values not
// given are the stored ones or the defaults; given ones are not stored.
// Refused values print their message and give 1; bad usage gives 2.
int RunApply(const std::vector<std::string>& args);

// `sonitor-cli spectrogram IN OUT.png [--selection START:END] [--brightness
// N] [--grid]`: the temporal frequency analysis of IN (or of the part from
// START to END milliseconds) as a palette PNG, low frequencies at the
// bottom. 1 when IN cannot be read or OUT written.
int RunSpectrogram(const std::vector<std::string>& args);

// `sonitor-cli play FILE [--from MS] [--to MS] [--loop] [--speed
// slow|normal|fast] [--device N]`: plays the file (or the range) through
// the editor's transport with a meter on stderr. Ctrl-C stops (130).
int RunPlay(const std::vector<std::string>& args);

// `sonitor-cli record OUT [--seconds N] [--autostart] [--threshold DB]
// [--device N]`: records a take until N seconds are written or Ctrl-C, and
// saves it to OUT. 1 when the device does not open or nothing was recorded.
int RunRecord(const std::vector<std::string>& args);

// `sonitor-cli devices`: the output and input devices with the numbers the
// settings and --device use, and each input's capture lines.
int RunDevices(const std::vector<std::string>& args);

// `sonitor-cli batch -s SCRIPT.snb (--same-format | --format EXT)
// (--same-folder | -o DIR) [--keep-going] [--overwrite] [--jobs N] FILE...`:
// the batch converter over FILEs, several at once in child processes; also
// --write-script, --show-script and --list-commands. 0 when every file was
// converted, 1 when some failed, 2 when nothing was tried (arguments,
// script, collisions, existing outputs), 130 after Ctrl-C.
int RunBatchCommand(const std::vector<std::string>& args);

}  // namespace sonitor::cli
