#include "formats/import/ExternalDecoders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "document/ProgressTask.h"
#include "foundation/FileUtil.h"
#include "foundation/ProcessRunner.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Steps of the wait; the bar creeps towards full while the program runs,
// since it tells us nothing about how far it has got.
constexpr int kPollMs = 100;
constexpr double kCreepStart = 0.97;
constexpr double kCreepFactor = 0.998;

}  // namespace

std::string FindComponent(const ExternalDecoder& decoder, const SettingsStore& settings) {
    const std::string section = "Components\\" + decoder.component;
    // An administrator's choice comes before the user's.
    for (const std::optional<std::string>& stored :
         {settings.ReadMachineValue(section, "Path"), settings.ReadUserValue(section, "Path")}) {
        if (stored && IsExecutableFile(*stored)) return *stored;
    }
    return FindProgram(decoder.program);
}

std::string MissingComponentMessage(const ExternalDecoder& decoder) {
    return Format(
        "Sonitor cannot install the required install-on-demand component \"%s\".\n\n"
        "Please install the Debian package \"%s\" (it provides the program \"%s\") and try again.",
        decoder.component.c_str(), decoder.package.c_str(), decoder.program.c_str());
}

std::vector<std::string> DecoderArguments(const ExternalDecoder& decoder, const std::string& programPath,
                                          const std::string& input, const std::string& outputWav) {
    switch (decoder.kind) {
        case DecoderKind::Oggdec:
            return {programPath, "-Q", "-o", outputWav, input};
        case DecoderKind::Flac:
            return {programPath, "-d", "-f", "-s", "-o", outputWav, input};
        case DecoderKind::Ffmpeg:
            break;
    }
    // The "file:" prefix keeps a ':' in a name from being read as a protocol.
    return {programPath,     "-nostdin", "-v",  "error",   "-y",        "-i",
            "file:" + input, "-f",       "wav", "-acodec", "pcm_s16le", "file:" + outputWav};
}

DecodeOutcome RunDecoder(ProgressTask* task, const std::vector<std::string>& argv,
                         const std::string& outputWav, const std::string& logPath) {
    DecodeOutcome outcome;
    ProcessOptions options;
    options.input = ProcessInput::Null;
    options.output = logPath.empty() ? ProcessOutput::Null : ProcessOutput::File;
    options.outputPath = logPath;
    options.error = options.output;
    options.errorPath = logPath;
    Process process = Process::Start(argv, options);
    if (!process.Started()) return outcome;
    outcome.started = true;

    double remaining = kCreepStart;
    const int waited = process.WaitWhile(kPollMs, kDecoderBudgetMs, [&] {
        if (task == nullptr) return false;
        if (PumpTaskMessages(*task)) return true;
        SetProgressFraction(*task, 1.0 - remaining);
        remaining *= kCreepFactor;
        return false;
    });
    if (waited == kProcessCancelled) {
        outcome.result = 1;
        return outcome;
    }
    if (waited != kProcessEnded) return outcome;
    outcome.exitCode = process.ExitCode();
    // Judge by both: a program may fail after writing part of its output,
    // or exit 0 having written nothing.
    const std::optional<int64_t> size = FileSize(outputWav);
    if (outcome.exitCode == 0 && size && *size > 0) outcome.result = 0;
    return outcome;
}

}  // namespace sonitor
