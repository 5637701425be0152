#pragma once

#include <string>

#include "foundation/FileUtil.h"

namespace sonitor {

// A lock that belongs to a path: the file "<path with extension .lck>" held
// with an exclusive flock. Holding the object is holding the lock; releasing
// it deletes the lock file.
class LockFile {
public:
    LockFile() = default;
    LockFile(LockFile&&) noexcept = default;
    LockFile& operator=(LockFile&& o) noexcept;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile() { Release(); }

    bool Held() const noexcept { return fd_.Valid(); }
    const std::string& LockPath() const noexcept { return lockPath_; }
    void Release() noexcept;

private:
    friend bool AcquireLockFile(LockFile& handle, const std::string& path);
    UniqueFd fd_;
    std::string lockPath_;
};

// The lock path for a path: its extension replaced by ".lck", or ".lck"
// appended when it has none (so a lock never names the file itself).
std::string LockPathFor(const std::string& path);

// Releases whatever the handle holds, then takes the lock that belongs to
// path. False only when another holder has it; any other failure returns
// true without a lock, and the caller goes on unlocked.
bool AcquireLockFile(LockFile& handle, const std::string& path);

}  // namespace sonitor
