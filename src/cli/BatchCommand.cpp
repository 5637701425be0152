// `sonitor-cli batch`: the batch converter without its wizard. One script of
// commands over many files, converted in order in this process or several
// at once in child processes (each with its own working folder), and a way
// to write scripts from the command line.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch/BatchRun.h"
#include "batch/BatchScript.h"
#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ProgressTask.h"
#include "edit/EditSettings.h"
#include "effects/EffectCatalogue.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/ProcessRunner.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"

namespace sonitor::cli {
namespace {

const char kBatchUsage[] =
    "usage: sonitor-cli batch -s SCRIPT.snb (--same-format | --format EXT) (--same-folder | -o DIR)\n"
    "                         [--keep-going] [--overwrite] [--jobs N] FILE...\n"
    "       sonitor-cli batch --write-script OUT.snb [COMMAND[:VALUE,...]]...\n"
    "       sonitor-cli batch --show-script SCRIPT.snb\n"
    "       sonitor-cli batch --list-commands\n"
    "\n"
    "Applies the commands of SCRIPT to every FILE in order and saves each\n"
    "result as the file's name with the same extension or EXT, in the file's\n"
    "own folder or in DIR (created when missing). Outputs are written to a\n"
    "temporary file and renamed over the target only after success.\n"
    "\n"
    "  --keep-going    convert the other files after one fails (default: stop)\n"
    "  --overwrite     allow replacing existing files, the sources among them\n"
    "  --jobs N        convert N files at once (default: the number of cores)\n"
    "\n"
    "Exit status: 0 every file converted, 1 some failed, 2 nothing was\n"
    "converted because of the arguments, the script, an unknown format,\n"
    "missing sources, two sources with one output, or outputs that exist\n"
    "without --overwrite; 130 after Ctrl-C (no partial outputs are left).\n";

int UsageError(const std::string& text) {
    std::fprintf(stderr, "sonitor-cli batch: %s\n%s", text.c_str(), kBatchUsage);
    return kExitUsage;
}

int Refuse(const std::string& text) {
    std::fprintf(stderr, "sonitor-cli batch: %s\n", text.c_str());
    return kExitUsage;
}

// ---------------------------------------------------------------------------
// Commands as typed: "echo:400,40" is Echo with the time and gain of its
// parameter block, in the block's order.

struct CommandSyntax {
    BatchCommandId id;
    const char* name;         // on the command line
    const char* values = "";  // what its values are, for messages and --list-commands
};

// The block layouts, the stored keys and the checks are the engine's; this
// table only names the commands for typing.
const std::vector<CommandSyntax>& Syntaxes() {
    using I = BatchCommandId;
    static const std::vector<CommandSyntax> table = {
        {I::AutoTrim, "auto-trim"},
        {I::InsertSilenceStart, "insert-silence-start", "MS"},
        {I::InsertSilenceEnd, "insert-silence-end", "MS"},
        {I::Amplify, "amplify", "GAIN%"},
        {I::Normalize, "normalize", "PEAK%"},
        {I::HighPassFilter, "high-pass-filter", "HZ"},
        {I::Equalizer, "equalizer", "@RECORD"},
        {I::Echo, "echo", "MS,GAIN%"},
        {I::Reverb, "reverb", "MS,LEVEL%"},
        {I::Envelope, "envelope", "@RECORD"},
        {I::AutomaticGainControl, "automatic-gain-control"},
        {I::NoiseReductionAuto, "noise-reduction-auto", "THRESHOLD"},
        {I::NoiseGate, "noise-gate", "DB"},
        {I::SpeedAndPitch, "speed-and-pitch", "PERCENT"},
        {I::Speed, "speed", "PERCENT"},
        {I::Pitch, "pitch", "PERCENT"},
        {I::Compressor, "compressor", "THRESHOLD_DB,RATIO,LIMIT_DB"},
        {I::ConvertSampleRate, "convert-sample-rate", "HZ"},
        {I::ConvertChannels, "convert-channels", "1|2"},
        {I::StereoPan, "stereo-pan", "PAN%"},
        {I::ReduceVocals, "reduce-vocals"},
    };
    return table;
}

const CommandSyntax* SyntaxById(uint32_t id) {
    for (const CommandSyntax& s : Syntaxes())
        if (static_cast<uint32_t>(s.id) == id) return &s;
    return nullptr;
}

const CommandSyntax* SyntaxByName(const std::string& name) {
    for (const CommandSyntax& s : Syntaxes())
        if (EqualsIgnoreCase(s.name, name)) return &s;
    return nullptr;
}

// The range of values a block field holds.
void FieldLimits(const BatchField& field, long long& low, long long& high) {
    const int bits = 8 * field.bytes;
    if (field.isSigned) {
        high = (1LL << (bits - 1)) - 1;
        low = -high - 1;
    } else {
        low = 0;
        high = (1LL << bits) - 1;
    }
}

// The checks of the command's dialog on the values it would run with; the
// message to show, or nothing.
std::optional<std::string> CheckCommand(const BatchCommand& command) {
    const std::optional<InvalidValue> invalid = CheckBatchCommand(command, Settings());
    if (!invalid) return std::nullopt;
    return invalid->title + ": " + invalid->text;
}

// "noise-gate:-30" to a command; on failure message says why.
std::optional<BatchCommand> ParseCommand(const std::string& text, std::string& message) {
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const CommandSyntax* syntax = SyntaxByName(name);
    if (!syntax) {
        message = "unknown command '" + name + "' ('sonitor-cli batch --list-commands' lists them)";
        return std::nullopt;
    }
    BatchCommand command;
    command.id = static_cast<uint32_t>(syntax->id);
    if (colon == std::string::npos) return command;  // the stored values when the script runs
    const std::string rest = text.substr(colon + 1);

    if (BatchCommandTakesRecord(command.id)) {
        const std::optional<std::string> bytes =
            rest.size() > 1 && rest[0] == '@' ? ReadWholeFile(rest.substr(1)) : std::nullopt;
        if (!bytes || bytes->size() != kBatchRecordBytes) {
            message = "'" + name + "' takes @FILE, a settings record of " +
                      std::to_string(kBatchRecordBytes) + " bytes";
            return std::nullopt;
        }
        command.block.assign(bytes->begin(), bytes->end());
        return command;
    }
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t comma = rest.find(',', start);
        parts.push_back(rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    const std::vector<BatchField> fields = BatchCommandFields(command.id);
    if (parts.size() != fields.size()) {
        message = fields.empty() ? "'" + name + "' takes no values"
                                 : "'" + name + "' takes " + syntax->values + " (all of them, or none)";
        return std::nullopt;
    }
    std::vector<int32_t> values;
    for (size_t i = 0; i < parts.size(); ++i) {
        long long low = 0;
        long long high = 0;
        FieldLimits(fields[i], low, high);
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(parts[i].c_str(), &end, 10);
        if (parts[i].empty() || *end != '\0' || errno != 0 || value < low || value > high) {
            message = "'" + parts[i] + "' is not a whole number from " + std::to_string(low) + " to " +
                      std::to_string(high) + " for '" + name + "'";
            return std::nullopt;
        }
        values.push_back(static_cast<int32_t>(value));
    }
    command.block = EncodeBatchBlock(command.id, values);
    if (syntax->id == BatchCommandId::Compressor && command.block[1] >= 7) {
        message = "the compressor ratio is 0 (1:1) to 6 (Limit)";
        return std::nullopt;
    }
    if (std::optional<std::string> refused = CheckCommand(command)) {
        message = *refused;
        return std::nullopt;
    }
    return command;
}

// The inverse of ParseCommand where the block is complete: what to type to
// get this command back.
std::string CommandText(const BatchCommand& command) {
    const CommandSyntax* syntax = SyntaxById(command.id);
    if (!syntax) return "#" + std::to_string(command.id);
    std::string text = syntax->name;
    if (BatchCommandTakesRecord(command.id))
        return command.block.size() >= kBatchRecordBytes ? text + ":@RECORD" : text;
    size_t layout = 0;
    for (const BatchField& field : BatchCommandFields(command.id))
        layout += field.bytes;
    // A block short of its layout runs with the stored values: no values to show.
    if (layout == 0 || command.block.size() < layout) return text;
    std::string values;
    for (const int32_t value : BatchCommandValues(command, Settings()))
        values += (values.empty() ? "" : ",") + std::to_string(value);
    return text + ":" + values;
}

// ---------------------------------------------------------------------------

void PrintCommandList() {
    for (const CommandSyntax& s : Syntaxes()) {
        std::string usage = s.name;
        if (*s.values) usage += std::string("[:") + s.values + "]";
        const std::string now =
            BatchCommandDescription(BatchCommand{static_cast<uint32_t>(s.id), {}}, Settings());
        std::printf("%-2u %-44s %s\n", static_cast<unsigned>(s.id), usage.c_str(),
                    BatchCommandName(static_cast<uint32_t>(s.id)).c_str());
        if (!now.empty() && !BatchCommandTakesRecord(static_cast<uint32_t>(s.id)))
            std::printf("   %-44s without values: %s\n", "", now.c_str());
    }
}

std::optional<std::vector<BatchCommand>> LoadScript(const std::string& path) {
    ScriptReadResult read = ReadBatchScript(path);
    const char* problem = read.error == ScriptReadError::CannotOpen     ? kScriptOpenMessage
                          : read.error == ScriptReadError::WrongVersion ? kScriptVersionMessage
                          : read.error == ScriptReadError::Damaged      ? kScriptDamagedMessage
                                                                        : nullptr;
    if (problem) {
        std::fprintf(stderr, "sonitor-cli batch: %s: File Error: %s\n", path.c_str(), problem);
        return std::nullopt;
    }
    return std::move(read.commands);
}

int ShowScript(const std::string& path) {
    const std::optional<std::vector<BatchCommand>> commands = LoadScript(path);
    if (!commands) return kExitUsage;
    if (commands->empty()) std::printf("(no commands: a plain conversion)\n");
    for (const BatchCommand& command : *commands) {
        const std::string description = BatchCommandDescription(command, Settings());
        std::printf("%-36s %s%s%s\n", CommandText(command).c_str(), BatchCommandName(command.id).c_str(),
                    description.empty() ? "" : ": ", description.c_str());
    }
    return kExitOk;
}

int WriteScript(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("--write-script needs the script's path");
    std::vector<BatchCommand> commands;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string message;
        std::optional<BatchCommand> command = ParseCommand(args[i], message);
        if (!command) return Refuse(message);
        commands.push_back(std::move(*command));
    }
    if (!WriteBatchScript(args[0], commands)) {
        std::fprintf(stderr, "sonitor-cli batch: %s: File Error: %s\n", args[0].c_str(), kScriptOpenMessage);
        return kExitFailed;
    }
    return kExitOk;
}

// ---------------------------------------------------------------------------
// The run.

struct FileJob {
    std::string shown;   // the source as typed
    std::string source;  // its absolute path
    std::string output;  // absolute
    std::string shownOutput;
};

std::string AbsolutePath(const std::string& path) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        std::string text = resolved;
        std::free(resolved);
        return text;
    }
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    return ::getcwd(cwd, sizeof cwd) ? JoinPath(cwd, path) : path;
}

