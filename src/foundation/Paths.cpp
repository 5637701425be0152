#include "foundation/Paths.h"

namespace sonitor {

namespace {

// Index of the last separator, or npos.
size_t LastSeparator(std::string_view path) {
    return path.find_last_of("/\\");
}

// Index of the dot that starts the extension of the last component, or npos.
size_t ExtensionDot(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return dot;
    const size_t sep = LastSeparator(path);
    if (sep != std::string_view::npos && sep > dot) return std::string_view::npos;
    return dot;
}

}  // namespace

std::string DirectoryPart(std::string_view path) {
    const size_t sep = LastSeparator(path);
    return sep == std::string_view::npos ? std::string() : std::string(path.substr(0, sep));
}

std::string FileNamePart(std::string_view path) {
    const size_t sep = LastSeparator(path);
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string ExtensionPart(std::string_view path) {
    const size_t dot = ExtensionDot(path);
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string result(folder);
    if (!result.empty() && !IsSeparator(result.back())) result += '/';
    result += name;
    return result;
}

std::string JoinPath(std::string_view folder, std::string_view name, std::string_view extension) {
    std::string result = JoinPath(folder, name);
    result += extension;
    return result;
}

std::string ReplaceExtension(std::string_view path, std::string_view newExtension) {
    const size_t dot = ExtensionDot(path);
    if (dot == std::string_view::npos) return std::string(path);
    std::string result(path.substr(0, dot));
    result += newExtension;
    return result;
}

std::string NormalizeSeparators(std::string_view path) {
    std::string result(path);
    for (char& c : result) {
        if (c == '\\') c = '/';
    }
    return result;
}

std::string BoundedCopy(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    size_t cut = maxBytes;
    // Back off over continuation bytes so the character at the cut goes whole.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut));
}

}  // namespace sonitor
