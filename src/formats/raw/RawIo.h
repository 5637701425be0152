#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/FileUtil.h"

// File helpers shared by the readers and writers of this folder.
namespace sonitor::rawio {

// Readers take no lock, so a file another program is still writing can be
// opened (and a growing file shows a growing length).
UniqueFd OpenForReading(const std::string& path);
// Writers create the file anew, letting others read it meanwhile. With
// readWrite the writer can read back what it wrote.
UniqueFd CreateForWriting(const std::string& path, bool readWrite = false);

// The current size of the open file, or -1.
int64_t SizeOf(int fd);
// pwrite(2) until everything is written; false on any error.
bool WriteAllAt(int fd, const void* data, size_t size, int64_t offset);
// Closes the handle and reports whether the close succeeded (a deferred
// write error can surface only here).
bool CloseChecked(UniqueFd& file);

// A frame count limited to the 32-bit frame range (0..2^31-1).
int32_t ClampFrames(int64_t frames);

}  // namespace sonitor::rawio
