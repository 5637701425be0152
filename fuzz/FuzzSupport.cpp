#include "FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "foundation/FileUtil.h"

namespace sonitor::fuzz {

MemoryFile::MemoryFile(const uint8_t* data, size_t size) {
    fd_ = memfd_create("fuzz-input", MFD_CLOEXEC);
    if (fd_ < 0 || !WriteAll(fd_, data, size)) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() {
    if (fd_ >= 0) close(fd_);
}

namespace {

// Reads little numbers from the input from its end backwards, so that the
// bytes the parsers see first are not the same as the steering bytes.
class Steering {
public:
    Steering(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    uint32_t Next() {
        uint32_t v = 0;
        for (int i = 0; i < 4 && left_ > 0; ++i) v = v << 8 | data_[--left_];
        return v;
    }

private:
    const uint8_t* data_;
    size_t left_;
};

}  // namespace

void Exercise(AudioSource& source, const uint8_t* data, size_t size) {
    if (source.Status() != kSourceOk) return;
    const int channels = source.Channels();
    std::vector<int32_t> buffer(static_cast<size_t>(kMaxTransferFrames) * channels);
    Steering steer(data, size);

    const int32_t length = source.Length();
    // Bounded work per input: at most 32 reads of at most 8192 frames.
    int64_t budget = 1 << 17;
    for (int i = 0; i < 32 && budget > 0; ++i) {
        const int32_t n = static_cast<int32_t>(1 + steer.Next() % kMaxTransferFrames);
        source.Read(buffer.data(), n);
        budget -= n;
        if (source.Position() >= source.Length() && i > 2) break;
    }
    const int32_t targets[] = {-100, 0, length / 2, length - 1, length, length + 1000,
                               static_cast<int32_t>(steer.Next() % (static_cast<uint32_t>(std::max(length, 1)) + 1))};
    for (int32_t target : targets) {
        source.Seek(target);
        source.Read(buffer.data(), 1 + static_cast<int32_t>(steer.Next() % 4096));
        (void)source.Position();
        (void)source.Length();
    }
}

}  // namespace sonitor::fuzz
