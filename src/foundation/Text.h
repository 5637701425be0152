#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace sonitor {

// Text from old files and other programs may be in the Windows ANSI code
// page (1252). Valid UTF-8 is returned as it is; anything else is taken as
// code page 1252 and converted. The result is cut to 259 bytes at a
// character boundary.
std::string AnsiToUtf8(std::string_view text);
// The same without the 259-byte bound.
std::string Cp1252ToUtf8(std::string_view text);
bool IsValidUtf8(std::string_view text);

inline constexpr char32_t kUtf8Replacement = 0xFFFD;
// Decodes the character at pos and advances past it. A byte that does not
// begin a valid sequence (overlong, surrogate, past U+10FFFF, cut short)
// gives false and cp = U+FFFD, and is skipped alone.
bool DecodeUtf8(std::string_view text, size_t& pos, char32_t& cp);
// Appends cp (at most U+10FFFF) encoded as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

std::string ToLowerAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

}  // namespace sonitor
