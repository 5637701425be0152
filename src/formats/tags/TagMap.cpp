#include "formats/tags/TagMap.h"

#include "foundation/Paths.h"

namespace sonitor {

bool IsStandardTagKey(std::string_view key) {
    for (const std::string_view standard : kStandardTagKeys) {
        if (key == standard) return true;
    }
    return false;
}

std::string CutTagValue(std::string_view value) {
    return BoundedCopy(value, kMaxTagValueBytes);
}

TagMap::TagMap(const std::vector<TagEntry>& entries) {
    for (const TagEntry& entry : entries)
        Set(entry.key, entry.value);
}

void TagMap::Set(std::string_view key, std::string_view value, TagSetMode mode) {
    if (key.empty()) return;
    for (TagEntry& entry : entries_) {
        if (entry.key != key) continue;
        if (mode == TagSetMode::Overwrite || entry.value.empty()) entry.value = CutTagValue(value);
        return;
    }
    if (mode == TagSetMode::FillOnly && value.empty()) return;
    entries_.push_back(TagEntry{std::string(key), CutTagValue(value)});
}

const std::string* TagMap::Find(std::string_view key) const {
    for (const TagEntry& entry : entries_) {
        if (entry.key == key) return &entry.value;
    }
    return nullptr;
}

std::string TagMap::Get(std::string_view key) const {
    const std::string* value = Find(key);
    return value ? *value : std::string();
}

bool TagMap::Remove(std::string_view key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

bool TagMap::operator==(const TagMap& other) const {
    if (entries_.size() != other.entries_.size()) return false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].key != other.entries_[i].key || entries_[i].value != other.entries_[i].value)
            return false;
    }
    return true;
}

}  // namespace sonitor
