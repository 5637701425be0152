#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/WorkingFileTable.h"
#include "foundation/FileUtil.h"

namespace sonitor {
namespace {

WorkingFileTable& Table() {
    return WorkingFileTable::Instance();
}

bool WriteSmallFile(const std::string& path, const std::string& contents) {
    UniqueFd fd(::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600));
    return fd && WriteAll(fd.Get(), contents.data(), contents.size());
}

void CreatePair(uint16_t id, const std::string& contents) {
    ASSERT_TRUE(WriteSmallFile(WorkingFileTable::AudioPath(id), contents));
    ASSERT_TRUE(WriteSmallFile(WorkingFileTable::OverviewPath(id), contents));
}

bool PairExists(uint16_t id) {
    return FileExists(WorkingFileTable::AudioPath(id)) || FileExists(WorkingFileTable::OverviewPath(id));
}

TEST(WorkingFileTable, HandsOutTheLowestFreeIdAndDeletesAtTheLastRelease) {
    const size_t inUse = Table().IdsInUse();
    const uint16_t a = Table().TakeId();
    const uint16_t b = Table().TakeId();
    ASSERT_NE(a, kSilenceFileId);
    EXPECT_GT(b, a);
    EXPECT_EQ(Table().Count(a), 1);
    EXPECT_EQ(Table().IdsInUse(), inUse + 2);
    CreatePair(a, "a");

    Table().AddRef(a);
    Table().AddRef(kSilenceFileId);
    Table().Release(kSilenceFileId);
    EXPECT_EQ(Table().Count(a), 2);
    EXPECT_EQ(Table().Count(kSilenceFileId), 0);
    Table().Release(a);
    EXPECT_TRUE(PairExists(a));
    Table().Release(a);
    EXPECT_EQ(Table().Count(a), 0);
    EXPECT_FALSE(PairExists(a));
    // A stray release of a free id changes nothing.
    Table().Release(a);
    EXPECT_EQ(Table().Count(a), 0);

    EXPECT_EQ(Table().TakeId(), a);
    Table().Release(a);
    Table().Release(b);
    EXPECT_EQ(Table().IdsInUse(), inUse);
}

TEST(WorkingFileTable, BatchesFollowTheStride) {
    const uint16_t a = Table().TakeId();
    const uint16_t b = Table().TakeId();
    CreatePair(a, "a");
    CreatePair(b, "b");
    const ClipSegment segs[] = {{a, 1, kUnityGain, 0},
                                {kSilenceFileId, 5, kUnityGain, 0},
                                {b, 1, kUnityGain, 0},
                                {a, 1, kUnityGain, 7}};
    Table().AddRefs(&segs[0].fileId, std::size(segs), sizeof(ClipSegment));
    EXPECT_EQ(Table().Count(a), 3);
    EXPECT_EQ(Table().Count(b), 2);
    Table().Releases(&segs[0].fileId, std::size(segs), sizeof(ClipSegment));
    EXPECT_EQ(Table().Count(a), 1);
    EXPECT_EQ(Table().Count(b), 1);
    // Both last references in one batch, one of them twice over.
    const uint16_t ids[] = {a, b, a};
    Table().AddRef(a);
    Table().Releases(ids, std::size(ids));
    EXPECT_EQ(Table().Count(a), 0);
    EXPECT_EQ(Table().Count(b), 0);
    EXPECT_FALSE(PairExists(a));
    EXPECT_FALSE(PairExists(b));
}

TEST(WorkingFileTable, SaturatedCountsStay) {
    const uint16_t id = Table().TakeId();
    CreatePair(id, "kept");
    std::vector<uint16_t> many(0x10000, id);
    Table().AddRefs(many.data(), many.size());
    EXPECT_EQ(Table().Count(id), 0xFFFF);
    Table().Releases(many.data(), many.size());
    EXPECT_EQ(Table().Count(id), 0xFFFF);
    EXPECT_TRUE(PairExists(id));
    // The id stays taken for the rest of the run; only its files go.
    std::remove(WorkingFileTable::AudioPath(id).c_str());
    std::remove(WorkingFileTable::OverviewPath(id).c_str());
}

// A released id must not be handed out while its old files are still being
// deleted, or the new owner's files would vanish under it.
TEST(WorkingFileTable, IdsAreNotReusedWhileTheirFilesAreBeingDeleted) {
    const size_t inUse = Table().IdsInUse();
    std::atomic<int> lost{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&lost, t] {
            for (int i = 0; i < 1000; ++i) {
                const uint16_t id = Table().TakeId();
                const std::string mark = std::to_string(t) + ":" + std::to_string(i);
                if (!WriteSmallFile(WorkingFileTable::AudioPath(id), mark)) ++lost;
                Table().AddRef(id);
                Table().Release(id);
                if (ReadWholeFile(WorkingFileTable::AudioPath(id)) != mark) ++lost;
                Table().Release(id);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(Table().IdsInUse(), inUse);
}

}  // namespace
}  // namespace sonitor
