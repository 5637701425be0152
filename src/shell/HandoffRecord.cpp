#include "shell/HandoffRecord.h"

#include <algorithm>
#include <cstring>

#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

// A slot keeps its last byte for the terminator.
constexpr size_t kSlotText = kHandoffSlotBytes - 1;

}  // namespace

std::vector<uint8_t> EncodeHandoffRecord(const std::vector<std::string>& arguments) {
    std::vector<uint8_t> record(kHandoffRecordBytes, 0);
    const size_t count = std::min(arguments.size(), static_cast<size_t>(kHandoffMaxArguments));
    const uint32_t n = static_cast<uint32_t>(count);
    for (int i = 0; i < 4; ++i)
        record[static_cast<size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
    for (size_t i = 0; i < count; ++i) {
        const std::string& argument = arguments[i];
        // An argument cannot hold a NUL; should one get here, the slot ends there.
        const size_t length = std::min({argument.size(), kSlotText, std::strlen(argument.c_str())});
        std::memcpy(record.data() + 4 + i * kHandoffSlotBytes, argument.data(), length);
    }
    return record;
}

std::optional<std::vector<std::string>> DecodeHandoffRecord(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size != kHandoffRecordBytes) return std::nullopt;
    uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    const int32_t count = std::clamp(static_cast<int32_t>(raw), 0, kHandoffMaxArguments);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const char* slot =
            reinterpret_cast<const char*>(bytes + 4 + static_cast<size_t>(i) * kHandoffSlotBytes);
        // The sender may have left out the terminator: never read past the
        // slot, and keep no more than a proper sender could have put there.
        arguments.emplace_back(slot, ::strnlen(slot, kSlotText));
    }
    return arguments;
}

std::vector<std::string> AbsoluteFileArguments(const std::vector<std::string>& arguments,
                                               const std::string& folder) {
    std::vector<std::string> result = arguments;
    const auto absolute = [&folder](std::string& path) {
        if (!path.empty() && path[0] != '/' && path[0] != '-') path = JoinPath(folder, path);
    };
    for (size_t i = 1; i < result.size(); ++i) {
        const std::string& argument = result[i];
        if (EqualsIgnoreCase(argument, "-window")) {
            i += 2;  // width and height are numbers, not paths
        } else if (EqualsIgnoreCase(argument, "-saveas") || EqualsIgnoreCase(argument, "-list") ||
                   EqualsIgnoreCase(argument, "-batch")) {
            if (i + 1 < result.size()) absolute(result[++i]);
        } else {
            absolute(result[i]);
        }
    }
    return result;
}

std::optional<std::vector<std::string>> ReadListFile(const std::string& path) {
    const std::optional<std::string> contents = ReadWholeFile(path);
    if (!contents) return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    const auto finish = [&] {
        if (!line.empty()) lines.push_back(line);
        line.clear();
    };
    const std::string& text = *contents;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            const char other = c == '\r' ? '\n' : '\r';
            if (i + 1 < text.size() && text[i + 1] == other) ++i;
            finish();
        } else if (line.size() < kSlotText) {
            line.push_back(c);
        }
    }
    finish();
    return lines;
}

}  // namespace sonitor
