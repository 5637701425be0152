#include <cstdlib>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/WorkingFolder.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

std::string Env(const char* name) {
    return std::getenv(name);
}

TEST(Folders, DataFoldersFollowTheEnvironmentAndAreCreated) {
    EXPECT_EQ(UserDataFolder(), Env("XDG_DATA_HOME") + "/Orvelsoft/Sonitor");
    EXPECT_TRUE(IsFolder(UserDataFolder()));
    {
        const std::string fallback = [] {
            const test::ScopedEnv unset("XDG_DATA_HOME", std::nullopt);
            return UserDataFolder();
        }();
        EXPECT_EQ(fallback, Env("HOME") + "/.local/share/Orvelsoft/Sonitor");
        EXPECT_TRUE(IsFolder(fallback));
        RemoveFolderTreeFully((Env("HOME") + "/.local").c_str());
    }
    EXPECT_EQ(SharedDataFolder(), Env("SONITOR_SHARED_DATA"));
    const std::string presets = SharedDataSubFolder("Presets/Effects");
    EXPECT_EQ(presets, Env("SONITOR_SHARED_DATA") + "/Presets/Effects");
    for (const std::string& level : {SharedDataFolder() + "/Presets", presets}) {
        struct stat st;
        ASSERT_EQ(stat(level.c_str(), &st), 0) << level;
        EXPECT_EQ(st.st_mode & 07777, 01777u) << level;  // everyone may share it
    }
}

TEST(Folders, FreeSpaceOfAMissingPathIsThatOfItsNearestFolder) {
    const std::string root = test::PrivateRoot();
    const uint32_t here = FreeSpaceKiB(root);
    EXPECT_GT(here, 0u);
    // Other processes write too; allow some drift between the two looks.
    EXPECT_NEAR(static_cast<double>(FreeSpaceKiB(root + "/not/yet/made")), here, 65536.0);
    EXPECT_GT(FreeSpaceKiB("relative/missing"), 0u);
}

TEST(Folders, LowDiskSpaceIsReportedBelowThreeMiB) {
    struct RestoreProbe {
        ~RestoreProbe() { SetFreeSpaceProbeForTesting(nullptr); }
    } restore;
    std::string measured;
    uint32_t free = 0;
    SetFreeSpaceProbeForTesting([&](const std::string& path) {
        measured = path;
        return free;
    });
    const std::string message = "The last action you performed to the file \"x.wav\" might not be saved.";
    test::ScriptedPrompt prompt;

    free = 2969;  // 2.9 MiB
    EXPECT_FALSE(CheckWorkingFolderSpace(prompt, message));
    EXPECT_EQ(measured, WorkingFolder());
    ASSERT_EQ(prompt.History().size(), 1u);
    EXPECT_EQ(prompt.History()[0].title, "Low Disk Space");
    EXPECT_EQ(prompt.History()[0].text, message);
    EXPECT_EQ(prompt.History()[0].icon, PromptIcon::Information);
    EXPECT_EQ(prompt.History()[0].buttons, PromptButtons::Ok);

    free = 3071;
    EXPECT_FALSE(CheckWorkingFolderSpace(prompt, message));
    free = 3072;
    EXPECT_TRUE(CheckWorkingFolderSpace(prompt, message));
    free = 0xFFFFFFFFu;
    EXPECT_TRUE(CheckWorkingFolderSpace(prompt, message));
    EXPECT_EQ(prompt.History().size(), 2u);
}

}  // namespace
}  // namespace sonitor
