#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

class SettingsStoreTest : public testing::Test {
protected:
    SettingsStoreTest()
        : dir_(test::MakeTempFolder("settings")),
          store_({dir_ + "/user/settings.ini", dir_ + "/machine/settings.ini"}) {}

    std::string UserText() const { return ReadWholeFile(store_.Location().userFile).value_or("<missing>"); }

    std::string dir_;
    SettingsStore store_;
};

TEST_F(SettingsStoreTest, NumbersAndFlagsAreReadFromText) {
    ASSERT_TRUE(store_.WriteString("S", "empty", ""));
    EXPECT_EQ(store_.ReadInt("S", "empty", 42), 42);
    EXPECT_TRUE(store_.ReadBool("S", "empty", true));
    EXPECT_FALSE(store_.ReadBool("S", "empty", false));
    EXPECT_EQ(store_.ReadString("S", "empty", "default"), "");
    EXPECT_EQ(store_.ReadString("S", "unset", "default"), "default");
    EXPECT_EQ(store_.ReadInt("S", "unset", -9), -9);

    // clang-format off
    const std::vector<std::pair<std::string, int>> numbers = {
        {"007", 7}, {"12abc", 12}, {"abc", 0}, {"-5", -5}, {"+3", 3}, {"-", 0}, {" 5", 0}, {"0x1F", 0},
        {"2147483647", INT_MAX}, {"99999999999", INT_MAX}, {"-2147483648", INT_MIN}, {"-99999999999", INT_MIN}};
    // clang-format on
    for (const auto& [text, value] : numbers) {
        ASSERT_TRUE(store_.WriteString("S", "n", text));
        EXPECT_EQ(store_.ReadInt("S", "n", 1234), value) << text;
    }
    for (const auto& [text, flag] : std::vector<std::pair<std::string, bool>>{
             {"yes", true}, {"00", false}, {"0", false}, {"1", true}, {"false", true}, {" 0", true}}) {
        ASSERT_TRUE(store_.WriteString("S", "b", text));
        EXPECT_EQ(store_.ReadBool("S", "b", !flag), flag) << text;
    }
    ASSERT_TRUE(store_.WriteInt("S", "i", -17));
    ASSERT_TRUE(store_.WriteBool("S", "t", true));
    ASSERT_TRUE(store_.WriteBool("S", "f", false));
    EXPECT_EQ(store_.ReadString("S", "i"), "-17");
    EXPECT_EQ(store_.ReadString("S", "t"), "1");
    EXPECT_EQ(store_.ReadString("S", "f"), "0");
}

TEST_F(SettingsStoreTest, AwkwardNamesAndValuesRoundTripExactly) {
    // clang-format off
    const std::vector<std::string> texts = {
        "a=b=c", "line1\nline2\r\n", "C:\\dir\\", "  spaced  ", "\\n is not a newline", "[not a section]",
        "=", "", "\\", "tab\there", "\xC3\xA9t\xC3\xA9"};
    // clang-format on
    for (size_t i = 0; i < texts.size(); ++i) {
        ASSERT_TRUE(store_.WriteString("Components\\lame", "v" + std::to_string(i), texts[i]));
        ASSERT_TRUE(store_.WriteString("Names", texts[i], std::to_string(i)));
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(store_.ReadString("Components\\lame", "v" + std::to_string(i), "?"), texts[i]) << i;
        EXPECT_EQ(store_.ReadString("Names", texts[i], "?"), std::to_string(i)) << i;
    }
    EXPECT_FALSE(store_.WriteString("a]b", "x", "1"));
    EXPECT_FALSE(store_.WriteString("a\nb", "x", "1"));
    EXPECT_TRUE(store_.WriteString("Odd [x", "x", "1"));
    EXPECT_EQ(store_.ReadString("odd [X", "X"), "1");
}

