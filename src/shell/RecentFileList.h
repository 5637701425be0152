#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sonitor {

class SettingsStore;

// Two paths name the same file: spelled the same, or spelled the same but
// for case and the file system says they are one file (a case-insensitive
// mount). On an ordinary Linux file system "a.wav" and "A.wav" are two
// files and stay apart.
bool SameFilePath(const std::string& a, const std::string& b);

// The File menu's list of recently closed files, kept in the settings
// section "Recent": entry i (1..11) is "RecentFile %d" (the full path) and
// "RecentFileDate%d" (seconds since 1970 when it was last closed). Qt-free;
// the frame turns Entries() into menu items.
class RecentFileList {
public:
    static constexpr int kEntries = 11;
    // Paths of this many characters or more are shortened in the menu.
    static constexpr size_t kShortenFrom = 25;

    struct Entry {
        int slot = 0;  // 1..11: the menu item's command is 1049 + slot
        std::string path;
        int64_t date = 0;
    };

    // clock: seconds since 1970 (tests pass their own).
    explicit RecentFileList(const SettingsStore& settings, std::function<int64_t()> clock = {});

    // Remembers a file that was just closed: a path already listed gets the
    // current time, else it takes the first free entry, else it replaces the
    // entry with the oldest date.
    void Add(const std::string& path);
    // The listed files, newest first (a missing date counts as now).
    std::vector<Entry> Entries() const;
    // The path of an entry (empty when the slot is free).
    std::string Path(int slot) const;

    // The menu text of the item at position (1 = newest): "&%d.%s".
    static std::string MenuText(int position, const std::string& path);
    // A path of 25 characters or more becomes its first three characters,
    // "...\" and the file name.
    static std::string ShortPath(const std::string& path);

private:
    int64_t Now() const;

    const SettingsStore& settings_;
    std::function<int64_t()> clock_;
};

}  // namespace sonitor
