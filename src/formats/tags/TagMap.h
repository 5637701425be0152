#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "document/SoundDocument.h"

namespace sonitor {

// The program's own tag keys. A tag without one of these keeps the name it
// has in the file (an ID3v2 frame id such as "TPE2").
inline constexpr std::string_view kTagTitle = "TITLE";
inline constexpr std::string_view kTagArtist = "ARTIST";
inline constexpr std::string_view kTagAlbum = "ALBUM";
inline constexpr std::string_view kTagDate = "DATE";
inline constexpr std::string_view kTagComment = "COMMENT";
inline constexpr std::string_view kTagTrackNumber = "TRACKNUMBER";
inline constexpr std::string_view kTagGenre = "GENRE";

inline constexpr std::string_view kStandardTagKeys[] = {kTagTitle,   kTagArtist,      kTagAlbum, kTagDate,
                                                        kTagComment, kTagTrackNumber, kTagGenre};

bool IsStandardTagKey(std::string_view key);

// Values are UTF-8 of at most this many bytes, cut at a character boundary.
inline constexpr size_t kMaxTagValueBytes = 259;
std::string CutTagValue(std::string_view value);

enum class TagSetMode {
    Overwrite,
    // Only fills a missing or empty entry: a reader that runs after another
    // one must not replace what the first found.
    FillOnly,
};

// Tags in file order: keys are unique and compared exactly.
class TagMap {
public:
    TagMap() = default;
    // Later duplicates of a key overwrite earlier ones; values are cut.
    explicit TagMap(const std::vector<TagEntry>& entries);

    // An empty key is ignored; so is an empty value in fill-only mode.
    void Set(std::string_view key, std::string_view value, TagSetMode mode = TagSetMode::Overwrite);
    const std::string* Find(std::string_view key) const;
    // The value, or empty text when the key is missing.
    std::string Get(std::string_view key) const;
    bool Contains(std::string_view key) const { return Find(key) != nullptr; }
    bool Remove(std::string_view key);

    const std::vector<TagEntry>& Entries() const { return entries_; }
    size_t Size() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }

    bool operator==(const TagMap& other) const;

private:
    std::vector<TagEntry> entries_;
};

}  // namespace sonitor
