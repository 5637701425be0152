#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "foundation/FileUtil.h"
#include "support/Bytes.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Clock = std::chrono::steady_clock;
using A = FileAccess;
using S = FileShare;
using D = FileDisposition;

void Put(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteFileAtomically(path, text));
}
const auto Get = test::FileText;
long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(RemoveFolders, EmptyFolderTakesVisibleFilesOnly) {
    const std::string dir = test::MakeTempFolder("empty");
    Put(dir + "/a", "1");
    Put(dir + "/.keep", "k");
    ASSERT_TRUE(MakeFolders(dir + "/sub"));
    EXPECT_FALSE(EmptyFolder(dir));
    EXPECT_FALSE(FileExists(dir + "/a"));
    EXPECT_TRUE(FileExists(dir + "/.keep"));
    EXPECT_TRUE(IsFolder(dir + "/sub"));
    ASSERT_EQ(unlink((dir + "/.keep").c_str()), 0);
    ASSERT_EQ(rmdir((dir + "/sub").c_str()), 0);
    Put(dir + "/b", "2");
    EXPECT_TRUE(EmptyFolder(dir));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_TRUE(EmptyFolder(dir));  // already gone
}

TEST(RemoveFolders, TreeNeverFollowsLinksAndSkipsHiddenNames) {
    const std::string outside = test::MakeTempFolder("outside");
    Put(outside + "/keep.txt", "precious");
    const std::string root = test::MakeTempFolder("tree");
    ASSERT_TRUE(MakeFolders(root + "/a/b/c"));
    Put(root + "/a/b/c/deep", "d");
    ASSERT_EQ(symlink(outside.c_str(), (root + "/dirlink").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/keep.txt").c_str(), (root + "/a/filelink").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", (root + "/dangling").c_str()), 0);
    EXPECT_TRUE(RemoveFolderTree(root));
    EXPECT_FALSE(FileExists(root));
    EXPECT_EQ(Get(outside + "/keep.txt"), "precious");

    // A hidden file deep down keeps its folder and every folder above it.
    ASSERT_TRUE(MakeFolders(root + "/sub/inner"));
    Put(root + "/sub/inner/.hidden", "h");
    Put(root + "/sub/visible", "v");
    EXPECT_FALSE(RemoveFolderTree(root));
    EXPECT_TRUE(FileExists(root + "/sub/inner/.hidden"));
    EXPECT_FALSE(FileExists(root + "/sub/visible"));
    // The full removal takes hidden names too; a link given as the root
    // goes itself.
    EXPECT_TRUE(RemoveFolderTreeFully(root.c_str()));
    EXPECT_FALSE(FileExists(root));
    ASSERT_EQ(symlink(outside.c_str(), root.c_str()), 0);
    EXPECT_TRUE(RemoveFolderTreeFully(root.c_str()));
    EXPECT_EQ(Get(outside + "/keep.txt"), "precious");
}

TEST(FileHelpers, FoldersAtomicWritesAndPositionedReads) {
    const std::string dir = test::MakeTempFolder("helpers");
    EXPECT_TRUE(MakeFolders(dir + "/x/y/z/"));
    EXPECT_TRUE(IsFolder(dir + "/x/y/z"));
    Put(dir + "/file", "0123456789");
    EXPECT_FALSE(MakeFolders(dir + "/file/sub"));

    ASSERT_TRUE(WriteFileAtomically(dir + "/x/secret", "s", 0600));
    struct stat st;
    ASSERT_EQ(stat((dir + "/x/secret").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_FALSE(WriteFileAtomically(dir + "/missing/f", "x"));
    EXPECT_FALSE(ReadWholeFile(dir + "/x").has_value());

    UniqueFd fd(open((dir + "/file").c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[8] = {};
    EXPECT_EQ(ReadAt(fd.Get(), buffer, 4, 8), 2);
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_EQ(ReadAt(fd.Get(), buffer, 4, 20), 0);
    EXPECT_EQ(ReadAt(-1, buffer, 4, 0), -1);
}

TEST(OpenFileWithRetry, DispositionsAndSharing) {
    const std::string path = test::MakeTempFolder("open") + "/f";
    EXPECT_FALSE(OpenFileWithRetry(path, A::Read, S::Read, D::OpenExisting, 1000));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(OpenFileWithRetry(path, A::Write, S::None, D::TruncateExisting, 0));
    {
        UniqueFd f = OpenFileWithRetry(path, A::Write, S::None, D::CreateNew, 0);
        ASSERT_TRUE(f && WriteAll(f.Get(), "data", 4));
    }
    const auto start = Clock::now();
    EXPECT_FALSE(OpenFileWithRetry(path, A::Write, S::None, D::CreateNew, 5000));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_LT(MsSince(start), 1000);  // not a sharing violation: no waiting
    EXPECT_TRUE(OpenFileWithRetry(path, A::Write, S::None, D::OpenAlways, 0));
    EXPECT_EQ(Get(path), "data");

    // Readers that share reading get in together; a writer does not, and a
    // refused CreateAlways leaves the holders' data alone.
    UniqueFd r1 = OpenFileWithRetry(path, A::Read, S::Read, D::OpenExisting, 0);
    UniqueFd r2 = OpenFileWithRetry(path, A::Read, S::Read, D::OpenExisting, 0);
    EXPECT_TRUE(r1 && r2);
    EXPECT_FALSE(OpenFileWithRetry(path, A::Write, S::Read, D::CreateAlways, 0));
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(Get(path), "data");
    EXPECT_TRUE(OpenFileWithRetry(path, A::ReadWrite, S::ReadWrite, D::OpenExisting, 0));
    r1.Reset();
    r2.Reset();
    EXPECT_TRUE(OpenFileWithRetry(path, A::Write, S::None, D::CreateAlways, 0));
    EXPECT_EQ(FileSize(path), 0);
}

TEST(OpenFileWithRetry, WaitsForTheHolderWithinTheBudget) {
    const std::string path = test::MakeTempFolder("retry") + "/f";
    // flock conflicts between two opens of one process just as between two
    // processes, so a thread can play the other holder.
    UniqueFd holder = OpenFileWithRetry(path, A::ReadWrite, S::None, D::CreateNew, 0);
    ASSERT_TRUE(holder);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holder.Reset();
    });
    auto start = Clock::now();
    UniqueFd second = OpenFileWithRetry(path, A::Read, S::None, D::OpenExisting, 1000);
    const long waited = MsSince(start);
    releaser.join();
    EXPECT_TRUE(second);
    EXPECT_GE(waited, 90);
    EXPECT_LT(waited, 900);

    // Waits of 1, 2, 4 ... 64 ms fit a 200 ms budget: about 127 ms in all.
    start = Clock::now();
    EXPECT_FALSE(OpenFileWithRetry(path, A::Read, S::None, D::OpenExisting, 200));
    EXPECT_EQ(errno, EWOULDBLOCK);
    const long spent = MsSince(start);
    EXPECT_GE(spent, 100);
    EXPECT_LT(spent, 600);
    EXPECT_FALSE(OpenFileWithRetry(path, A::Read, S::None, D::OpenExisting, 5));  // a tiny budget ends too
}

}  // namespace
}  // namespace sonitor
