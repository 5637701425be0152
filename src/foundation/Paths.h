#pragma once

#include <string>
#include <string_view>

namespace sonitor {

// Path helpers. Stored paths may use '\' or '/'; both are understood as
// separators when reading, '/' is what we write. Paths are UTF-8 and are not
// cut to any length here (a silently shortened path names another file).

// Everything before the last separator; empty when there is none.
std::string DirectoryPart(std::string_view path);
// Everything after the last separator.
std::string FileNamePart(std::string_view path);
// From the last '.' after the last separator, dot included; empty when none.
std::string ExtensionPart(std::string_view path);
// folder + '/' + name; no separator is added when folder is empty or already
// ends in one.
std::string JoinPath(std::string_view folder, std::string_view name);
// JoinPath(folder, name) + extension (extension given with its dot).
std::string JoinPath(std::string_view folder, std::string_view name, std::string_view extension);
// Replaces the extension (from the last '.' of the last component on);
// a name without a dot is returned unchanged.
std::string ReplaceExtension(std::string_view path, std::string_view newExtension);
// Turns every '\' into '/'.
std::string NormalizeSeparators(std::string_view path);
// The first maxBytes bytes of text, shortened further so that no UTF-8
// character is cut in two.
std::string BoundedCopy(std::string_view text, size_t maxBytes);

inline bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace sonitor
