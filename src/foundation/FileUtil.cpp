#include "foundation/FileUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "foundation/Paths.h"

namespace sonitor {

void UniqueFd::Reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

// ---------------------------------------------------------------------------
// Opening with retry

namespace {

int OpenFlags(FileAccess access, FileDisposition disposition) {
    int flags = O_CLOEXEC;
    switch (access) {
        case FileAccess::Read:
            flags |= O_RDONLY;
            break;
        case FileAccess::Write:
            flags |= O_WRONLY;
            break;
        case FileAccess::ReadWrite:
            flags |= O_RDWR;
            break;
    }
    // Truncation waits until the lock is ours (see TryOpen), so O_TRUNC is
    // never passed here.
    switch (disposition) {
        case FileDisposition::CreateAlways:
        case FileDisposition::OpenAlways:
            flags |= O_CREAT;
            break;
        case FileDisposition::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
        case FileDisposition::OpenExisting:
        case FileDisposition::TruncateExisting:
            break;
    }
    return flags;
}

int LockKind(FileAccess access, FileShare share) {
    switch (share) {
        case FileShare::None:
            return LOCK_EX;
        case FileShare::Read:
            return access == FileAccess::Read ? LOCK_SH : LOCK_EX;
        case FileShare::ReadWrite:
            return 0;
    }
    return LOCK_EX;
}

// One attempt; an invalid handle with errno EWOULDBLOCK is a sharing violation.
UniqueFd TryOpen(const std::string& path, FileAccess access, FileShare share, FileDisposition disposition) {
    int fd;
    do {
        fd = ::open(path.c_str(), OpenFlags(access, disposition), 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return UniqueFd();
    UniqueFd file(fd);
    if (const int kind = LockKind(access, share); kind != 0) {
        int rc;
        do {
            rc = ::flock(fd, kind | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const int saved = errno == EAGAIN ? EWOULDBLOCK : errno;
            file.Reset();
            errno = saved;
            return UniqueFd();
        }
    }
    // Cutting the file before the lock is ours would destroy the contents
    // under another holder's feet.
    if (disposition == FileDisposition::CreateAlways || disposition == FileDisposition::TruncateExisting) {
        if (access != FileAccess::Read && ::ftruncate(fd, 0) != 0) {
            const int saved = errno;
            file.Reset();
            errno = saved;
            return UniqueFd();
        }
    }
    return file;
}

void SleepMs(int ms) {
    struct timespec t {
        ms / 1000, static_cast<long>(ms % 1000) * 1000000L
    };
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

}  // namespace

UniqueFd OpenFileWithRetry(const std::string& path, FileAccess access, FileShare share,
                           FileDisposition disposition, int budgetMs) {
    UniqueFd fd = TryOpen(path, access, share, disposition);
    if (fd || errno != EWOULDBLOCK) return fd;
    // At least 1 ms: with a zero wait a small budget would never shrink and
    // we would spin for as long as the other holder keeps the file.
    int64_t wait = std::max<int64_t>((static_cast<int64_t>(budgetMs) + 127) / 256, 1);
    int64_t budget = budgetMs;
    for (;;) {
        SleepMs(static_cast<int>(std::min<int64_t>(wait, 1 << 30)));
        fd = TryOpen(path, access, share, disposition);
        if (fd || errno != EWOULDBLOCK) return fd;
        budget -= wait;
        wait *= 2;
        if (budget <= wait) break;
    }
    errno = EWOULDBLOCK;
    return UniqueFd();
}

// ---------------------------------------------------------------------------
// Removing folders
//
// Written against raw system calls with fixed buffers and no heap so that a
// signal handler can run it (the private working folder is removed on
// SIGTERM). Every entry is opened relative to its parent's descriptor, so a
// symbolic link is never followed, even one swapped in while we work.

namespace {

struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

constexpr int kMaxTreeDepth = 128;

bool GoneAt(int parentFd, const char* name) {
    struct stat st;
    return ::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

bool IsDirectoryAt(int parentFd, const char* name, unsigned char type) {
    if (type == DT_DIR) return true;
    if (type != DT_UNKNOWN) return false;
    struct stat st;
    return ::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveTreeAt(int parentFd, const char* name, bool skipHidden, bool recurse, int depth) noexcept {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        // Not a folder, or a symbolic link: remove the entry itself.
        if (errno == ENOTDIR || errno == ELOOP) return ::unlinkat(parentFd, name, 0) == 0 || errno == ENOENT;
        return false;
    }
    if (depth > kMaxTreeDepth) {
        ::close(fd);
        return false;
    }
    alignas(8) char buffer[2048];
    // Deleting while reading may hide entries from the current pass, so go
    // over the folder again until a pass removes nothing.
    for (int pass = 0; pass < 8; ++pass) {
        bool removedAny = false;
        if (::lseek(fd, 0, SEEK_SET) != 0) break;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long offset = 0; offset < n;) {
                const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
                offset += entry->d_reclen;
                const char* entryName = entry->d_name;
                if (entryName[0] == '.') {
                    if (entryName[1] == '\0' || (entryName[1] == '.' && entryName[2] == '\0')) continue;
                    if (skipHidden) continue;
                }
                if (IsDirectoryAt(fd, entryName, entry->d_type)) {
                    if (recurse && RemoveTreeAt(fd, entryName, skipHidden, true, depth + 1))
                        removedAny = true;
                } else if (::unlinkat(fd, entryName, 0) == 0) {
                    removedAny = true;
                }
            }
        }
        if (!removedAny) break;
    }
    ::close(fd);
    if (::unlinkat(parentFd, name, AT_REMOVEDIR) == 0) return true;
    return GoneAt(parentFd, name);
}

}  // namespace

bool EmptyFolder(const std::string& path) {
    return RemoveTreeAt(AT_FDCWD, path.c_str(), true, false, 0);
}

bool RemoveFolderTree(const std::string& path) {
    return RemoveTreeAt(AT_FDCWD, path.c_str(), true, true, 0);
}

bool RemoveFolderTreeFully(const char* path) noexcept {
    return path != nullptr && path[0] != '\0' && RemoveTreeAt(AT_FDCWD, path, false, true, 0);
}

// ---------------------------------------------------------------------------
// Small file-system helpers

bool MakeFolders(const std::string& path, unsigned mode) {
    if (path.empty()) return false;
    if (IsFolder(path)) return true;
    // Create each missing level from the top down.
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end != path.size() && path[end] != '/') continue;
        const std::string level = path.substr(0, end);
        if (::mkdir(level.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
            // A level we may not create can still exist (EACCES on a parent
            // we only traverse); the final check decides.
            continue;
        }
    }
    return IsFolder(path);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<int64_t> FileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<int64_t>(st.st_size);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    std::string contents;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    return contents;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents, unsigned mode) {
    const std::string folder = DirectoryPart(path);
    // A leading dot keeps a half-written file out of the way of folder
    // cleaners and directory listings.
    std::string temp = JoinPath(folder, "." + FileNamePart(path) + ".tmp-XXXXXX");
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) return false;
    bool ok = ::fchmod(fd.Get(), static_cast<mode_t>(mode)) == 0 &&
              WriteAll(fd.Get(), contents.data(), contents.size()) && ::fsync(fd.Get()) == 0;
    const int closeResult = ::close(fd.Release());
    ok = ok && closeResult == 0 && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
    }
    return ok;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int64_t ReadAt(int fd, void* data, size_t size, int64_t offset) {
    char* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool WriteAllAt(int fd, const void* data, size_t size, int64_t offset) {
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(fd, p + done, size - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<int64_t> FileSize(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace sonitor