TEST_F(SettingsStoreTest, FileLayoutIsPlainAndKeepsOrderAndFirstSpelling) {
    ASSERT_TRUE(store_.WriteString("Settings", "WorkingFolder", "/a"));
    ASSERT_TRUE(store_.WriteString("Recent", "File1", "x=y\\z\n"));
    ASSERT_TRUE(store_.WriteString("Settings", "Zeta", "1"));
    ASSERT_TRUE(store_.WriteString("SETTINGS", "workingfolder", "/b"));
    ASSERT_TRUE(store_.WriteString("Recent", "a=b", "v"));
    EXPECT_EQ(UserText(),
              "[Settings]\nWorkingFolder=/b\nZeta=1\n\n"
              "[Recent]\nFile1=x=y\\\\z\\n\na\\=b=v\n");
    EXPECT_EQ(store_.ReadString("settings", "WORKINGFOLDER"), "/b");
    ASSERT_TRUE(store_.DeleteValue("recent", "FILE1"));
    ASSERT_TRUE(store_.DeleteValue("Recent", "never there"));
    EXPECT_FALSE(store_.ReadUserValue("Recent", "File1").has_value());
    EXPECT_EQ(store_.ReadString("Recent", "a=b"), "v");

    struct stat st;
    ASSERT_EQ(stat(store_.Location().userFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A file written by hand: stray lines are ignored, nothing is trimmed.
    ASSERT_TRUE(
        WriteFileAtomically(store_.Location().userFile,
                            "stray=before any section\n[Components\\lame]\ngarbage\n Path = /usr/bin/lame\n"
                            "Path=/usr/bin/lame\r\n"));
    EXPECT_EQ(store_.ReadString("components\\LAME", " Path "), " /usr/bin/lame");
    EXPECT_EQ(store_.ReadString("Components\\lame", "Path"), "/usr/bin/lame\r");
    EXPECT_EQ(store_.ReadString("Components\\lame", "stray", "-"), "-");
}

TEST_F(SettingsStoreTest, LongValuesAreCutAtACharacterBoundary) {
    ASSERT_TRUE(store_.WriteString("S", "long", std::string(300, 'x')));
    EXPECT_EQ(store_.ReadString("S", "long"), std::string(259, 'x'));
    ASSERT_TRUE(store_.WriteString("S", "euro", std::string(257, 'a') + "\xE2\x82\xAC"));
    EXPECT_EQ(store_.ReadString("S", "euro"), std::string(257, 'a'));
    EXPECT_EQ(store_.ReadString("S", "unset", std::string(300, 'd')), std::string(259, 'd'));
}

TEST_F(SettingsStoreTest, MachineHiveBacksUpTheUserHive) {
    EXPECT_EQ(store_.ReadStringWithMachineFallback("S", "v"), "");
    EXPECT_EQ(store_.ReadIntWithMachineFallback("S", "n", 3), 3);
    EXPECT_FALSE(FileExists(store_.Location().userFile));  // reads create nothing

    SettingsStore machineOnly({dir_ + "/machine/settings.ini", dir_ + "/none"});
    ASSERT_TRUE(machineOnly.WriteString("S", "v", "machine"));
    ASSERT_TRUE(machineOnly.WriteString("S", "n", "5"));
    EXPECT_EQ(store_.ReadStringWithMachineFallback("S", "v"), "machine");
    EXPECT_EQ(store_.ReadString("S", "v", "-"), "-");
    EXPECT_EQ(store_.ReadIntWithMachineFallback("S", "n", 3), 5);

    // An empty text is stored text and hides the machine's; an empty number
    // is no number and does not.
    ASSERT_TRUE(store_.WriteString("S", "v", ""));
    ASSERT_TRUE(store_.WriteString("S", "n", ""));
    EXPECT_EQ(store_.ReadStringWithMachineFallback("S", "v"), "");
    EXPECT_EQ(store_.ReadIntWithMachineFallback("S", "n", 3), 5);
    ASSERT_TRUE(store_.WriteInt("S", "n", 7));
    EXPECT_EQ(store_.ReadIntWithMachineFallback("S", "n", 3), 7);

    ASSERT_TRUE(store_.WriteIntAllUsers("S", "both", 11));
    EXPECT_EQ(store_.ReadMachineValue("S", "both"), "11");
    EXPECT_EQ(store_.ReadUserValue("S", "both"), "11");

    // A machine hive we may not write does not stop the user's write.
    const std::string blocker = dir_ + "/blocker";
    ASSERT_TRUE(WriteFileAtomically(blocker, "a file, not a folder"));
    SettingsStore locked({dir_ + "/user/settings.ini", blocker + "/settings.ini"});
    EXPECT_TRUE(locked.WriteStringAllUsers("S", "all", "u"));
    EXPECT_EQ(locked.ReadString("S", "all"), "u");
    EXPECT_FALSE(locked.ReadMachineValue("S", "all").has_value());
}

TEST_F(SettingsStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const auto writeMany = [&](const char* who) {
        char start;
        if (read(go[0], &start, 1) != 1) return false;
        bool ok = true;
        for (int i = 0; i < 200; ++i)
            ok = store_.WriteInt("Race", Format("%s%d", who, i), i) && ok;
        return ok;
    };
    const pid_t child = fork();
    if (child == 0) _exit(writeMany("child") ? 0 : 1);
    ASSERT_EQ(write(go[1], "gg", 2), 2);  // both start together
    EXPECT_TRUE(writeMany("parent"));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(go[0]);
    close(go[1]);

    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(store_.ReadInt("Race", Format("child%d", i), -1), i);
        EXPECT_EQ(store_.ReadInt("Race", Format("parent%d", i), -1), i);
    }
    const std::string text = UserText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 401);
    EXPECT_EQ(text.rfind("[Race]\n", 0), 0u);
    // Only the hive and its lock are left in the folder.
    std::vector<std::string> names;
    if (DIR* d = opendir((dir_ + "/user").c_str())) {
        while (const dirent* e = readdir(d))
            names.emplace_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "settings.ini", "settings.ini.lock"}));
}

TEST(SettingsLocation, FollowsTheEnvironment) {
    const std::string home = std::getenv("HOME");
    const std::string xdg = std::getenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsStore::DefaultLocation().userFile,
              std::string(std::getenv("SONITOR_CONFIG_HOME")) + "/settings.ini");
    EXPECT_EQ(SettingsStore::DefaultLocation().machineFile,
              std::string(std::getenv("SONITOR_MACHINE_CONFIG")) + "/settings.ini");
    EXPECT_EQ(Settings().Location().userFile, SettingsStore::DefaultLocation().userFile);
    const test::ScopedEnv noUser("SONITOR_CONFIG_HOME", std::nullopt);
    const test::ScopedEnv noMachine("SONITOR_MACHINE_CONFIG", std::nullopt);
    EXPECT_EQ(SettingsStore::DefaultLocation().userFile, xdg + "/Orvelsoft/Sonitor/settings.ini");
    EXPECT_EQ(SettingsStore::DefaultLocation().machineFile, "/etc/xdg/Orvelsoft/Sonitor/settings.ini");
    const test::ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(SettingsStore::DefaultLocation().userFile, home + "/.config/Orvelsoft/Sonitor/settings.ini");
}

}  // namespace
}  // namespace sonitor
