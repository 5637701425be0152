#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonitor {

// Owns a POSIX file descriptor.
class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.Release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) Reset(o.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const noexcept { return fd_; }
    bool Valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return Valid(); }
    int Release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

enum class FileAccess { Read, Write, ReadWrite };
// What other openers may do while we hold the file. Sharing is enforced with
// flock: None takes an exclusive lock, Read lets other readers in (a shared
// lock when we only read, else exclusive), ReadWrite takes no lock.
enum class FileShare { None, Read, ReadWrite };
enum class FileDisposition { CreateAlways, CreateNew, OpenExisting, OpenAlways, TruncateExisting };

// Opens a file and retries while another process holds a conflicting lock (a
// "sharing violation"): the first wait is (budgetMs + 127) / 256 ms, each
// further wait doubles and is taken from the budget while the rest of the
// budget exceeds the wait. Other failures fail at once. Returns an invalid
// handle on failure, with errno set (EWOULDBLOCK when the budget ran out).
UniqueFd OpenFileWithRetry(const std::string& path, FileAccess access, FileShare share,
                           FileDisposition disposition, int budgetMs);

// Deletes every file of the folder whose name does not begin with '.', then
// removes the folder; true when the folder is gone.
bool EmptyFolder(const std::string& path);
// The same depth-first through every sub-folder (names beginning with '.'
// skipped), then for the folder itself. Symbolic links are removed, never
// followed.
bool RemoveFolderTree(const std::string& path);
// Removes path and everything below it, names beginning with '.' included,
// for folders that are wholly ours. Links are removed, never followed. Uses
// only async-signal-safe calls and no heap, so a signal handler may call it.
bool RemoveFolderTreeFully(const char* path) noexcept;

// Creates the folder and every missing parent with the given mode (before
// the umask); true when the folder exists afterwards.
bool MakeFolders(const std::string& path, unsigned mode = 0755);

bool FileExists(const std::string& path);
bool IsFolder(const std::string& path);
std::optional<int64_t> FileSize(const std::string& path);

// Whole-file helpers. ReadWholeFile gives nothing when the file cannot be
// read. WriteFileAtomically writes a temporary file beside the target,
// flushes it and renames it over the target, so readers see either the old
// or the new contents; it is the one way we replace a file in place.
std::optional<std::string> ReadWholeFile(const std::string& path);
bool WriteFileAtomically(const std::string& path, std::string_view contents, unsigned mode = 0644);

// write(2) until everything is written; false on any error (errno set).
bool WriteAll(int fd, const void* data, size_t size);
// pwrite(2) until everything is written at offset; false on any error.
bool WriteAllAt(int fd, const void* data, size_t size, int64_t offset);
// The size of an open file; nothing when it cannot be asked.
std::optional<int64_t> FileSize(int fd);
// pread(2) until size bytes or end of file; returns the bytes read, -1 on error.
int64_t ReadAt(int fd, void* data, size_t size, int64_t offset);

}  // namespace sonitor
