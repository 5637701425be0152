#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"

namespace sonitor {

// Where a child's standard input comes from.
enum class ProcessInput {
    Null,  // /dev/null: a program that reads sees end of input at once
    Pipe,  // a pipe whose write end the parent holds (Process::InputFd)
};

// Where a child's standard output or error goes.
enum class ProcessOutput {
    Inherit,  // our own
    Null,     // /dev/null
    File,     // a file created (or truncated) at the given path
};

struct ProcessOptions {
    ProcessInput input = ProcessInput::Null;
    // The parent's write end is made non-blocking: a write to a full pipe
    // then waits only as long as WriteInput's timeout.
    bool nonBlockingInput = false;
    ProcessOutput output = ProcessOutput::Inherit;
    std::string outputPath;
    ProcessOutput error = ProcessOutput::Inherit;
    std::string errorPath;  // the same path as outputPath shares one file
    // Empty: our own current folder.
    std::string workingFolder;
};

enum class WaitResult { Ended, TimedOut, NotStarted };

// Results of Process::WaitWhile.
inline constexpr int kProcessEnded = 0;
inline constexpr int kProcessCancelled = 1;
inline constexpr int kProcessAbandoned = 2;  // budget exhausted or never started

// One external program, started from an argument vector with posix_spawn
// (posix_spawnp when the program holds no '/'); never through a shell.
//
// The child gets descriptors 0-2 only, default signal dispositions, an empty
// signal mask and a process group of its own, so that Terminate reaches the
// programs it starts in turn. The first Start ignores SIGPIPE for the whole
// process: a write to a pipe whose reader is gone then fails with EPIPE
// instead of killing us. Children get SIGPIPE back at its default.
//
// A Process that is still running when it is destroyed is terminated and
// reaped; nothing we start is left behind. Not for use from two threads at
// once.
class Process {
public:
    Process() = default;
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts argv[0] with the arguments argv. A failure to start (missing
    // program, not executable, an output file that cannot be created) gives
    // a Process with Started() false and StartError() the errno.
    static Process Start(const std::vector<std::string>& argv, const ProcessOptions& options = {});

    bool Started() const { return pid_ > 0; }
    int StartError() const { return startError_; }
    pid_t Pid() const { return pid_; }

    // The write end of the input pipe (close-on-exec), or -1.
    int InputFd() const { return input_.Get(); }
    // Writes everything to the input pipe; false with errno set on failure:
    // EPIPE when the child no longer reads, ETIMEDOUT when a non-blocking
    // pipe stayed full for timeoutMs (-1 waits for ever; a blocking pipe
    // always waits), EBADF when there is no pipe.
    bool WriteInput(const void* data, size_t size, int timeoutMs = -1);
    // Closes the input pipe: the child sees end of input.
    void CloseInput() { input_.Reset(); }

    // Waits up to timeoutMs (-1 for ever) for the child to end.
    WaitResult Wait(int timeoutMs);
    // Waits in steps of at most pollEveryMs within a total of budgetMs. After
    // every step in which the child still runs, cancelled() is asked (it may
    // also update a progress display); true terminates the child and gives
    // kProcessCancelled. An exhausted budget terminates it too and gives
    // kProcessAbandoned, as does a child that never started.
    int WaitWhile(int pollEveryMs, int budgetMs, const std::function<bool()>& cancelled);

    // True from a successful start until the child has been seen to end.
    bool Running() const { return pid_ > 0 && !ended_; }
    bool Ended() const { return ended_; }
    // The exit code of a child that exited; -1 otherwise.
    int ExitCode() const { return exitCode_; }
    // The signal that ended the child; 0 otherwise.
    int TermSignal() const { return termSignal_; }

    // SIGTERM to the child's process group, SIGKILL after graceMs if the
    // child still runs, then reaps it. Nothing happens once it has ended.
    void Terminate(int graceMs = 1000);

private:
    bool Reap(bool block);
    bool WaitFor(int timeoutMs);
    void Record(int status);
    void Release();

    pid_t pid_ = -1;
    int startError_ = 0;
    bool ended_ = false;
    int exitCode_ = -1;
    int termSignal_ = 0;
    UniqueFd input_;
    UniqueFd pidFd_;  // readable when the child ends; absent on old kernels
};

// The absolute path of an executable regular file called name in a PATH
// folder (a name with a '/' is checked as it is); empty when none is found.
std::string FindProgram(const std::string& name);

}  // namespace sonitor
