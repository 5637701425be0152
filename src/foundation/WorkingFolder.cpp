#include "foundation/WorkingFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr const char* kPrivatePrefix = "private-";
constexpr const char* kOwnerName = ".owner";

// The open session. The pid tells a session of ours from one a forked child
// inherited from its parent: the child may open its own, and must never
// clean up the parent's.
std::mutex gSessionMutex;
WorkingFolderSession* gSession = nullptr;
pid_t gSessionPid = 0;

// What the signal handler needs, prepared before it is armed so that the
// handler itself touches no heap.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kCleanupSignals / sizeof kCleanupSignals[0];
char gSignalPath[4096];
volatile sig_atomic_t gSignalArmed = 0;
volatile sig_atomic_t gSignalOwnerPid = 0;
struct sigaction gPreviousAction[kSignalCount];
bool gHandlerInstalled[kSignalCount];

void OnTerminatingSignal(int signalNumber) {
    const int savedErrno = errno;
    if (gSignalArmed && gSignalOwnerPid == static_cast<sig_atomic_t>(::getpid())) {
        gSignalArmed = 0;
        RemoveFolderTreeFully(gSignalPath);
    }
    // Die of the signal as we would have without the handler; it is blocked
    // while we run and arrives as soon as we return.
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signalNumber, &fallback, nullptr);
    ::raise(signalNumber);
    errno = savedErrno;
}

void ArmSignalCleanup(const std::string& path) {
    gSignalArmed = 0;
    if (path.size() >= sizeof gSignalPath) return;
    std::memcpy(gSignalPath, path.c_str(), path.size() + 1);
    gSignalOwnerPid = static_cast<sig_atomic_t>(::getpid());
    gSignalArmed = 1;

    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current;
        if (::sigaction(kCleanupSignals[i], nullptr, &current) != 0) continue;
        // Someone who set their own handler (or chose to ignore the signal)
        // keeps it. Ours, inherited through fork, already serves.
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction ours;
        std::memset(&ours, 0, sizeof ours);
        ours.sa_handler = OnTerminatingSignal;
        sigemptyset(&ours.sa_mask);
        for (int s : kCleanupSignals)
            sigaddset(&ours.sa_mask, s);
        if (::sigaction(kCleanupSignals[i], &ours, &gPreviousAction[i]) == 0) gHandlerInstalled[i] = true;
    }
}

