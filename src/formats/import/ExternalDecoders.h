#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sonitor {

class ProgressTask;
class SettingsStore;

// How an external program turns a file into a 16-bit WAV file.
enum class DecoderKind {
    Oggdec,  // oggdec -o OUT IN
    Flac,    // flac -d -f -o OUT IN
    Ffmpeg,  // ffmpeg -nostdin -v error -y -i file:IN -f wav -acodec pcm_s16le file:OUT
};

// One external decoder: the component whose stored "Path" may name the
// program, the program looked for on PATH otherwise, the Debian package that
// provides it, and the text shown while it runs.
struct ExternalDecoder {
    std::string component;  // "oggdec", "flacdec", "aacdec", ...
    std::string program;    // "oggdec", "flac", "ffmpeg"
    std::string package;    // "vorbis-tools", "flac", "ffmpeg"
    std::string title;      // progress line 0, e.g. "Decoding Ogg file"
    DecoderKind kind = DecoderKind::Ffmpeg;
};

// The stored "Path" of section "Components\<component>" (machine hive first,
// then user hive; a value that does not name an executable file is passed
// over), else program found on PATH. Empty when there is none.
std::string FindComponent(const ExternalDecoder& decoder, const SettingsStore& settings);

// "Sonitor cannot install the required install-on-demand component ..."
// naming the Debian package to install instead.
std::string MissingComponentMessage(const ExternalDecoder& decoder);

// The argument vector (program first) that decodes input into outputWav.
// Both paths must be absolute, so that no name can be taken for an option.
std::vector<std::string> DecoderArguments(const ExternalDecoder& decoder, const std::string& programPath,
                                          const std::string& input, const std::string& outputWav);

// Results of RunDecoder beyond the task results.
struct DecodeOutcome {
    int32_t result = 2;  // kTaskDone, kTaskCancelled or kTaskFailed
    bool started = false;
    int exitCode = -1;  // -1 when the program did not exit normally
};

// Runs argv with standard input from /dev/null and standard output and
// error into logPath (or /dev/null when empty), waiting at most an hour.
// While it runs the task (may be null) is pumped: a cancel ends the program
// and gives 1. Done (0) only when the program exited with status 0 and left
// a non-empty outputWav.
DecodeOutcome RunDecoder(ProgressTask* task, const std::vector<std::string>& argv,
                         const std::string& outputWav, const std::string& logPath = {});

// Overall limit on one decoder run.
inline constexpr int kDecoderBudgetMs = 3600000;

}  // namespace sonitor
