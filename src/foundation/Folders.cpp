#include "foundation/Folders.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/UserPrompt.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {

namespace {

constexpr const char* kProductFolder = "Orvelsoft/Sonitor";
constexpr const char* kSystemSharedBase = "/var/lib";
constexpr uint32_t kUnknownFreeSpaceKiB = 16777216;
constexpr mode_t kSharedRights = 01777;

// An environment variable that names an absolute path; the XDG rules say a
// relative one is to be ignored.
std::string AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// Creates base/levels one level at a time; every level we create ourselves
// is opened to everyone (sticky, like /tmp) so that all users can share it.
bool MakeSharedLevels(const std::string& base, const std::string& levels) {
    std::string path = base;
    size_t start = 0;
    while (start <= levels.size()) {
        size_t end = levels.find_first_of("/\\", start);
        if (end == std::string::npos) end = levels.size();
        if (end > start) {
            path = JoinPath(path, levels.substr(start, end - start));
            if (::mkdir(path.c_str(), kSharedRights) == 0) {
                ::chmod(path.c_str(), kSharedRights);  // the umask cut the rights at mkdir
            } else if (errno != EEXIST) {
                return false;
            }
        }
        start = end + 1;
    }
    return IsFolder(path);
}

std::mutex& ProbeMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<uint32_t(const std::string&)>& Probe() {
    static std::function<uint32_t(const std::string&)> probe;
    return probe;
}

uint32_t MeasureFreeSpaceKiB(const std::string& path) {
    std::string probe = path.empty() ? std::string(".") : path;
    for (;;) {
        struct statvfs fs;
        if (::statvfs(probe.c_str(), &fs) == 0) {
            const unsigned long long kib = static_cast<unsigned long long>(fs.f_bavail) *
                                           static_cast<unsigned long long>(fs.f_frsize) / 1024;
            return kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(kib);
        }
        if (errno != ENOENT && errno != ENOTDIR) return kUnknownFreeSpaceKiB;
        // The folder may not exist yet; its drive is that of the nearest
        // level that does.
        const size_t separator = probe.find_last_of('/');
        if (separator == std::string::npos) {
            if (probe == ".") return kUnknownFreeSpaceKiB;
            probe.assign(1, '.');
        } else if (separator == 0) {
            if (probe.size() == 1) return kUnknownFreeSpaceKiB;
            probe.resize(1);
        } else {
            probe.resize(separator);
        }
    }
}

}  // namespace

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    return std::string();
}

std::string UserDataFolder() {
    std::string base = AbsoluteFromEnvironment("XDG_DATA_HOME");
    if (base.empty()) {
        const std::string home = HomeFolder();
        base = home.empty() ? std::string("/tmp") : JoinPath(home, ".local/share");
    }
    const std::string folder = JoinPath(base, kProductFolder);
    MakeFolders(folder, 0700);
    return folder;
}

std::string SharedDataFolder() {
    if (const char* configured = std::getenv("SONITOR_SHARED_DATA"); configured != nullptr && configured[0]) {
        MakeFolders(configured);
        return configured;
    }
    // The system folder is only worth using when we can also write in it:
    // one made earlier by an administrator with narrow rights is not.
    if (MakeSharedLevels(kSystemSharedBase, kProductFolder)) {
        const std::string folder = JoinPath(kSystemSharedBase, kProductFolder);
        if (::access(folder.c_str(), W_OK | X_OK) == 0) return folder;
    }
    return UserDataFolder();
}

std::string SharedDataSubFolder(const std::string& name) {
    const std::string base = SharedDataFolder();
    MakeSharedLevels(base, name);
    return JoinPath(base, name);
}

uint32_t FreeSpaceKiB(const std::string& path) {
    std::function<uint32_t(const std::string&)> probe;
    {
        std::lock_guard<std::mutex> lock(ProbeMutex());
        probe = Probe();
    }
    return probe ? probe(path) : MeasureFreeSpaceKiB(path);
}

void SetFreeSpaceProbeForTesting(std::function<uint32_t(const std::string&)> probe) {
    std::lock_guard<std::mutex> lock(ProbeMutex());
    Probe() = std::move(probe);
}

bool CheckWorkingFolderSpace(UserPrompt& prompt, const std::string& message) {
    // Whole MiB, rounded down: 3071 KiB is not enough.
    if (FreeSpaceKiB(WorkingFolder()) / 1024 >= 3) return true;
    prompt.Ask("Low Disk Space", message, PromptIcon::Information, PromptButtons::Ok);
    return false;
}

}  // namespace sonitor