void DisarmSignalCleanup() {
    gSignalArmed = 0;
    for (int i = 0; i < kSignalCount; ++i) {
        if (!gHandlerInstalled[i]) continue;
        ::sigaction(kCleanupSignals[i], &gPreviousAction[i], nullptr);
        gHandlerInstalled[i] = false;
    }
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// Names of the entries of folder that pass keep(name, isFolder); links and
// other non-folders report isFolder false.
template <class Keep>
std::vector<std::string> ListFolder(const std::string& folder, Keep keep) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder =
                ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (keep(name, isFolder)) names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// Makes "<folder>/.owner" and locks it. The file appears under its final
// name already locked, so a process sweeping stale folders never finds it
// unlocked while we live.
int CreateLockedOwnerFile(const std::string& folder) {
    const std::string temp = JoinPath(folder, ".owner-new");
    const int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::rename(temp.c_str(), JoinPath(folder, kOwnerName).c_str()) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ProcessIsGone(const std::string& privateFolderName) {
    // "private-<pid>-XXXXXX"
    const char* digits = privateFolderName.c_str() + std::strlen(kPrivatePrefix);
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    if (end == digits || *end != '-' || pid <= 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

std::string ChooseWorkingFolder(const SettingsStore& settings) {
    if (settings.ReadBool("Settings", "UseDefaultWorkingDir", true)) return UserDataFolder();
    const std::string chosen = settings.ReadString("Settings", "WorkingFolder");
    // An empty setting names no folder at all; take the default it stands for.
    return chosen.empty() ? UserDataFolder() : NormalizeSeparators(chosen);
}

WorkingFolderSession::WorkingFolderSession(WorkingFolderMode mode) : mode_(mode) {
    Open(mode, ChooseWorkingFolder(Settings()));
}

WorkingFolderSession::WorkingFolderSession(WorkingFolderMode mode, const std::string& baseFolder)
    : mode_(mode) {
    Open(mode, baseFolder);
}

void WorkingFolderSession::Open(WorkingFolderMode mode, const std::string& baseFolder) {
    {
        std::lock_guard<std::mutex> lock(gSessionMutex);
        if (gSession != nullptr && gSessionPid == ::getpid()) {
            std::fprintf(stderr, "sonitor: a second working-folder session was opened in one process\n");
            std::abort();
        }
        gSession = this;
        gSessionPid = ::getpid();
    }
    if (baseFolder.empty() || !MakeFolders(baseFolder, 0700)) return;
    RemoveStalePrivateFolders(baseFolder);
    if (mode == WorkingFolderMode::Shared) {
        path_ = baseFolder;
        return;
    }
    std::string folder =
        JoinPath(baseFolder, Format("%s%d-XXXXXX", kPrivatePrefix, static_cast<int>(::getpid())));
    if (::mkdtemp(folder.data()) == nullptr) return;
    ownerFd_ = CreateLockedOwnerFile(folder);
    if (ownerFd_ < 0) {
        RemoveFolderTreeFully(folder.c_str());
        return;
    }
    path_ = std::move(folder);
    ArmSignalCleanup(path_);
}

WorkingFolderSession::~WorkingFolderSession() {
    bool ours;
    {
        std::lock_guard<std::mutex> lock(gSessionMutex);
        ours = gSession == this && gSessionPid == ::getpid();
        if (ours) gSession = nullptr;
    }
    if (ours && !path_.empty()) {
        if (mode_ == WorkingFolderMode::Private) {
            DisarmSignalCleanup();
            // .owner included: the whole folder is ours.
            RemoveFolderTreeFully(path_.c_str());
        } else {
            DeleteWorkingFiles(path_);
        }
    }
    // Only now, so that the folder is never unlocked while it exists.
    if (ownerFd_ >= 0) ::close(ownerFd_);
}

const std::string& WorkingFolder() {
    {
        std::lock_guard<std::mutex> lock(gSessionMutex);
        // A forked child works in its parent's folder until it opens its own.
        if (gSession != nullptr) return gSession->Path();
    }
    static WorkingFolderSession fallback(WorkingFolderMode::Private);
    return fallback.Path();
}

void DeleteWorkingFiles(const std::string& folder) {
    const auto names = ListFolder(folder, [](const std::string& name, bool isFolder) {
        return !isFolder && name.size() > 4 &&
               (EndsWithIgnoreCase(name, ".aud") || EndsWithIgnoreCase(name, ".grf") ||
                EndsWithIgnoreCase(name, ".wbm"));
    });
    for (const std::string& name : names)
        ::unlink(JoinPath(folder, name).c_str());
}

void RemoveStalePrivateFolders(const std::string& baseFolder) {
    const auto names = ListFolder(baseFolder, [](const std::string& name, bool isFolder) {
        return isFolder && StartsWith(name, kPrivatePrefix);
    });
    for (const std::string& name : names) {
        const std::string folder = JoinPath(baseFolder, name);
        UniqueFd owner(::open(JoinPath(folder, kOwnerName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (owner) {
            // The lock is free only when no process holds the folder.
            if (::flock(owner.Get(), LOCK_EX | LOCK_NB) == 0) RemoveFolderTreeFully(folder.c_str());
        } else if (errno == ENOENT && ProcessIsGone(name)) {
            // Its process died before it could mark the folder as its own.
            RemoveFolderTreeFully(folder.c_str());
        }
    }
}

}  // namespace sonitor