struct Tally {
    size_t total = 0;
    size_t done = 0;
    size_t failed = 0;
    size_t cancelled = 0;

    void Report(const FileJob& job, size_t index, int32_t result, const std::string& message) {
        // Progress bars of the task host share the line; start a fresh one.
        if (isatty(STDERR_FILENO) == 1) std::fputs("\r\033[K", stderr);
        if (result == kTaskDone) {
            ++done;
            std::fprintf(stderr, "[%zu/%zu] %s -> %s\n", index + 1, total, job.shown.c_str(),
                         job.shownOutput.c_str());
        } else if (result == kTaskCancelled) {
            ++cancelled;
            std::fprintf(stderr, "[%zu/%zu] %s: cancelled\n", index + 1, total, job.shown.c_str());
        } else {
            ++failed;
            std::fprintf(stderr, "[%zu/%zu] %s: failed%s%s\n", index + 1, total, job.shown.c_str(),
                         message.empty() ? "" : ": ", message.c_str());
        }
        std::fflush(stderr);
    }

    int Finish(bool interrupted) const {
        const size_t untouched = total - done - failed - cancelled;
        std::fprintf(stderr, "%zu of %zu files converted", done, total);
        if (failed) std::fprintf(stderr, ", %zu failed", failed);
        if (cancelled) std::fprintf(stderr, ", %zu cancelled", cancelled);
        if (untouched) std::fprintf(stderr, ", %zu not started", untouched);
        std::fprintf(stderr, "\n");
        if (interrupted) return kExitCancelled;
        return done == total ? kExitOk : kExitFailed;
    }
};

