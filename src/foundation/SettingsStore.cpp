#include "foundation/SettingsStore.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>

#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

// Longest value a reader gets back: what fits a 260-byte buffer with its
// terminator, which every stored value has been sized for.
constexpr size_t kMaxValueBytes = 259;

struct Entry {
    std::string name;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

// One hive file in memory, in file order.
using Hive = std::vector<Section>;

Section* FindSection(Hive& hive, std::string_view name) {
    for (Section& s : hive) {
        if (EqualsIgnoreCase(s.name, name)) return &s;
    }
    return nullptr;
}

Entry* FindEntry(Section& section, std::string_view name) {
    for (Entry& e : section.entries) {
        if (EqualsIgnoreCase(e.name, name)) return &e;
    }
    return nullptr;
}

// Undoes our escapes; an unknown escape is kept as written.
std::string Unescape(std::string_view text, bool inName) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char next = text[i + 1];
        if (next == '\\') {
            out += '\\';
        } else if (next == 'n') {
            out += '\n';
        } else if (next == 'r') {
            out += '\r';
        } else if (inName && (next == '=' || next == '[')) {
            out += next;
        } else {
            out += c;
            continue;
        }
        ++i;
    }
    return out;
}

void AppendEscaped(std::string& out, std::string_view text, bool inName) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (inName && c == '=') {
            out += "\\=";
        } else if (inName && c == '[' && i == 0) {
            out += "\\[";  // else the line would read as a section
        } else {
            out += c;
        }
    }
}

// Lenient: lines that are neither a section nor a value, and values before
// the first section, are dropped. A section or value given twice counts
// once, as first given.
Hive Parse(std::string_view text) {
    Hive hive;
    Section* current = nullptr;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (line.empty()) continue;
        if (line[0] == '[') {
            if (const size_t close = line.rfind(']'); close != std::string_view::npos) {
                const std::string_view name = line.substr(1, close - 1);
                current = FindSection(hive, name);
                if (current == nullptr) {
                    hive.push_back(Section{std::string(name), {}});
                    current = &hive.back();
                }
                continue;
            }
        }
        if (current == nullptr) continue;
        // The name ends at the first '=' that is not escaped.
        size_t equals = std::string_view::npos;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\') {
                ++i;
            } else if (line[i] == '=') {
                equals = i;
                break;
            }
        }
        if (equals == std::string_view::npos) continue;
        std::string name = Unescape(line.substr(0, equals), true);
        if (FindEntry(*current, name) != nullptr) continue;
        current->entries.push_back(Entry{std::move(name), Unescape(line.substr(equals + 1), false)});
    }
    return hive;
}

std::string Serialize(const Hive& hive) {
    std::string out;
    for (const Section& s : hive) {
        if (!out.empty()) out += '\n';
        out += '[';
        out += s.name;
        out += "]\n";
        for (const Entry& e : s.entries) {
            AppendEscaped(out, e.name, true);
            out += '=';
            AppendEscaped(out, e.value, false);
            out += '\n';
        }
    }
    return out;
}

// A section name is written literally between brackets, so it may not hold
// what would end the line or the brackets early.
bool IsWritableSectionName(std::string_view section) {
    return section.find_first_of("\n\r]") == std::string_view::npos;
}

std::optional<std::string> ReadValue(const std::string& file, const std::string& section,
                                     const std::string& name) {
    // No lock: writers replace the file by rename, so we see a whole version.
    const std::optional<std::string> text = ReadWholeFile(file);
    if (!text) return std::nullopt;
    Hive hive = Parse(*text);
    Section* s = FindSection(hive, section);
    if (s == nullptr) return std::nullopt;
    const Entry* e = FindEntry(*s, name);
    if (e == nullptr) return std::nullopt;
    return BoundedCopy(e->value, kMaxValueBytes);
}

// Read-modify-write under the hive's lock. change() returns whether it
// altered anything; an untouched hive is not rewritten.
template <class Change>
bool ModifyHive(const std::string& file, unsigned fileMode, unsigned folderMode, Change change) {
    const std::string folder = DirectoryPart(file);
    if (!folder.empty() && !MakeFolders(folder, folderMode)) return false;
    UniqueFd lock(::open((file + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, fileMode));
    if (!lock) return false;
    int rc;
    do {
        rc = ::flock(lock.Get(), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return false;

    std::optional<std::string> text = ReadWholeFile(file);
    // A hive that exists but cannot be read must not be replaced by one
    // holding only the new value.
    if (!text && FileExists(file)) return false;
    Hive hive = Parse(text ? *text : std::string());
    if (!change(hive)) return true;
    return WriteFileAtomically(file, Serialize(hive), fileMode);
    // The lock goes with the descriptor.
}

bool SetValue(const std::string& file, unsigned fileMode, unsigned folderMode, const std::string& section,
              const std::string& name, const std::string& text) {
    if (!IsWritableSectionName(section)) return false;
    return ModifyHive(file, fileMode, folderMode, [&](Hive& hive) {
        Section* s = FindSection(hive, section);
        if (s == nullptr) {
            hive.push_back(Section{section, {}});
            s = &hive.back();
        }
        if (Entry* e = FindEntry(*s, name)) {
            if (e->value == text) return false;
            e->value = text;  // the first spelling of the name stays
        } else {
            s->entries.push_back(Entry{name, text});
        }
        return true;
    });
}

std::string EnvironmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::string(value) : fallback;
}

constexpr unsigned kUserFileMode = 0600;
constexpr unsigned kUserFolderMode = 0700;
constexpr unsigned kMachineFileMode = 0644;
constexpr unsigned kMachineFolderMode = 0755;

}  // namespace

SettingsLocation SettingsStore::DefaultLocation() {
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        configHome = xdg;
    } else {
        const std::string home = HomeFolder();
        configHome = JoinPath(home.empty() ? std::string("/tmp") : home, ".config");
    }
    SettingsLocation location;
    location.userFile = JoinPath(
        EnvironmentOr("SONITOR_CONFIG_HOME", JoinPath(configHome, "Orvelsoft/Sonitor")), "settings.ini");
    location.machineFile =
        JoinPath(EnvironmentOr("SONITOR_MACHINE_CONFIG", "/etc/xdg/Orvelsoft/Sonitor"), "settings.ini");
    return location;
}

