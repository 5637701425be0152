#include "formats/tags/Id3v1.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "formats/tags/Genres.h"
#include "formats/tags/TagText.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr size_t kTitleAt = 3;
constexpr size_t kArtistAt = 33;
constexpr size_t kAlbumAt = 63;
constexpr size_t kYearAt = 93;
constexpr size_t kCommentAt = 97;
constexpr size_t kZeroAt = 125;
constexpr size_t kTrackAt = 126;
constexpr size_t kGenreAt = 127;
constexpr uint8_t kNoGenre = 255;

std::string FieldText(std::string_view block, size_t at, size_t size) {
    std::string_view field = block.substr(at, size);
    field = field.substr(0, field.find('\0'));
    while (!field.empty() && field.back() == ' ')
        field.remove_suffix(1);
    return AnsiToUtf8(field);
}

void PutField(Id3v1Block& block, size_t at, size_t fieldSize, size_t maxBytes, std::string_view value) {
    std::memset(block.data() + at, 0, fieldSize);
    const std::string bytes = Utf8ToCp1252(value);
    std::memcpy(block.data() + at, bytes.data(), std::min(bytes.size(), maxBytes));
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Leading decimal digits after optional blanks, as a track or genre number;
// -1 when there are none, a value above 255 clamps to 256.
int LeadingNumber(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    if (pos == text.size() || !IsDigit(text[pos])) return -1;
    int n = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos)
        n = std::min(n * 10 + (text[pos] - '0'), 256);
    return n;
}

uint8_t GenreByte(std::string_view value, uint8_t old) {
    if (value.empty()) return old;
    int n = -1;
    if (IsDigit(value[0])) {
        n = LeadingNumber(value);
    } else if (value[0] == '(' && value.size() > 1 && IsDigit(value[1])) {
        n = LeadingNumber(value.substr(1));  // "(17)" as another tag writes it
    } else {
        n = FindGenre(value);
    }
    if (n < 0) return old;
    return n > 255 ? kNoGenre : static_cast<uint8_t>(n);
}

}  // namespace

bool IsId3v1Block(std::string_view bytes) {
    return bytes.size() == kId3v1Size && bytes.substr(0, 3) == "TAG";
}

void ReadId3v1(std::string_view block, TagMap& tags) {
    if (!IsId3v1Block(block)) return;
    tags.Set(kTagTitle, FieldText(block, kTitleAt, 30), TagSetMode::FillOnly);
    tags.Set(kTagArtist, FieldText(block, kArtistAt, 30), TagSetMode::FillOnly);
    tags.Set(kTagAlbum, FieldText(block, kAlbumAt, 30), TagSetMode::FillOnly);
    tags.Set(kTagDate, FieldText(block, kYearAt, 4), TagSetMode::FillOnly);
    // A non-zero byte before the track byte means the older layout, whose
    // comment runs on for two more bytes and which has no track.
    const bool hasTrack = block[kZeroAt] == '\0';
    tags.Set(kTagComment, FieldText(block, kCommentAt, hasTrack ? 28 : 30), TagSetMode::FillOnly);
    const auto track = static_cast<uint8_t>(block[kTrackAt]);
    if (hasTrack && track != 0) tags.Set(kTagTrackNumber, Format("%d", track), TagSetMode::FillOnly);
    tags.Set(kTagGenre, GenreName(static_cast<uint8_t>(block[kGenreAt])), TagSetMode::FillOnly);
}

Id3v1Block BuildId3v1(const TagMap& tags, std::string_view old) {
    Id3v1Block block{};
    uint8_t oldTrack = 0;
    if (IsId3v1Block(old)) {
        std::memcpy(block.data(), old.data(), kId3v1Size);
        if (old[kZeroAt] == '\0') oldTrack = static_cast<uint8_t>(old[kTrackAt]);
    } else {
        block[kGenreAt] = kNoGenre;
    }
    std::memcpy(block.data(), "TAG", 3);
    PutField(block, kTitleAt, 30, 29, tags.Get(kTagTitle));
    PutField(block, kArtistAt, 30, 29, tags.Get(kTagArtist));
    PutField(block, kAlbumAt, 30, 29, tags.Get(kTagAlbum));
    PutField(block, kYearAt, 4, 4, tags.Get(kTagDate));
    PutField(block, kCommentAt, 28, 28, tags.Get(kTagComment));
    block[kZeroAt] = 0;
    const std::string track = tags.Get(kTagTrackNumber);
    if (track.empty()) {
        block[kTrackAt] = oldTrack;
    } else {
        const int n = LeadingNumber(track);
        block[kTrackAt] = n > 0 && n <= 255 ? static_cast<uint8_t>(n) : 0;
    }
    block[kGenreAt] = GenreByte(tags.Get(kTagGenre), block[kGenreAt]);
    return block;
}

}  // namespace sonitor
