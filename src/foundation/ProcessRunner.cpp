#include "foundation/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace sonitor {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

Clock::time_point DeadlineAfter(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

// Keeps our own descriptors off 0-2, so that a dup2 onto a standard
// descriptor never meets itself (which would leave close-on-exec set).
bool MoveAboveStandard(UniqueFd& fd) {
    if (fd.Get() > 2) return true;
    const int moved = fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    fd.Reset(moved);
    return true;
}

UniqueFd OpenOutputFile(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd && !MoveAboveStandard(fd)) fd.Reset();
    return fd;
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string CurrentFolder() {
    std::string buffer(PATH_MAX, '\0');
    if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
    buffer.resize(buffer.find('\0'));
    return buffer;
}

std::string MakeAbsolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    const std::string here = CurrentFolder();
    if (here.empty()) return {};
    return here == "/" ? "/" + path : here + "/" + path;
}

}  // namespace

Process::~Process() {
    Release();
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      startError_(other.startError_),
      ended_(other.ended_),
      exitCode_(other.exitCode_),
      termSignal_(other.termSignal_),
      input_(std::move(other.input_)),
      pidFd_(std::move(other.pidFd_)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Release();
        pid_ = std::exchange(other.pid_, -1);
        startError_ = other.startError_;
        ended_ = other.ended_;
        exitCode_ = other.exitCode_;
        termSignal_ = other.termSignal_;
        input_ = std::move(other.input_);
        pidFd_ = std::move(other.pidFd_);
    }
    return *this;
}

void Process::Release() {
    input_.Reset();
    if (Running()) Terminate();
    pidFd_.Reset();
    pid_ = -1;
}

Process Process::Start(const std::vector<std::string>& argv, const ProcessOptions& options) {
    // Once for the whole process: a reader that goes away must show up as
    // EPIPE on our write, not as a signal that ends us.
    static std::once_flag ignorePipeSignal;
    std::call_once(ignorePipeSignal, [] { signal(SIGPIPE, SIG_IGN); });

    Process p;
    if (argv.empty() || argv[0].empty()) {
        p.startError_ = EINVAL;
        return p;
    }
    SpawnSetup setup;
    posix_spawn_file_actions_t* fa = &setup.actions;
    UniqueFd pipeRead, pipeWrite, outFd, errFd;

    if (options.input == ProcessInput::Pipe) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            p.startError_ = errno;
            return p;
        }
        pipeRead.Reset(fds[0]);
        pipeWrite.Reset(fds[1]);
        if (!MoveAboveStandard(pipeRead) || !MoveAboveStandard(pipeWrite)) {
            p.startError_ = errno;
            return p;
        }
        // The size the encoders are fed in; a failure keeps the default.
        (void)fcntl(pipeWrite.Get(), F_SETPIPE_SZ, 65536);
        if (options.nonBlockingInput) {
            const int flags = fcntl(pipeWrite.Get(), F_GETFL);
            (void)fcntl(pipeWrite.Get(), F_SETFL, flags | O_NONBLOCK);
        }
        posix_spawn_file_actions_adddup2(fa, pipeRead.Get(), 0);
    } else {
        posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0);
    }

    if (options.output == ProcessOutput::File) {
        outFd = OpenOutputFile(options.outputPath);
        if (!outFd) {
            p.startError_ = errno;
            return p;
        }
        posix_spawn_file_actions_adddup2(fa, outFd.Get(), 1);
    } else if (options.output == ProcessOutput::Null) {
        posix_spawn_file_actions_addopen(fa, 1, "/dev/null", O_WRONLY, 0);
    }

    if (options.error == ProcessOutput::File) {
        if (options.output == ProcessOutput::File && options.errorPath == options.outputPath) {
            posix_spawn_file_actions_adddup2(fa, outFd.Get(), 2);
        } else {
            errFd = OpenOutputFile(options.errorPath);
            if (!errFd) {
                p.startError_ = errno;
                return p;
            }
            posix_spawn_file_actions_adddup2(fa, errFd.Get(), 2);
        }
    } else if (options.error == ProcessOutput::Null) {
        posix_spawn_file_actions_addopen(fa, 2, "/dev/null", O_WRONLY, 0);
    }

    std::string program = argv[0];
    const bool hasSlash = program.find('/') != std::string::npos;
    if (!options.workingFolder.empty()) {
        // The child changes folder before exec, so a relative program path
        // is fixed to our folder first.
        if (hasSlash) program = MakeAbsolute(program);
        posix_spawn_file_actions_addchdir_np(fa, options.workingFolder.c_str());
    }
    // Whatever someone opened without close-on-exec stays with us.
    posix_spawn_file_actions_addclosefrom_np(fa, 3);

    posix_spawnattr_t* attr = &setup.attributes;
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(attr, &all);
    posix_spawnattr_setsigmask(attr, &none);
    posix_spawnattr_setpgroup(attr, 0);
    posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = -1;
    const int rc = hasSlash ? posix_spawn(&pid, program.c_str(), fa, attr, args.data(), environ)
                            : posix_spawnp(&pid, program.c_str(), fa, attr, args.data(), environ);
    if (rc != 0) {
        p.startError_ = rc;
        return p;
    }
    p.pid_ = pid;
    p.input_ = std::move(pipeWrite);
