#include "formats/tags/Genres.h"

#include <array>

#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr std::array<std::string_view, kGenreCount> kGenres = {
    // 0-79: the original list.
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock",
    // 80-146: the extensions every player knows.
    "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock",
    "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam",
    "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet",
    "Punk Rock", "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House",
    "Hardcore", "Terror", "Indie", "BritPop", "Afro-Punk", "Polsk Punk", "Beat", "Christian Gangsta Rap",
    "Heavy Metal", "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue",
    "Salsa", "Thrash Metal", "Anime", "Jpop"};

// Other spellings of listed names that players write into tags.
struct Alias {
    std::string_view name;
    int index;
};
constexpr Alias kAliases[] = {
    {"Psychadelic", 67}, {"Folk/Rock", 81},   {"Fast-Fusion", 84},      {"Bebop", 85},
    {"A Cappella", 123}, {"Club House", 128}, {"Hardcore Techno", 129}, {"Christian Gangsta", 136},
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A genre number of at most three digits; -1 when the text is not one.
int ParseGenreNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 3) return -1;
    int n = 0;
    for (const char c : digits) {
        if (!IsDigit(c)) return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string ReferenceName(std::string_view reference) {
    if (reference == "RX") return "Remix";
    if (reference == "CR") return "Cover";
    const int n = ParseGenreNumber(reference);
    if (n >= 0 && n < kGenreCount) return std::string(kGenres[static_cast<size_t>(n)]);
    return std::string();
}

}  // namespace

std::span<const std::string_view> GenreNames() {
    return kGenres;
}

std::string_view GenreName(int index) {
    if (index < 0 || index >= kGenreCount) return {};
    return kGenres[static_cast<size_t>(index)];
}

int FindGenre(std::string_view name) {
    for (size_t i = 0; i < kGenres.size(); ++i) {
        if (EqualsIgnoreCase(kGenres[i], name)) return static_cast<int>(i);
    }
    for (const Alias& alias : kAliases) {
        if (EqualsIgnoreCase(alias.name, name)) return alias.index;
    }
    return -1;
}

std::string ResolveGenreText(std::string_view text) {
    // Bare digits: the form of later tag versions.
    if (const int n = ParseGenreNumber(text); n >= 0) {
        const std::string name = ReferenceName(text);
        return name.empty() ? std::string(text) : name;
    }
    std::string firstReference;
    size_t pos = 0;
    while (pos < text.size() && text[pos] == '(') {
        if (pos + 1 < text.size() && text[pos + 1] == '(') {
            // "((" starts literal text that itself begins with "(".
            return std::string(text.substr(pos + 1));
        }
        const size_t close = text.find(')', pos);
        if (close == std::string_view::npos) break;
        const std::string name = ReferenceName(text.substr(pos + 1, close - pos - 1));
        if (name.empty()) break;  // not a reference: keep the text as it is
        if (firstReference.empty()) firstReference = name;
        pos = close + 1;
    }
    if (pos < text.size()) return std::string(text.substr(pos));
    return firstReference;
}

}  // namespace sonitor
