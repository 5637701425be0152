#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "formats/tags/TagMap.h"

namespace sonitor {

// Only MP3 and WAV files carry tags; the extension (any case) decides.
bool FileCanHoldTags(std::string_view path);

// Reads the tags of an ".mp3" or ".wav" file into tags (fill-only where a
// second source of the same file is read). False for other files and files
// that cannot be read.
bool ReadTags(const std::string& path, TagMap& tags);
bool ReadTags(const std::string& path, std::vector<TagEntry>& tags);

// Writes tags into an ".mp3" or ".wav" file that has just been saved.
// False for other files and on failure.
bool WriteTags(const std::string& path, const TagMap& tags);
bool WriteTags(const std::string& path, const std::vector<TagEntry>& tags);

}  // namespace sonitor
