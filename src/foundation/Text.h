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

std::string ToLowerAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

}  // namespace sonitor
