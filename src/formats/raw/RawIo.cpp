#include "formats/raw/RawIo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace sonitor::rawio {

UniqueFd OpenForReading(const std::string& path) {
    return OpenFileWithRetry(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting, 0);
}

UniqueFd CreateForWriting(const std::string& path, bool readWrite) {
    return OpenFileWithRetry(path, readWrite ? FileAccess::ReadWrite : FileAccess::Write, FileShare::Read,
                             FileDisposition::CreateAlways, 0);
}

int64_t SizeOf(int fd) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool WriteAllAt(int fd, const void* data, size_t size, int64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool CloseChecked(UniqueFd& file) {
    if (!file) return true;
    return ::close(file.Release()) == 0;
}

int32_t ClampFrames(int64_t frames) {
    if (frames <= 0) return 0;
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(frames > kMax ? kMax : frames);
}

}  // namespace sonitor::rawio
