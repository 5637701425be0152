#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sonitor {

class UserPrompt;

// $HOME, else the home folder in the password database; empty when neither
// names one.
std::string HomeFolder();

// ${XDG_DATA_HOME:-$HOME/.local/share}/Orvelsoft/Sonitor, created when
// missing. Without a home folder, /tmp/Orvelsoft/Sonitor.
std::string UserDataFolder();
// $SONITOR_SHARED_DATA when set; else /var/lib/Orvelsoft/Sonitor when it can
// be created (new levels are made world-writable with the sticky bit); else
// UserDataFolder().
std::string SharedDataFolder();
// A named folder inside SharedDataFolder(), created with the same rights.
std::string SharedDataSubFolder(const std::string& name);

// Free space available to the caller on the file system that holds path
// (its nearest existing ancestor), in KiB, limited to 0xFFFFFFFF. When it
// cannot be measured the answer is 16,777,216 KiB (16 GiB): plenty.
uint32_t FreeSpaceKiB(const std::string& path);

// Tests replace the measurement to simulate full disks; an empty function
// restores the real one.
void SetFreeSpaceProbeForTesting(std::function<uint32_t(const std::string&)> probe);

// True when the working folder's file system has at least 3 MiB free.
// Otherwise shows message under the title "Low Disk Space" with an
// information icon and returns false.
bool CheckWorkingFolderSpace(UserPrompt& prompt, const std::string& message);

}  // namespace sonitor
