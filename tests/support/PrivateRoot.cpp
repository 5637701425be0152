// Gives a test process a private root folder with its own user and machine
// settings hives, data folders, runtime folder and working folder, and the
// null audio backend, so tests run in parallel without touching each other
// or the user's files.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/FileUtil.h"
#include "foundation/WorkingFolder.h"
#include "support/TestEnvironment.h"

namespace sonitor::test {

void SetPrivateRoot(const std::string& root);

int RunInPrivateRoot(const std::function<int()>& body) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sonitor-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string root = pattern;
    SetPrivateRoot(root);

    const auto set = [](const char* name, const std::string& value) { setenv(name, value.c_str(), 1); };
    set("HOME", root + "/home");
    set("XDG_CONFIG_HOME", root + "/config");
    set("XDG_DATA_HOME", root + "/data");
    set("XDG_RUNTIME_DIR", root + "/run");
    set("SONITOR_CONFIG_HOME", root + "/config/Orvelsoft/Sonitor");
    set("SONITOR_MACHINE_CONFIG", root + "/machine");
    set("SONITOR_SHARED_DATA", root + "/shared");
    set("SONITOR_AUDIO", "null");
    MakeFolders(root + "/home", 0700);
    MakeFolders(root + "/run", 0700);

    int result;
    {
        WorkingFolderSession session(WorkingFolderMode::Private);
        result = body();
    }
    if (std::getenv("SONITOR_KEEP_TEST_ROOT") == nullptr) RemoveFolderTreeFully(root.c_str());
    return result;
}

}  // namespace sonitor::test