SettingsStore& SettingsStore::Default() {
    static SettingsStore store(DefaultLocation());
    return store;
}

SettingsStore& Settings() {
    return SettingsStore::Default();
}

SettingsStore::SettingsStore(SettingsLocation location) : location_(std::move(location)) {}

std::optional<std::string> SettingsStore::ReadUserValue(const std::string& section,
                                                        const std::string& name) const {
    return ReadValue(location_.userFile, section, name);
}

std::optional<std::string> SettingsStore::ReadMachineValue(const std::string& section,
                                                           const std::string& name) const {
    return ReadValue(location_.machineFile, section, name);
}

std::string SettingsStore::ReadString(const std::string& section, const std::string& name,
                                      const std::string& defaultValue) const {
    std::optional<std::string> value = ReadUserValue(section, name);
    return value ? std::move(*value) : BoundedCopy(defaultValue, kMaxValueBytes);
}

// An empty user value is stored text and hides the machine value.
std::string SettingsStore::ReadStringWithMachineFallback(const std::string& section,
                                                         const std::string& name) const {
    if (std::optional<std::string> value = ReadUserValue(section, name)) return std::move(*value);
    if (std::optional<std::string> value = ReadMachineValue(section, name)) return std::move(*value);
    return std::string();
}

int SettingsStore::ReadInt(const std::string& section, const std::string& name, int defaultValue) const {
    const std::optional<std::string> value = ReadUserValue(section, name);
    return value && !value->empty() ? ParseLeadingInt(*value) : defaultValue;
}

// Numbers treat an empty value as unset in each hive, so an empty user value
// lets the machine value through.
int SettingsStore::ReadIntWithMachineFallback(const std::string& section, const std::string& name,
                                              int defaultValue) const {
    if (const std::optional<std::string> value = ReadUserValue(section, name); value && !value->empty()) {
        return ParseLeadingInt(*value);
    }
    if (const std::optional<std::string> value = ReadMachineValue(section, name); value && !value->empty()) {
        return ParseLeadingInt(*value);
    }
    return defaultValue;
}

bool SettingsStore::ReadBool(const std::string& section, const std::string& name, bool defaultValue) const {
    const std::optional<std::string> value = ReadUserValue(section, name);
    return value && !value->empty() ? (*value)[0] != '0' : defaultValue;
}

bool SettingsStore::WriteString(const std::string& section, const std::string& name,
                                const std::string& text) const {
    return SetValue(location_.userFile, kUserFileMode, kUserFolderMode, section, name, text);
}

bool SettingsStore::WriteStringAllUsers(const std::string& section, const std::string& name,
                                        const std::string& text) const {
    // Most users may not write the machine hive; that is no reason to fail.
    SetValue(location_.machineFile, kMachineFileMode, kMachineFolderMode, section, name, text);
    return WriteString(section, name, text);
}

bool SettingsStore::WriteInt(const std::string& section, const std::string& name, int value) const {
    return WriteString(section, name, Format("%d", value));
}

bool SettingsStore::WriteIntAllUsers(const std::string& section, const std::string& name, int value) const {
    return WriteStringAllUsers(section, name, Format("%d", value));
}

bool SettingsStore::WriteBool(const std::string& section, const std::string& name, bool flag) const {
    return WriteString(section, name, flag ? "1" : "0");
}

bool SettingsStore::DeleteValue(const std::string& section, const std::string& name) const {
    if (!IsWritableSectionName(section)) return false;
    if (!FileExists(location_.userFile)) return true;
    return ModifyHive(location_.userFile, kUserFileMode, kUserFolderMode, [&](Hive& hive) {
        Section* s = FindSection(hive, section);
        if (s == nullptr) return false;
        for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
            if (EqualsIgnoreCase(it->name, name)) {
                s->entries.erase(it);
                return true;
            }
        }
        return false;
    });
}

int SettingsStore::ParseLeadingInt(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr int64_t kLimit = int64_t{INT_MAX} + 1;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Past the int range the value only saturates; stop growing.
        if (magnitude < kLimit) magnitude = magnitude * 10 + (text[i] - '0');
    }
    if (negative) return magnitude >= kLimit ? INT_MIN : static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

}  // namespace sonitor
