#include "document/WorkingFileTable.h"

#include <new>
#include <vector>

#include <unistd.h>

#include "foundation/Paths.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {

namespace {

const uint16_t& IdAt(const uint16_t* ids, size_t index, size_t stride) {
    // The ids sit inside larger records (segments); stride is the record size.
    return *reinterpret_cast<const uint16_t*>(reinterpret_cast<const char*>(ids) + index * stride);
}

}  // namespace

WorkingFileTable& WorkingFileTable::Instance() {
    // Never destroyed: clips in static storage may still let go of their
    // files while the process exits.
    alignas(WorkingFileTable) static unsigned char storage[sizeof(WorkingFileTable)];
    static WorkingFileTable* const table = new (storage) WorkingFileTable();
    return *table;
}

uint16_t WorkingFileTable::TakeId() {
    std::lock_guard lock(mutex_);
    for (uint32_t id = 0; id < kSilenceFileId; ++id) {
        if (counts_[id] == 0 && !deleting_.test(id)) {
            counts_[id] = 1;
            return static_cast<uint16_t>(id);
        }
    }
    return kSilenceFileId;
}

void WorkingFileTable::AddRef(uint16_t id) {
    AddRefs(&id, 1);
}

void WorkingFileTable::Release(uint16_t id) {
    Releases(&id, 1);
}

void WorkingFileTable::AddRefs(const uint16_t* ids, size_t count, size_t stride) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < count; ++i) {
        const uint16_t id = IdAt(ids, i, stride);
        if (id != kSilenceFileId && counts_[id] < 0xFFFF) ++counts_[id];
    }
}

void WorkingFileTable::Releases(const uint16_t* ids, size_t count, size_t stride) {
    std::vector<uint16_t> doomed;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < count; ++i) {
            const uint16_t id = IdAt(ids, i, stride);
            if (id == kSilenceFileId) continue;
            uint16_t& n = counts_[id];
            // A saturated count has lost track of its holders: keep the files.
            // A count of 0 has nothing to release.
            if (n == 0xFFFF || n == 0) continue;
            if (--n == 0) {
                deleting_.set(id);
                doomed.push_back(id);
            }
        }
    }
    if (doomed.empty()) return;
    for (uint16_t id : doomed)
        DeleteFiles(id);
    std::lock_guard lock(mutex_);
    for (uint16_t id : doomed)
        deleting_.reset(id);
}

uint16_t WorkingFileTable::Count(uint16_t id) const {
    std::lock_guard lock(mutex_);
    return counts_[id];
}

size_t WorkingFileTable::IdsInUse() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (uint16_t c : counts_)
        n += c != 0;
    return n;
}

std::string WorkingFileTable::AudioPath(uint16_t id) {
    return JoinPath(WorkingFolder(), Format("%d.aud", static_cast<int>(id)));
}

std::string WorkingFileTable::OverviewPath(uint16_t id) {
    return JoinPath(WorkingFolder(), Format("%d.grf", static_cast<int>(id)));
}

void WorkingFileTable::DeleteFiles(uint16_t id) {
    ::unlink(AudioPath(id).c_str());
    ::unlink(OverviewPath(id).c_str());
    // A spectrogram cached beside the file is of no use once it is gone.
    ::unlink(JoinPath(WorkingFolder(), Format("%d.wbm", static_cast<int>(id))).c_str());
}

}  // namespace sonitor
