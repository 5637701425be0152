#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/tags/TagMap.h"

namespace sonitor {

// The 10-byte header (or footer, "3DI") of an ID3v2 tag.
struct Id3v2Header {
    static constexpr size_t kSize = 10;
    static constexpr uint8_t kUnsynchronised = 0x80;
    static constexpr uint8_t kExtendedHeader = 0x40;
    static constexpr uint8_t kFooter = 0x10;

    uint8_t version = 0;  // major version: 2, 3 or 4
    uint8_t revision = 0;
    uint8_t flags = 0;
    uint32_t size = 0;  // bytes after the header, footer excluded

    bool HasFooter() const { return version == 4 && (flags & kFooter) != 0; }
    // The whole tag: header, frames, padding and footer.
    int64_t TagSize() const { return int64_t{kSize} + size + (HasFooter() ? int64_t{kSize} : 0); }
};

// Checks the ten bytes: the magic ("ID3", or "3DI" for a footer), a version
// we know the frame layout of (2 to 4), a revision other than 0xFF and four
// size bytes of seven bits each.
std::optional<Id3v2Header> ParseId3v2Header(std::string_view bytes, std::string_view magic = "ID3");

// One frame of a parsed tag.
struct Id3v2Frame {
    // Four characters; the three-character ids of version 2.2 are given
    // their later names where there is one.
    std::string id;
    // The frame as it can be copied unchanged into a tag of the parsed tag's
    // WriteVersion(): header and data with the tag-wide unsynchronisation
    // undone. Empty when the frame must not or cannot be carried over (one
    // that asks to be dropped when the tag changes, one of version 2.2
    // without a later form).
    std::string raw;
    // Set when we understood the frame: the tag key and its value (cut).
    std::string key;
    std::string value;
};

struct Id3v2Tag {
    Id3v2Header header;
    std::vector<Id3v2Frame> frames;
    // False when the walk stopped at our bound on the number of frames
    // rather than at the end of the frames: a rebuild would lose the rest.
    bool complete = true;

    // The version a replacement is written in: 2.4 stays 2.4, older tags
    // become 2.3.
    uint8_t WriteVersion() const { return header.version == 4 ? 4 : 3; }
};

// Parses a tag from its first byte; the bytes may stop short of the size in
// the header (the frame walk is bounded by both). A frame that does not fit
// or has an id outside 0-9/A-Z ends the walk; frames read so far are kept.
// Of several frames with one key the first is understood (for comments, the
// first without a description), the others are kept as unknown; so are the
// frames of keys beyond the first 1024.
std::optional<Id3v2Tag> ParseId3v2(std::string_view bytes);

// Stores every understood frame with overwrite.
void Id3v2ToTags(const Id3v2Tag& tag, TagMap& tags);

// True when reading the tag gives the value tags holds for every standard
// key tags has (a missing frame reads as empty).
bool Id3v2MatchesTags(const Id3v2Tag& tag, const TagMap& tags);

struct Id3v2BuildOptions {
    uint8_t version = 3;  // 3 or 4
    bool footer = false;  // version 4 only: for a tag at the end of a file
    // Zero padding is added to make the whole tag at least this long (not
    // with a footer).
    int64_t minSize = 0;
};

// Builds a tag for tags. With an old tag its frames keep their order: an
// understood frame whose key tags holds is replaced by the new value (copied
// unchanged when the value did not change, dropped when the new value is
// empty), one whose key tags lacks is kept, and every frame we did not
// understand is copied as it was. Entries left over follow in tags order;
// keys that are neither standard nor the id of a text, URL or comment frame
// are not written. Text is ISO-8859-1 where it can be, else UTF-16 (2.3) or
// UTF-8 (2.4). Returns empty text when there is nothing to write and no
// padding asked for, nothing when the tag would exceed the format's size.
std::optional<std::string> BuildId3v2(const TagMap& tags, const Id3v2Tag* old,
                                      const Id3v2BuildOptions& options);

// Sizes in the 28-bit form of tag headers.
uint32_t DecodeSynchsafe(std::string_view fourBytes);
void AppendSynchsafe(std::string& out, uint32_t value);

}  // namespace sonitor
