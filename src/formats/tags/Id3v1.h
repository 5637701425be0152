#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/tags/TagMap.h"

namespace sonitor {

// The ID3v1 block: the last 128 bytes of an MP3 file. "TAG", title (30),
// artist (30), album (30), year (4), comment (28), a zero byte, track (1),
// genre (1); the older layout has a 30-byte comment and no track.
inline constexpr size_t kId3v1Size = 128;
using Id3v1Block = std::array<uint8_t, kId3v1Size>;

bool IsId3v1Block(std::string_view bytes);

// Stores the fields of a block fill-only (a reader that runs after the
// ID3v2 one). Text is taken as UTF-8 when it is valid, else as code page
// 1252; trailing blanks are dropped.
void ReadId3v1(std::string_view block, TagMap& tags);

// The block for tags, built over the old block when there is one (old is
// then 128 bytes beginning with "TAG"; anything else means a new block).
// Title, artist and album keep 29 bytes and a zero, year 4 and comment 28;
// the track byte is the number of "TRACKNUMBER" when it is set, else the
// old one; the genre byte is the number or the list index of "GENRE", left
// unchanged when the value is empty or names no listed genre. A new block
// has no genre (255).
Id3v1Block BuildId3v1(const TagMap& tags, std::string_view old);

}  // namespace sonitor
