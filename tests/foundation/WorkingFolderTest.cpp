#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

using test::InChild;

// A forked child that opens a private session in base, reports the folder
// through a pipe, then does whatever `then` says.
struct Child {
    pid_t pid = -1;
    std::string folder;
    int release = -1;  // write a byte here to let the child go on

    template <class Then>
    static Child Start(const std::string& base, Then then) {
        int report[2];
        int go[2];
        if (pipe(report) != 0 || pipe(go) != 0) std::abort();
        Child c;
        c.pid = fork();
        if (c.pid == 0) {
            WorkingFolderSession session(WorkingFolderMode::Private, base);
            WriteFileAtomically(session.Path() + "/1.aud", "audio");
            MakeFolders(session.Path() + "/sub");
            WriteFileAtomically(session.Path() + "/sub/.hidden", "h");
            const std::string line = session.Path() + "\n";
            WriteAll(report[1], line.data(), line.size());
            char byte;
            if (read(go[0], &byte, 1) != 1) _exit(3);
            then();
            _exit(4);
        }
        close(report[1]);
        close(go[0]);
        char ch;
        while (read(report[0], &ch, 1) == 1 && ch != '\n')
            c.folder += ch;
        close(report[0]);
        c.release = go[1];
        return c;
    }

    // Lets the child go on and returns how it ended.
    int Finish() {
        if (write(release, "x", 1) != 1) return -1;
        close(release);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST(WorkingFolder, ChosenBySettings) {
    const std::string dir = test::MakeTempFolder("choose");
    SettingsStore store({dir + "/user.ini", dir + "/machine.ini"});
    EXPECT_EQ(ChooseWorkingFolder(store), UserDataFolder());
    store.WriteString("Settings", "WorkingFolder", "/srv/work");
    EXPECT_EQ(ChooseWorkingFolder(store), UserDataFolder());  // the flag still says default
    store.WriteBool("Settings", "UseDefaultWorkingDir", false);
    EXPECT_EQ(ChooseWorkingFolder(store), "/srv/work");
    store.WriteString("Settings", "WorkingFolder", "");
    EXPECT_EQ(ChooseWorkingFolder(store), UserDataFolder());
}

TEST(WorkingFolder, ThisProcessWorksInAPrivateFolderItOwns) {
    const std::string& folder = WorkingFolder();
    EXPECT_EQ(folder.rfind(ChooseWorkingFolder(Settings()) + Format("/private-%d-", getpid()), 0), 0u)
        << folder;
    EXPECT_TRUE(IsFolder(folder));
    // The owner file is held: a sweep from here must leave the folder alone.
    RemoveStalePrivateFolders(ChooseWorkingFolder(Settings()));
    EXPECT_TRUE(FileExists(folder + "/.owner"));
}

TEST(WorkingFolder, TerminatingSignalsRemoveThePrivateFolder) {
    const std::string base = test::MakeTempFolder("signal");
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        Child child = Child::Start(base, [signalNumber] { raise(signalNumber); });
        ASSERT_TRUE(FileExists(child.folder + "/1.aud"));
        EXPECT_EQ(child.Finish(), 128 + signalNumber);  // still dies of the signal
        EXPECT_FALSE(FileExists(child.folder)) << strsignal(signalNumber);
    }
    EXPECT_TRUE(IsFolder(base));
}

TEST(WorkingFolder, FoldersOfDeadProcessesAreSweptLiveOnesKept) {
    const std::string base = test::MakeTempFolder("stale");
    Child crashed = Child::Start(base, [] { _exit(0); });  // no cleanup
    EXPECT_EQ(crashed.Finish(), 0);
    ASSERT_TRUE(IsFolder(crashed.folder));
    Child alive = Child::Start(base, [] { _exit(0); });
    // Marked folders without an owner file: one of a dead process, one of ours.
    const std::string deadUnmarked = base + "/private-999999999-abc";
    const std::string liveUnmarked = base + Format("/private-%d-abc", getpid());
    ASSERT_TRUE(MakeFolders(deadUnmarked) && MakeFolders(liveUnmarked) && MakeFolders(base + "/keep"));
    ASSERT_TRUE(WriteFileAtomically(base + "/private-file", "not a folder"));

    RemoveStalePrivateFolders(base);
    EXPECT_FALSE(FileExists(crashed.folder));
    EXPECT_TRUE(FileExists(alive.folder + "/sub/.hidden"));
    EXPECT_FALSE(FileExists(deadUnmarked));
    EXPECT_TRUE(IsFolder(liveUnmarked));
    EXPECT_TRUE(IsFolder(base + "/keep"));
    EXPECT_TRUE(FileExists(base + "/private-file"));

    EXPECT_EQ(alive.Finish(), 0);
    RemoveStalePrivateFolders(base);
    EXPECT_FALSE(FileExists(alive.folder));
}

TEST(WorkingFolder, SessionEndCleansUpAsTheModeSays) {
    // Private: the folder goes, hidden files and all, and so does the
    // signal handler.
    const std::string base = test::MakeTempFolder("end");
    EXPECT_EQ(InChild([&] {
                  std::string folder;
                  {
                      WorkingFolderSession session(WorkingFolderMode::Private, base);
                      folder = session.Path();
                      if (!WriteFileAtomically(folder + "/.x", "x")) return 1;
                  }
                  struct sigaction now;
                  sigaction(SIGTERM, nullptr, &now);
                  return FileExists(folder) ? 2 : now.sa_handler != SIG_DFL ? 3 : 0;
              }),
              0);

    // Shared: the folder stays, and only working files go, whatever their number.
    const std::string shared = test::MakeTempFolder("shared");
    const std::vector<std::string> doomed = {"1.aud", "12345.grf", "7.AUD", "x.aud"};
    const std::vector<std::string> kept = {"keep.wav", "aud", ".aud", "x.aud.bak", "grf"};
    for (const auto& name : doomed)
        ASSERT_TRUE(WriteFileAtomically(shared + "/" + name, "d"));
    for (const auto& name : kept)
        ASSERT_TRUE(WriteFileAtomically(shared + "/" + name, "k"));
    ASSERT_TRUE(MakeFolders(shared + "/folder.aud"));
    EXPECT_EQ(InChild([&] {
                  WorkingFolderSession session(WorkingFolderMode::Shared, shared);
                  return session.Path() == shared ? 0 : 1;
              }),
              0);
    for (const auto& name : doomed)
        EXPECT_FALSE(FileExists(shared + "/" + name)) << name;
    for (const auto& name : kept)
        EXPECT_TRUE(FileExists(shared + "/" + name)) << name;
    EXPECT_TRUE(IsFolder(shared + "/folder.aud"));
    RemoveFolderTreeFully(shared.c_str());
}

TEST(WorkingFolderDeathTest, OneSessionPerProcess) {
    const std::string base = test::MakeTempFolder("twice");
    EXPECT_DEATH(
        {
            WorkingFolderSession first(WorkingFolderMode::Private, base);
            WorkingFolderSession second(WorkingFolderMode::Private, base);
        },
        "second working-folder session");
    RemoveStalePrivateFolders(base);  // the aborted child's
}

}  // namespace
}  // namespace sonitor
