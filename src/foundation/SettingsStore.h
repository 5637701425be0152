#pragma once

#include <optional>
#include <string>

namespace sonitor {

// Where the two hives of the settings store live.
struct SettingsLocation {
    std::string userFile;     // the user hive, read and written
    std::string machineFile;  // the machine hive, read by the fallback readers, written by *AllUsers
};

// Every preference and remembered dialog value. Each hive is one INI-like
// text file; sections are the section names ("Settings", "StoredValues",
// "Components\lame", ...), value names are compared without regard to case,
// and every value is a string (integers as decimal, flags as "1"/"0").
//
// Every call reads the file afresh. Every write takes an exclusive flock on
// "<file>.lock", re-reads the file, changes it and replaces it atomically
// (temporary file + rename), so two processes writing different values at
// the same time lose neither. Failures never stop the program: reads yield
// the default, writes are silent (they return false for callers that care).
//
// A value read back is cut to 259 bytes (at a UTF-8 character boundary).
class SettingsStore {
public:
    // The location from the environment:
    //   user hive:    $SONITOR_CONFIG_HOME/settings.ini, else
    //                 ${XDG_CONFIG_HOME:-$HOME/.config}/Orvelsoft/Sonitor/settings.ini
    //   machine hive: $SONITOR_MACHINE_CONFIG/settings.ini, else
    //                 /etc/xdg/Orvelsoft/Sonitor/settings.ini
    static SettingsLocation DefaultLocation();

    // The process-wide store at DefaultLocation(), looked up on first use.
    static SettingsStore& Default();

    explicit SettingsStore(SettingsLocation location);

    const SettingsLocation& Location() const { return location_; }

    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue = "") const;
    std::string ReadStringWithMachineFallback(const std::string& section, const std::string& name) const;
    int ReadInt(const std::string& section, const std::string& name, int defaultValue) const;
    int ReadIntWithMachineFallback(const std::string& section, const std::string& name,
                                   int defaultValue) const;
    bool ReadBool(const std::string& section, const std::string& name, bool defaultValue) const;

    bool WriteString(const std::string& section, const std::string& name, const std::string& text) const;
    bool WriteStringAllUsers(const std::string& section, const std::string& name,
                             const std::string& text) const;
    bool WriteInt(const std::string& section, const std::string& name, int value) const;
    bool WriteIntAllUsers(const std::string& section, const std::string& name, int value) const;
    bool WriteBool(const std::string& section, const std::string& name, bool flag) const;
    bool DeleteValue(const std::string& section, const std::string& name) const;

    // The stored text (already cut to 259 bytes), or nothing when unset.
    std::optional<std::string> ReadUserValue(const std::string& section, const std::string& name) const;
    std::optional<std::string> ReadMachineValue(const std::string& section, const std::string& name) const;

    // Leading decimal digits (an optional sign first); a non-number gives 0.
    static int ParseLeadingInt(const std::string& text);

private:
    SettingsLocation location_;
};

// Shorthand for SettingsStore::Default().
SettingsStore& Settings();

}  // namespace sonitor