int RunInProcess(const std::vector<FileJob>& jobs, const std::vector<BatchCommand>& commands,
                 const BatchOutput& output, bool keepGoing) {
    std::vector<std::string> sources;
    for (const FileJob& job : jobs)
        sources.push_back(job.source);
    Tally tally;
    tally.total = jobs.size();
    TerminalTaskHost host;
    const int32_t result = RunBatch(host, sources, commands, output, Settings(), keepGoing,
                                    [&](size_t index, const std::string&, const std::string&,
                                        int32_t fileResult, const std::string& message) {
                                        if (index < jobs.size())
                                            tally.Report(jobs[index], index, fileResult, message);
                                    });
    return tally.Finish(result == kTaskCancelled);
}

volatile sig_atomic_t gStopRequested = 0;

void OnStopSignal(int) {
    gStopRequested = 1;
}

// Catches Ctrl-C, SIGTERM and SIGHUP while children run, so that they can be
// cancelled (and clean up) before we end; the old handlers come back after.
class StopSignals {
public:
    StopSignals() {
        struct sigaction ours;
        std::memset(&ours, 0, sizeof ours);
        ours.sa_handler = OnStopSignal;
        sigemptyset(&ours.sa_mask);
        for (size_t i = 0; i < kCount; ++i)
            sigaction(kSignals[i], &ours, &previous_[i]);
    }
    ~StopSignals() {
        for (size_t i = 0; i < kCount; ++i)
            sigaction(kSignals[i], &previous_[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    static constexpr size_t kCount = 3;
    static constexpr int kSignals[kCount] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous_[kCount];
};

struct Child {
    size_t index = 0;
    Process process;
    std::string messagePath;
    bool cancelSent = false;
};

std::string OwnExecutable() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    return path;
}

// A child cancels its conversion on SIGINT as it would on Ctrl-C, removing
// its temporary output; only one that does not end in time is terminated.
void CancelChild(Child& child) {
    if (child.cancelSent || !child.process.Running()) return;
    ::kill(child.process.Pid(), SIGINT);
    child.cancelSent = true;
}

int RunInChildren(const std::vector<FileJob>& jobs, const std::vector<BatchCommand>& commands, bool keepGoing,
                  size_t jobCount) {
    const std::string program = OwnExecutable();
    const std::string script = JoinPath(WorkingFolder(), "batch-run.snb");
    if (program.empty() || !WriteBatchScript(script, commands))
        return Refuse("cannot prepare the child processes");

    Tally tally;
    tally.total = jobs.size();
    StopSignals signals;
    gStopRequested = 0;
    std::list<Child> running;
    size_t next = 0;
    std::optional<size_t> firstFailure;  // without --keep-going nothing after it starts
    std::chrono::steady_clock::time_point cancelledAt{};

    while (next < jobs.size() || !running.empty()) {
        const bool stopping = gStopRequested != 0;
        while (!stopping && !firstFailure && running.size() < jobCount && next < jobs.size()) {
            Child child;
            child.index = next++;
            child.messagePath = JoinPath(WorkingFolder(), "batch-" + std::to_string(child.index) + ".txt");
            ProcessOptions options;
            options.output = ProcessOutput::File;
            options.outputPath = child.messagePath;
            options.error = ProcessOutput::Null;
            const FileJob& job = jobs[child.index];
            child.process =
                Process::Start({program, "batch", "--convert-one", script, job.source, job.output}, options);
            if (!child.process.Started()) {
                tally.Report(job, child.index, kTaskFailed,
                             std::string("cannot start a child process: ") +
                                 std::strerror(child.process.StartError()));
                if (!keepGoing) firstFailure = child.index;
                continue;
            }
            running.push_back(std::move(child));
        }
        if (stopping) {
            if (cancelledAt == std::chrono::steady_clock::time_point{})
                cancelledAt = std::chrono::steady_clock::now();
            for (Child& child : running)
                CancelChild(child);
            // A child stuck outside its cancellable work is ended the hard way.
            if (std::chrono::steady_clock::now() - cancelledAt > std::chrono::seconds(20))
                for (Child& child : running)
                    child.process.Terminate(1000);
            next = jobs.size();
        }

        bool anyEnded = false;
        for (auto it = running.begin(); it != running.end();) {
            if (it->process.Wait(0) != WaitResult::Ended) {
                ++it;
                continue;
            }
            anyEnded = true;
            const int code = it->process.ExitCode();
            const int32_t result = code == kExitOk                            ? kTaskDone
                                   : code == kExitCancelled || it->cancelSent ? kTaskCancelled
                                                                              : kTaskFailed;
            std::string message = ReadWholeFile(it->messagePath).value_or("");
            while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
                message.pop_back();
            if (message.empty() && it->process.TermSignal() != 0)
                message = "ended by signal " + std::to_string(it->process.TermSignal());
            ::unlink(it->messagePath.c_str());
            tally.Report(jobs[it->index], it->index, result, message);
            if (result == kTaskFailed && !keepGoing && (!firstFailure || it->index < *firstFailure)) {
                firstFailure = it->index;
                // Files after the failing one would not have been started
                // one by one; those still running stop. Earlier ones finish.
                for (Child& other : running)
                    if (other.index > it->index) CancelChild(other);
            }
            it = running.erase(it);
        }
        if (firstFailure && !stopping) next = jobs.size();
        if (!anyEnded) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::unlink(script.c_str());
    return tally.Finish(gStopRequested != 0);
}

// The hidden per-file step of a parallel run: one conversion in this
// process's own working folder, the message (if any) on stdout.
int ConvertOne(const std::vector<std::string>& args) {
    if (args.size() != 3) return kExitUsage;
    const ScriptReadResult script = ReadBatchScript(args[0]);
    if (script.error != ScriptReadError::None) {
        std::printf("%s\n", kScriptDamagedMessage);
        return kExitFailed;
    }
    TerminalTaskHost host;
    std::string message;
    FunctionTask task("Converting " + FileNamePart(args[1]), [&](ProgressTask& t) {
        return ConvertBatchFile(t, args[1], args[2], script.commands, Settings(), message);
    });
    const int32_t result = RunTask(task, host);
    if (result != kTaskDone && !message.empty()) std::printf("%s\n", message.c_str());
    return ExitForTaskResult(result);
}

size_t DefaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

}  // namespace

int RunBatchCommand(const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kBatchUsage, stdout);
        return kExitOk;
    }
    if (!args.empty() && args[0] == "--convert-one") return ConvertOne({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "--write-script") return WriteScript({args.begin() + 1, args.end()});
    if (args.size() == 1 && args[0] == "--list-commands") {
        PrintCommandList();
        return kExitOk;
    }
    if (args.size() == 2 && args[0] == "--show-script") return ShowScript(args[1]);

    std::string scriptPath;
    std::optional<bool> sameFormat;
    std::string format;
    std::optional<bool> sameFolder;
    std::string folder;
    bool keepGoing = false;
    bool overwrite = false;
    size_t jobCount = DefaultJobs();
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((arg == "-s" || arg == "--script") && hasValue) {
            scriptPath = args[++i];
        } else if (arg == "--same-format") {
            if (sameFormat && !*sameFormat)
                return UsageError("--same-format and --format exclude each other");
            sameFormat = true;
        } else if (arg == "--format" && hasValue) {
            if (sameFormat && *sameFormat) return UsageError("--same-format and --format exclude each other");
            sameFormat = false;
            format = args[++i];
        } else if (arg == "--same-folder") {
            if (sameFolder && !*sameFolder) return UsageError("--same-folder and -o exclude each other");
            sameFolder = true;
        } else if ((arg == "-o" || arg == "--output-folder") && hasValue) {
            if (sameFolder && *sameFolder) return UsageError("--same-folder and -o exclude each other");
            sameFolder = false;
            folder = args[++i];
        } else if (arg == "--keep-going") {
            keepGoing = true;
        } else if (arg == "--overwrite") {
            overwrite = true;
        } else if ((arg == "--jobs" || arg == "-j") && hasValue) {
            char* end = nullptr;
            const long n = std::strtol(args[++i].c_str(), &end, 10);
            if (args[i].empty() || *end != '\0' || n < 1 || n > 64)
                return UsageError("--jobs takes a number from 1 to 64");
            jobCount = static_cast<size_t>(n);
        } else if (arg == "--") {
            files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option or missing value '" + arg + "'");
        } else {
            files.push_back(arg);
        }
    }
    if (scriptPath.empty()) return UsageError("a script is needed (-s SCRIPT.snb)");
    if (!sameFormat) return UsageError("choose --same-format or --format EXT");
    if (!sameFolder) return UsageError("choose --same-folder or -o DIR");
    if (files.empty()) return UsageError("no files to convert");