#ifdef SYS_pidfd_open
    p.pidFd_.Reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
#endif
    return p;
}

bool Process::WriteInput(const void* data, size_t size, int timeoutMs) {
    if (!input_) {
        errno = EBADF;
        return false;
    }
    const auto deadline = DeadlineAfter(std::max(timeoutMs, 0));
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(input_.Get(), bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int wait = timeoutMs < 0 ? -1 : MsLeft(deadline);
            if (timeoutMs >= 0 && wait == 0) {
                errno = ETIMEDOUT;
                return false;
            }
            pollfd pfd{input_.Get(), POLLOUT, 0};
            // POLLERR (reader gone) lets the next write report EPIPE.
            if (poll(&pfd, 1, wait) < 0 && errno != EINTR) return false;
            continue;
        }
        if (n == 0) errno = EIO;
        return false;
    }
    return true;
}

void Process::Record(int status) {
    ended_ = true;
    if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) termSignal_ = WTERMSIG(status);
    pidFd_.Reset();
}

bool Process::Reap(bool block) {
    if (ended_) return true;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, block ? 0 : WNOHANG);
        if (r == pid_) {
            Record(status);
            return true;
        }
        if (r == 0) return false;
        if (errno == EINTR) continue;
        // Reaped elsewhere (SIGCHLD ignored): ended, status unknown.
        ended_ = true;
        pidFd_.Reset();
        return true;
    }
}

// Waits for the child to end without reaping it, so that its process group
// stays ours to signal until Reap.
bool Process::WaitFor(int timeoutMs) {
    if (ended_) return true;
    const auto deadline = DeadlineAfter(std::max(timeoutMs, 0));
    int sleepMs = 1;
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
            if (info.si_pid == pid_) return true;
        } else if (errno != EINTR) {
            return Reap(false);
        }
        const int left = timeoutMs < 0 ? INT_MAX : MsLeft(deadline);
        if (left == 0) return false;
        if (pidFd_) {
            pollfd pfd{pidFd_.Get(), POLLIN, 0};
            (void)poll(&pfd, 1, timeoutMs < 0 ? -1 : left);
        } else {
            // No pidfd: poll the status, backing off to 20 ms.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(sleepMs, left)));
            sleepMs = std::min(sleepMs * 2, 20);
        }
    }
}

WaitResult Process::Wait(int timeoutMs) {
    if (!Started()) return WaitResult::NotStarted;
    if (!WaitFor(timeoutMs)) return WaitResult::TimedOut;
    Reap(true);
    return WaitResult::Ended;
}

int Process::WaitWhile(int pollEveryMs, int budgetMs, const std::function<bool()>& cancelled) {
    if (!Started()) return kProcessAbandoned;
    const int step = std::max(pollEveryMs, 1);
    const auto deadline = DeadlineAfter(std::max(budgetMs, 0));
    for (;;) {
        if (Wait(std::min(step, MsLeft(deadline))) == WaitResult::Ended) return kProcessEnded;
        if (cancelled && cancelled()) {
            Terminate();
            return kProcessCancelled;
        }
        if (MsLeft(deadline) == 0) {
            Terminate();
            return kProcessAbandoned;
        }
    }
}

void Process::Terminate(int graceMs) {
    if (!Running()) return;
    // The group first, so programs the child started go too; the child
    // itself in case it left the group.
    if (kill(-pid_, SIGTERM) != 0) kill(pid_, SIGTERM);
    if (!WaitFor(graceMs)) {
        if (kill(-pid_, SIGKILL) != 0) kill(pid_, SIGKILL);
        WaitFor(-1);
    }
    // Until it is reaped the child's id cannot be reused, so the group can
    // still safely be swept of anything that ignored SIGTERM.
    if (!ended_) kill(-pid_, SIGKILL);
    Reap(true);
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) {
        const std::string path = MakeAbsolute(name);
        return IsExecutableFile(path) ? path : std::string();
    }
    std::string searchPath;
    if (const char* env = getenv("PATH")) {
        searchPath = env;
    } else {
        searchPath = "/usr/local/bin:/usr/bin:/bin";
    }
    size_t start = 0;
    for (;;) {
        const size_t colon = searchPath.find(':', start);
        std::string folder = searchPath.substr(start, colon == std::string::npos ? colon : colon - start);
        // An empty entry means the current folder.
        if (folder.empty()) folder = ".";
        folder = MakeAbsolute(folder);
        if (!folder.empty()) {
            const std::string candidate = folder.back() == '/' ? folder + name : folder + "/" + name;
            if (IsExecutableFile(candidate)) return candidate;
        }
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

}  // namespace sonitor
