#pragma once

#include <string>

namespace sonitor {

class SettingsStore;

// The folder the settings choose for working files: UserDataFolder() when
// "UseDefaultWorkingDir" ("Settings", default true) is set, else
// "WorkingFolder" ("Settings", default UserDataFolder()).
std::string ChooseWorkingFolder(const SettingsStore& settings);

enum class WorkingFolderMode {
    // The one editor instance: working files live in the chosen folder
    // itself, and every "*.aud" and "*.grf" in it is deleted at exit.
    Shared,
    // Every other process (sonitor-cli, tests): a private folder
    // "private-<pid>-XXXXXX" inside the chosen one, removed at exit, on
    // SIGINT, SIGTERM and SIGHUP, and, should the process die without
    // cleaning up, by the next process that starts (each private folder
    // holds an flock on its ".owner" file while its process lives).
    Private,
};

// Chooses and creates the working folder for this process, once. Holds it
// until ~WorkingFolderSession, which deletes the working files as the mode
// says. Only one session exists per process.
class WorkingFolderSession {
public:
    explicit WorkingFolderSession(WorkingFolderMode mode);
    WorkingFolderSession(WorkingFolderMode mode, const std::string& baseFolder);
    ~WorkingFolderSession();
    WorkingFolderSession(const WorkingFolderSession&) = delete;
    WorkingFolderSession& operator=(const WorkingFolderSession&) = delete;

    const std::string& Path() const { return path_; }
    bool Ok() const { return !path_.empty(); }

private:
    void Open(WorkingFolderMode mode, const std::string& baseFolder);
    WorkingFolderMode mode_;
    std::string path_;
    int ownerFd_ = -1;
};

// The working folder of this process. When no session has been opened, a
// Private session is opened on first use and closed at normal exit.
const std::string& WorkingFolder();

// Deletes every "*.aud", "*.grf" and "*.wbm" file in folder, whatever its
// number.
void DeleteWorkingFiles(const std::string& folder);

// Removes private folders left behind by processes that no longer run.
void RemoveStalePrivateFolders(const std::string& baseFolder);

}  // namespace sonitor
