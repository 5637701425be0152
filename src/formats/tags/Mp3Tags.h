#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/tags/Id3v2.h"
#include "formats/tags/TagMap.h"

namespace sonitor {

// Where a file's ID3v2 tag lies. Only a tag at the very start of the file
// counts, or one appended at the end that its "3DI" footer confirms (right
// before the end or before the ID3v1 block); bytes that merely spell "ID3"
// inside the audio are never taken for a tag.
struct Id3v2Location {
    int64_t offset = 0;
    Id3v2Header header;
    bool appended = false;

    int64_t End() const { return offset + header.TagSize(); }
};
std::optional<Id3v2Location> LocateId3v2(int fd, int64_t fileSize);

// Reads the ID3v2 tag (overwriting) and then the ID3v1 block (fill-only),
// so the ID3v2 values win. False when the file cannot be opened.
bool ReadMp3Tags(const std::string& path, TagMap& tags);

// Writes the ID3v1 block in place (or appends one), then rebuilds the ID3v2
// tag when tags holds a key beyond the standard seven or the file's ID3v2
// tag disagrees with tags (it would otherwise hide the new values). A new
// tag that fits in the old one's room is written in place with padding; a
// larger one goes with the rest of the file into a temporary file in the
// same folder that then replaces the file, so the audio is never written
// over before it has been copied. False when the file cannot be opened or a
// write fails.
bool WriteMp3Tags(const std::string& path, const TagMap& tags);

}  // namespace sonitor
