#pragma once

// Shared pieces of the fuzz targets: the input as a file, and a workout for
// any AudioSource that the input drives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/AudioSource.h"

namespace sonitor::fuzz {

// The input as an anonymous in-memory file, opened by its /proc path, so
// that the openers see a real file without touching the disk.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// Asks the source for its length, reads a bounded number of frames in chunk
// sizes taken from the input, then seeks to positions taken from the input
// (before the start, inside, past the end) and reads after each.
void Exercise(AudioSource& source, const uint8_t* data, size_t size);

}  // namespace sonitor::fuzz