    BatchOutput output;
    output.sameFormat = *sameFormat;
    output.sameFolder = *sameFolder;
    if (!output.sameFormat) {
        std::string extension = ToLowerAscii(format);
        if (!extension.empty() && extension[0] != '.') extension.insert(0, ".");
        const std::vector<std::string>& formats = BatchOutputFormats();
        const auto found = std::find(formats.begin(), formats.end(), extension);
        if (extension.empty() || found == formats.end()) {
            std::string known;
            for (const std::string& f : formats)
                if (!f.empty()) known += (known.empty() ? "" : " ") + f.substr(1);
            return Refuse("unknown output format '" + format + "' (known: " + known + ")");
        }
        output.formatIndex = static_cast<int32_t>(found - formats.begin());
    }
    if (!output.sameFolder) {
        output.folder = folder;
        if (folder.empty()) return Refuse("Invalid output folder. Please select a folder to save to.");
        if (FileExists(folder) && !IsFolder(folder)) return Refuse("\"" + folder + "\" is not a folder");
    }

    const std::optional<std::vector<BatchCommand>> commands = LoadScript(scriptPath);
    if (!commands) return kExitUsage;
    // Every file would fail on the same value; say so before touching any.
    for (size_t i = 0; i < commands->size(); ++i) {
        const BatchCommand& command = (*commands)[i];
        if (SyntaxById(command.id) == nullptr)
            return Refuse(scriptPath + ": command " + std::to_string(i + 1) + " has the unknown id " +
                          std::to_string(command.id));
        if (std::optional<std::string> refused = CheckCommand(command))
            return Refuse(scriptPath + ": command " + std::to_string(i + 1) + " (" +
                          BatchCommandName(command.id) + "): " + *refused);
    }

