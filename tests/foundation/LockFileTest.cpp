#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "foundation/FileUtil.h"
#include "foundation/LockFile.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

using test::InChild;

TEST(LockFile, LockPathNeverNamesTheFileItself) {
    EXPECT_EQ(LockPathFor("/tmp/Temp1.wav"), "/tmp/Temp1.lck");
    EXPECT_EQ(LockPathFor("a/b"), "a/b.lck");
    EXPECT_EQ(LockPathFor("a.d/b"), "a.d/b.lck");
    EXPECT_EQ(LockPathFor("a/x.lck"), "a/x.lck.lck");
    EXPECT_EQ(LockPathFor("a/x.LCK"), "a/x.LCK.lck");
}

TEST(LockFile, AnotherProcessIsRefusedUntilRelease) {
    const std::string dir = test::MakeTempFolder("lock");
    const std::string path = dir + "/Temp1.wav";
    const std::string lockPath = dir + "/Temp1.lck";
    LockFile first;
    ASSERT_TRUE(AcquireLockFile(first, path));
    ASSERT_TRUE(first.Held());
    EXPECT_EQ(first.LockPath(), lockPath);
    EXPECT_TRUE(FileExists(lockPath));

    EXPECT_EQ(InChild([&] {
                  LockFile second;
                  return !AcquireLockFile(second, path) && !second.Held() ? 0 : 1;
              }),
              0);
    first.Release();
    EXPECT_FALSE(first.Held());
    EXPECT_FALSE(FileExists(lockPath));
    EXPECT_EQ(InChild([&] {
                  LockFile second;
                  return AcquireLockFile(second, path) && second.Held() && FileExists(lockPath) ? 0 : 1;
              }),
              0);
    EXPECT_FALSE(FileExists(lockPath));  // the child's release removed it

    // Taking a new lock gives up the old one; so does moving over it.
    ASSERT_TRUE(AcquireLockFile(first, dir + "/a.wav"));
    ASSERT_TRUE(AcquireLockFile(first, dir + "/b.wav"));
    EXPECT_FALSE(FileExists(dir + "/a.lck"));
    LockFile other;
    ASSERT_TRUE(AcquireLockFile(other, dir + "/c.wav"));
    other = std::move(first);
    EXPECT_FALSE(FileExists(dir + "/c.lck"));
    EXPECT_TRUE(other.Held());
    EXPECT_EQ(other.LockPath(), dir + "/b.lck");
    // A lock that cannot be made at all lets the caller go on unlocked.
    LockFile nowhere;
    EXPECT_TRUE(AcquireLockFile(nowhere, dir + "/missing/x.wav"));
    EXPECT_FALSE(nowhere.Held());
}

TEST(LockFile, NeverTwoHoldersWhileOthersReleaseAndDelete) {
    // Releasing deletes the file; a contender that opened the old file just
    // before must notice and not count itself a holder.
    const std::string path = test::MakeTempFolder("race") + "/Temp1.wav";
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> acquired{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                LockFile lock;
                if (!AcquireLockFile(lock, path) || !lock.Held()) continue;
                ++acquired;
                if (++inside != 1) ++overlaps;
                std::this_thread::yield();  // give a wrongful second holder time to show up
                if (inside != 1) ++overlaps;
                --inside;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(acquired.load(), 0);
}

}  // namespace
}  // namespace sonitor
