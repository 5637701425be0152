#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <mutex>
#include <string>

namespace sonitor {

// File id of a silence segment; never handed out for a file.
inline constexpr uint16_t kSilenceFileId = 0xFFFF;

// Process-wide reference counts of the working files "%d.aud" / "%d.grf" in
// the working folder. Every count change and every id allocation happens
// under one lock; files are deleted after the lock is left.
class WorkingFileTable {
public:
    static WorkingFileTable& Instance();

    // The first id whose count is 0 gets count 1. kSilenceFileId when every
    // id is taken.
    uint16_t TakeId();
    // Adds one reference; counts saturate at 0xFFFF. Silence is ignored.
    void AddRef(uint16_t id);
    // Drops one reference; a saturated count stays. At the last reference
    // the count becomes 0 and both files are deleted.
    void Release(uint16_t id);
    // Batched forms, one lock for the whole list.
    void AddRefs(const uint16_t* ids, size_t count, size_t stride = sizeof(uint16_t));
    void Releases(const uint16_t* ids, size_t count, size_t stride = sizeof(uint16_t));

    uint16_t Count(uint16_t id) const;
    // Number of ids with a non-zero count.
    size_t IdsInUse() const;

    // Paths of the pair in the working folder of this process.
    static std::string AudioPath(uint16_t id);
    static std::string OverviewPath(uint16_t id);

private:
    WorkingFileTable() = default;
    void DeleteFiles(uint16_t id);

    mutable std::mutex mutex_;
    std::array<uint16_t, 65536> counts_{};
    // Ids whose files are being deleted outside the lock: not handed out
    // again until the deletion is done, so a new writer's files are never
    // removed under it.
    std::bitset<65536> deleting_;
};

}  // namespace sonitor
