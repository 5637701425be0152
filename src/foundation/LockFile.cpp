#include "foundation/LockFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor {

LockFile& LockFile::operator=(LockFile&& o) noexcept {
    if (this != &o) {
        Release();
        fd_ = std::move(o.fd_);
        lockPath_ = std::move(o.lockPath_);
        o.lockPath_.clear();
    }
    return *this;
}

void LockFile::Release() noexcept {
    if (!fd_) return;
    // Unlink before closing: a waiter that opened the old file sees, once it
    // gets the lock, that the path is gone and starts over.
    ::unlink(lockPath_.c_str());
    fd_.Reset();
    lockPath_.clear();
}

std::string LockPathFor(const std::string& path) {
    const std::string extension = ExtensionPart(path);
    // Without an extension, or with ".lck" already, replacing would give the
    // path itself, and releasing the lock would delete the file it guards.
    if (extension.empty() || EqualsIgnoreCase(extension, ".lck")) return path + ".lck";
    return ReplaceExtension(path, ".lck");
}

bool AcquireLockFile(LockFile& handle, const std::string& path) {
    handle.Release();
    const std::string lockPath = LockPathFor(path);
    // A few rounds at most: each retry means another holder deleted the file
    // between our open and our lock.
    for (int attempt = 0; attempt < 100; ++attempt) {
        UniqueFd fd(::open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644));
        if (!fd) return true;  // cannot lock at all: go on without
        int rc;
        do {
            rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) return errno != EWOULDBLOCK;
        struct stat held;
        struct stat named;
        if (::fstat(fd.Get(), &held) != 0) return true;
        if (::stat(lockPath.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
            named.st_dev != held.st_dev) {
            continue;  // we locked a file nobody can find any more
        }
        handle.fd_ = std::move(fd);
        handle.lockPath_ = lockPath;
        return true;
    }
    return true;
}

}  // namespace sonitor
