#include "shell/RecentFileList.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>

#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr char kSection[] = "Recent";

std::string FileKey(int slot) {
    return Format("RecentFile %d", slot);
}

std::string DateKey(int slot) {
    return Format("RecentFileDate%d", slot);
}

// Characters, not bytes: a shortened name must not cut a UTF-8 sequence.
size_t CharacterCount(const std::string& text) {
    return static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string FirstCharacters(const std::string& text, size_t count) {
    size_t end = 0;
    size_t seen = 0;
    while (end < text.size()) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80) {
            if (seen == count) break;
            ++seen;
        }
        ++end;
    }
    return text.substr(0, end);
}

}  // namespace

bool SameFilePath(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (!EqualsIgnoreCase(a, b)) return false;
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

RecentFileList::RecentFileList(const SettingsStore& settings, std::function<int64_t()> clock)
    : settings_(settings), clock_(std::move(clock)) {}

int64_t RecentFileList::Now() const {
    return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr));
}

std::string RecentFileList::Path(int slot) const {
    return settings_.ReadString(kSection, FileKey(slot));
}

void RecentFileList::Add(const std::string& path) {
    if (path.empty()) return;
    const int64_t now = Now();
    const std::string nowText = std::to_string(now);
    int oldest = 1;
    int64_t oldestDate = 0;
    for (int slot = 1; slot <= kEntries; ++slot) {
        const std::string listed = Path(slot);
        if (listed.empty() || SameFilePath(listed, path)) {
            if (listed.empty()) settings_.WriteString(kSection, FileKey(slot), path);
            settings_.WriteString(kSection, DateKey(slot), nowText);
            return;
        }
        const std::optional<std::string> dateText = settings_.ReadUserValue(kSection, DateKey(slot));
        const int64_t date = dateText ? std::strtoll(dateText->c_str(), nullptr, 10) : now;
        if (slot == 1 || date < oldestDate) {
            oldest = slot;
            oldestDate = date;
        }
    }
    settings_.WriteString(kSection, FileKey(oldest), path);
    settings_.WriteString(kSection, DateKey(oldest), nowText);
}

std::vector<RecentFileList::Entry> RecentFileList::Entries() const {
    const int64_t now = Now();
    std::vector<Entry> entries;
    for (int slot = 1; slot <= kEntries; ++slot) {
        std::string path = Path(slot);
        if (path.empty()) continue;
        const std::optional<std::string> dateText = settings_.ReadUserValue(kSection, DateKey(slot));
        const int64_t date = dateText ? std::strtoll(dateText->c_str(), nullptr, 10) : now;
        entries.push_back({slot, std::move(path), date});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.date > b.date; });
    return entries;
}

std::string RecentFileList::ShortPath(const std::string& path) {
    if (CharacterCount(path) < kShortenFrom) return path;
    return Format("%s...\\%s", FirstCharacters(path, 3).c_str(), FileNamePart(path).c_str());
}

std::string RecentFileList::MenuText(int position, const std::string& path) {
    return Format("&%d.%s", position, ShortPath(path).c_str());
}

}  // namespace sonitor
