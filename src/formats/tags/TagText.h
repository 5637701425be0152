#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Character set conversions the tag formats need beyond foundation/Text.h.
namespace sonitor {

// UTF-16 code units (two bytes each, a trailing odd byte ignored) as UTF-8.
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);
// UTF-8 as UTF-16 code units, optionally led by a byte-order mark.
std::string Utf8ToUtf16(std::string_view text, bool bigEndian, bool withBom);

// ISO-8859-1 bytes when every character of the UTF-8 text has one; the C1
// controls (U+0080-U+009F) are refused because readers take those bytes as
// code page 1252.
std::optional<std::string> Utf8ToLatin1(std::string_view text);
// Code page 1252 bytes; a character the code page lacks becomes '?'.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace sonitor