    BatchOutput absolute = output;
    if (!output.sameFolder) absolute.folder = AbsolutePath(folder);
    std::vector<FileJob> jobs;
    std::vector<std::string> sources;
    for (const std::string& file : files) {
        if (!FileExists(file) || IsFolder(file)) return Refuse("\"" + file + "\" is not a file");
        FileJob job;
        job.shown = file;
        job.source = AbsolutePath(file);
        const std::optional<std::string> target = BatchOutputPath(job.source, absolute);
        const std::optional<std::string> shownTarget = BatchOutputPath(file, output);
        if (!target || !shownTarget) return Refuse("no output path for \"" + file + "\"");
        job.output = *target;
        job.shownOutput = *shownTarget;
        sources.push_back(job.source);
        jobs.push_back(std::move(job));
    }

    // Refused as a whole: converting the rest would leave the user to sort
    // out which output came from which source.
    const std::vector<std::string> collisions = BatchOutputCollisions(sources, absolute);
    if (!collisions.empty()) {
        for (const std::string& source : collisions)
            for (const FileJob& job : jobs)
                if (job.source == source) {
                    std::fprintf(stderr,
                                 "sonitor-cli batch: \"%s\" would be written to \"%s\", as an earlier file\n",
                                 job.shown.c_str(), job.shownOutput.c_str());
                    break;
                }
        return Refuse("two or more files have the same output; nothing was converted");
    }
    if (!overwrite) {
        bool exists = false;
        for (const FileJob& job : jobs)
            if (FileExists(job.output)) {
                std::fprintf(stderr, "sonitor-cli batch: \"%s\" exists%s\n", job.shownOutput.c_str(),
                             job.output == job.source ? " (it is the source)" : "");
                exists = true;
            }
        if (exists) return Refuse("outputs exist; give --overwrite to replace them; nothing was converted");
    }

    if (BatchNeedsConvertWarning(*commands, output)) {
        // The wizard asks; here the first paragraph is a note.
        std::string note = kBatchConvertWarning;
        note = note.substr(0, note.find("\r\n\r\n"));
        std::fprintf(stderr, "Warning: %s\n", note.c_str());
    }
    if (!output.sameFolder && !IsFolder(absolute.folder) && !MakeFolders(absolute.folder))
        return Refuse("Unable to create folder. (\"" + folder + "\")");

    jobCount = std::min(jobCount, jobs.size());
    if (jobCount <= 1) return RunInProcess(jobs, *commands, absolute, keepGoing);
    return RunInChildren(jobs, *commands, keepGoing, jobCount);
}

}  // namespace sonitor::cli
