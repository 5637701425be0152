#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/tags/Genres.h"
#include "formats/tags/Id3v1.h"
#include "formats/tags/Id3v2.h"
#include "formats/tags/Mp3Tags.h"
#include "formats/tags/RiffInfo.h"
#include "formats/tags/TagIo.h"
#include "formats/tags/TagMap.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "support/Bytes.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using namespace std::string_literals;

// --- Byte builders, written independently of the code under test ---------

const auto BE32 = test::Be32;
const auto LE32 = test::Le32;
std::string Safe(uint32_t v) {
    return {static_cast<char>((v >> 21) & 0x7F), static_cast<char>((v >> 14) & 0x7F),
            static_cast<char>((v >> 7) & 0x7F), static_cast<char>(v & 0x7F)};
}
// Frames of versions 2.2, 2.3 and 2.4.
std::string F2(const std::string& id, const std::string& data) {
    return id + BE32(static_cast<uint32_t>(data.size())).substr(1) + data;
}
std::string F3(const std::string& id, const std::string& data, char f0 = 0, char f1 = 0) {
    return id + BE32(static_cast<uint32_t>(data.size())) + f0 + f1 + data;
}
std::string F4(const std::string& id, const std::string& data, char f0 = 0, char f1 = 0) {
    return id + Safe(static_cast<uint32_t>(data.size())) + f0 + f1 + data;
}
std::string Tag(int version, const std::string& body, char flags = 0) {
    return "ID3"s + static_cast<char>(version) + '\0' + flags + Safe(static_cast<uint32_t>(body.size())) +
           body;
}
// The unsynchronisation scheme: a zero after every 0xFF that is followed by
// a zero or a byte of 0xE0 and above (or ends the data).
std::string Unsync(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        out += in[i];
        if (static_cast<uint8_t>(in[i]) == 0xFF &&
            (i + 1 == in.size() || in[i + 1] == '\0' || static_cast<uint8_t>(in[i + 1]) >= 0xE0))
            out += '\0';
    }
    return out;
}

// Frame data of a text in the given encoding byte.
std::string Enc(char encoding, const std::string& text) {
    return encoding + text;
}

TagMap Map(std::initializer_list<std::pair<std::string, std::string>> entries) {
    TagMap m;
    for (const auto& [k, v] : entries)
        m.Set(k, v);
    return m;
}

TagMap ParseToMap(const std::string& tagBytes) {
    TagMap m;
    const auto tag = ParseId3v2(tagBytes);
    if (tag) Id3v2ToTags(*tag, m);
    return m;
}

// Audio-like filler that contains no tag magic.
std::string Audio(size_t size, uint32_t seed = 1) {
    std::string out(size, '\0');
    std::mt19937 rng(seed);
    for (char& c : out)
        c = static_cast<char>(rng() % 0xF0 + 1);
    if (size >= 2) out[0] = '\xFF', out[1] = '\xFB';  // a frame sync, so the bytes look like MPEG audio
    return out;
}

std::string PathFor(const std::string& name) {
    static const std::string folder = test::MakeTempFolder("tags");
    return JoinPath(folder, name);
}
void Put(const std::string& path, const std::string& bytes) {
    UniqueFd fd(::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644));
    ASSERT_TRUE(fd && WriteAll(fd.Get(), bytes.data(), bytes.size()));
}
const auto Get = test::FileText;
ino_t Inode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// 8-bit mono at 8000 Hz, with any chunks between fmt and data.
std::string Wav(const std::string& data, const std::string& extraChunks = "") {
    return test::PcmWav(8000, 1, 8, data, extraChunks);
}

// --- TagMap and genres -----------------------------------------------------

TEST(TagMap, OrderOverwriteFillOnlyAndTheValueLimit) {
    TagMap m;
    m.Set("TITLE", "one");
    m.Set("ARTIST", "");
    m.Set("TPE2", "band");
    m.Set("TITLE", "two");                            // overwrite keeps the place
    m.Set("TITLE", "three", TagSetMode::FillOnly);    // the first reader wins
    m.Set("ARTIST", "filled", TagSetMode::FillOnly);  // an empty entry is filled
    m.Set("ALBUM", "", TagSetMode::FillOnly);         // nothing to fill with
    m.Set("", "ignored");
    EXPECT_EQ(m, Map({{"TITLE", "two"}, {"ARTIST", "filled"}, {"TPE2", "band"}}));
    EXPECT_TRUE(m.Remove("TPE2"));
    EXPECT_FALSE(m.Remove("TPE2"));
    // From a document's list a later duplicate overwrites.
    EXPECT_EQ(TagMap(std::vector<TagEntry>{{"A", "1"}, {"B", "2"}, {"A", "3"}}),
              Map({{"A", "3"}, {"B", "2"}}));

    // 259 bytes, and a character that would straddle the limit goes whole.
    m.Set("X", std::string(300, 'a'));
    EXPECT_EQ(m.Get("X"), std::string(259, 'a'));
    m.Set("Y", std::string(258, 'a') + "\xC3\xA9");
    EXPECT_EQ(m.Get("Y"), std::string(258, 'a'));
    m.Set("Z", std::string(257, 'a') + "\xC3\xA9");
    EXPECT_EQ(m.Get("Z").size(), 259u);
}

TEST(Genres, ListAndReferences) {
    ASSERT_EQ(GenreNames().size(), 147u);
    EXPECT_EQ(GenreName(0), "Blues");
    EXPECT_EQ(GenreName(79), "Hard Rock");
    EXPECT_EQ(GenreName(80), "Folk");
    EXPECT_EQ(GenreName(146), "Jpop");
    EXPECT_EQ(GenreName(147), "");
    EXPECT_EQ(GenreName(-1), "");
    EXPECT_EQ(FindGenre("hip-hop"), 7);
    EXPECT_EQ(FindGenre("bebop"), 85);
    EXPECT_EQ(FindGenre("Synthpop"), -1);
    for (int i = 0; i < kGenreCount; ++i)
        EXPECT_EQ(FindGenre(GenreName(i)), i) << "names are unique";

    const std::pair<const char*, const char*> cases[] = {
        {"(17)", "Rock"},
        {"17", "Rock"},
        {"(51)(39)", "Techno-Industrial"},
        {"(17)Rock & Roll", "Rock & Roll"},
        {"(RX)", "Remix"},
        {"(CR)", "Cover"},
        {"((Odd) music", "(Odd) music"},
        {"(200)", "(200)"},
        {"147", "147"},
        {"(17", "(17"},
        {"Shoegaze", "Shoegaze"},
        {"", ""},
    };
    for (const auto& [text, resolved] : cases)
        EXPECT_EQ(ResolveGenreText(text), resolved) << text;
}

// --- ID3v1 -----------------------------------------------------------------

TEST(Id3v1, WrittenBlockHasTheExactLayout) {
    const TagMap tags = Map({{"TITLE", "abcdefghijklmnopqrstuvwxyz0123"},  // 30: keeps 29
                             {"ARTIST", "Caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD"},
                             {"ALBUM", "Album"},
                             {"DATE", "19991231"},
                             {"COMMENT", std::string(40, 'c')},
                             {"TRACKNUMBER", "7/12"},
                             {"GENRE", "rock"}});
    const Id3v1Block block = BuildId3v1(tags, {});
    std::string expected(128, '\0');
    expected.replace(0, 3, "TAG");
    expected.replace(3, 29, "abcdefghijklmnopqrstuvwxyz012");
    expected.replace(33, 8, "Caf\xE9 \x80 ?");  // code page 1252; no such character: '?'
    expected.replace(63, 5, "Album");
    expected.replace(93, 4, "1999");
    expected.replace(97, 28, std::string(28, 'c'));
    expected[126] = 7;
    expected[127] = 17;
    EXPECT_EQ(std::string(block.begin(), block.end()), expected);
}

TEST(Id3v1, TrackAndGenreBytes) {
    std::string old(128, '\0');
    old.replace(0, 3, "TAG");
    old[126] = 9;
    old[127] = 33;
    auto build = [&](const TagMap& m, const std::string& base) {
        const Id3v1Block b = BuildId3v1(m, base);
        return std::pair<int, int>{b[126], b[127]};
    };
    // Empty values keep the old bytes; a name not in the list keeps the genre.
    EXPECT_EQ(build(Map({{"GENRE", ""}}), old), (std::pair{9, 33}));
    EXPECT_EQ(build(Map({{"GENRE", "Synthpop"}}), old), (std::pair{9, 33}));
    EXPECT_EQ(build(Map({{"GENRE", "17"}, {"TRACKNUMBER", "12"}}), old), (std::pair{12, 17}));
    EXPECT_EQ(build(Map({{"GENRE", "(80)"}}), old), (std::pair{9, 80}));
    EXPECT_EQ(build(Map({{"GENRE", "999"}, {"TRACKNUMBER", "300"}}), old), (std::pair{0, 255}));
    EXPECT_EQ(build(Map({{"TRACKNUMBER", "x"}}), old), (std::pair{0, 33}));
    // A new block has no genre rather than "Blues".
    EXPECT_EQ(build(Map({{"TITLE", "t"}}), ""), (std::pair{0, 255}));
    // The old track byte counts only in the layout that has one.
    std::string v10 = old;
    v10[125] = 'x';
    EXPECT_EQ(build(Map({}), v10), (std::pair{0, 33}));
}

TEST(Id3v1, ReadsBothLayoutsAndBothCharacterSets) {
    std::string b(128, '\0');
    b.replace(0, 3, "TAG");
    b.replace(3, 30, "Title with blanks" + std::string(13, ' '));
    b.replace(33, 5, "Caf\xE9!");           // code page 1252
    b.replace(63, 5, "\xC3\xA9t\xC3\xA9");  // valid UTF-8 stays
    b.replace(93, 4, "2001");
    b.replace(97, 30, "thirty characters of comment!!");  // no zero at 125: older layout
    b[127] = '\x93';                                      // 147: no genre
    TagMap m;
    ReadId3v1(b, m);
    EXPECT_EQ(m, Map({{"TITLE", "Title with blanks"},
                      {"ARTIST", "Caf\xC3\xA9!"},
                      {"ALBUM", "\xC3\xA9t\xC3\xA9"},
                      {"DATE", "2001"},
                      {"COMMENT", "thirty characters of comment!!"}}));

    b.replace(97, 30, std::string(30, '\0'));
    b.replace(97, 3, "abc");
    b[126] = 4;
    b[127] = '\x92';  // 146
    TagMap m2 = Map({{"TITLE", "from ID3v2"}});
    ReadId3v1(b, m2);
    EXPECT_EQ(m2.Get("TITLE"), "from ID3v2");  // fill-only
    EXPECT_EQ(m2.Get("COMMENT"), "abc");
    EXPECT_EQ(m2.Get("TRACKNUMBER"), "4");
    EXPECT_EQ(m2.Get("GENRE"), "Jpop");
}

// --- ID3v2 parsing ---------------------------------------------------------

TEST(Id3v2Read, TextEncodings) {
    const std::string clef = "\xF0\x9D\x84\x9E";                   // U+1D11E, a surrogate pair in UTF-16
    const std::string body = F3("TIT2", Enc(0, "Caf\xE9 \x80")) +  // ISO-8859-1, 1252
                             F3("TPE1", "\x01\xFF\xFE" + "A\0\xE9\0\x34\xD8\x1E\xDD\0\0"s) +  // UTF-16 LE
                             F3("TALB", "\x01\xFE\xFF\0B\0\xE9\0\0"s) +                       // UTF-16 BE
                             F3("TYER", "\x02\0\x32\0\x30\0\x30\0\x31"s) +                    // UTF-16BE
                             F3("TPE2", Enc(3, clef + "\0junk"s)) +                           // first string
                             F3("TPE3", Enc(5, "unknown encoding")) + F3("TCON", Enc(0, "(17)"));
    const TagMap m = ParseToMap(Tag(3, body));
    EXPECT_EQ(m, Map({{"TITLE", "Caf\xC3\xA9 \xE2\x82\xAC"},
                      {"ARTIST", "A\xC3\xA9" + clef},
                      {"ALBUM", "B\xC3\xA9"},
                      {"DATE", "2001"},
                      {"TPE2", clef},
                      {"GENRE", "Rock"}}));
}

TEST(Id3v2Read, CommentsAndLinks) {
    const std::string body = F3("COMM", Enc(0, "engiTunNORM\0 0000 1111"s)) +
                             F3("COMM", Enc(1, "eng\xFF\xFE\0\0\xFF\xFEh\0i\0"s)) +
                             F3("COMM", Enc(0, "eng\0second plain"s)) +
                             F3("WXXX", Enc(0, "desc\0http://a.b/"s)) + F3("WOAR", "http://artist/") +
                             F3("TXXX", Enc(0, "key\0value"s));
    const auto tag = ParseId3v2(Tag(3, body));
    ASSERT_TRUE(tag);
    TagMap m;
    Id3v2ToTags(*tag, m);
    // The first comment without a description: a player's own data is not it.
    // Link frames have no encoding byte; user text frames are left alone.
    EXPECT_EQ(m, Map({{"COMMENT", "hi"}, {"WXXX", "http://a.b/"}, {"WOAR", "http://artist/"}}));
    ASSERT_EQ(tag->frames.size(), 6u);
    EXPECT_TRUE(tag->frames[0].key.empty());
    EXPECT_EQ(tag->frames[1].key, "COMMENT");
}

TEST(Id3v2Read, UnsynchronisationAndExtendedHeaders) {
    // 2.3: the whole tag, frame headers included, is unsynchronised.
    const std::string frames = F3("TIT2", "\x00\xFF\xFF"s) + F3("TPE1", Enc(0, "ok"));
    const TagMap both = Map({{"TITLE", "\xC3\xBF\xC3\xBF"}, {"ARTIST", "ok"}});
    EXPECT_EQ(ParseToMap(Tag(3, Unsync(frames), '\x80')), both);

    // 2.3 extended header: size without itself (6 or 10), then the frames;
    // 2.4: synchsafe size including itself.
    EXPECT_EQ(ParseToMap(Tag(3, BE32(6) + std::string(6, '\0') + frames, '\x40')), both);
    EXPECT_EQ(ParseToMap(Tag(4, Safe(6) + "\x01\x00"s + F4("TIT2", Enc(3, "x")), '\x40')).Get("TITLE"), "x");
    // An extended header larger than the tag leaves nothing to read.
    EXPECT_TRUE(ParseToMap(Tag(3, BE32(5000) + frames, '\x40')).Empty());

    // 2.4: per frame, with a group byte and a data length before the text.
    const std::string data = "\x07"s + Safe(3) + "\x00\xFF\xFF"s;
    const std::string f =
        "TIT2" + Safe(static_cast<uint32_t>(Unsync(data).size())) + "\x00\x43"s + Unsync(data);
    EXPECT_EQ(ParseToMap(Tag(4, f)).Get("TITLE"), "\xC3\xBF\xC3\xBF");
}

TEST(Id3v2Read, VersionSpecificFrames) {
    // 2.2: three-character ids under their later names.
    const std::string v22 = F2("TT2", Enc(0, "Old")) + F2("TP1", Enc(0, "Artist")) +
                            F2("COM", Enc(0, "eng\0c22"s)) + F2("TCO", Enc(0, "(8)")) +
                            F2("TYE", Enc(0, "1990")) + F2("XYZ", Enc(0, "?"));
    EXPECT_EQ(ParseToMap(Tag(2, v22)), Map({{"TITLE", "Old"},
                                            {"ARTIST", "Artist"},
                                            {"COMMENT", "c22"},
                                            {"GENRE", "Jazz"},
                                            {"DATE", "1990"}}));

    // 2.4: the date frame is TDRC; sizes are synchsafe (200 is "\x01\x48").
    const std::string longText(200, 'L');
    EXPECT_EQ(ParseToMap(Tag(4, F4("TDRC", Enc(0, "2004-05")) + F4("TIT2", Enc(0, longText)) +
                                    F4("TYER", Enc(0, "1999")))),
              Map({{"DATE", "2004-05"}, {"TITLE", longText}, {"TYER", "1999"}}));

    // Some writers put plain 32-bit sizes in 2.4 tags; the next frame tells.
    // 256 is "\0\0\x01\0", which read as synchsafe would be 128.
    const std::string lower(255, 'l');
    const std::string plain = "TIT2" + BE32(256) + "\0\0"s + Enc(0, lower) + F4("TPE1", Enc(0, "A"));
    EXPECT_EQ(ParseToMap(Tag(4, plain)), Map({{"TITLE", lower}, {"ARTIST", "A"}}));
}

TEST(Id3v2Read, DamagedTagsKeepWhatWasReadAndNeverOverrun) {
    const std::string good = F3("TIT2", Enc(0, "T")) + F3("TPE1", Enc(0, "A"));
    const TagMap goodMap = Map({{"TITLE", "T"}, {"ARTIST", "A"}});
    // An id outside A-Z/0-9 ends the walk, and so does a frame larger than
    // the tag; zero-size frames are skipped, not looped on.
    EXPECT_EQ(ParseToMap(Tag(3, good + "tit2" + BE32(2) + "\0\0\0x"s + F3("TALB", Enc(0, "B")))), goodMap);
    EXPECT_EQ(ParseToMap(Tag(3, good + "TALB" + BE32(50) + "\0\0\0B"s)), goodMap);
    EXPECT_EQ(ParseToMap(Tag(3, good + "TALB" + BE32(0xFFFFFFFF) + "\0\0\0B"s)), goodMap);
    EXPECT_EQ(ParseToMap(Tag(3, F3("TALB", "") + good)), goodMap);
    // A header claiming more than the bytes we have.
    std::string truncated = Tag(3, good);
    truncated.replace(6, 4, Safe(100000));
    EXPECT_EQ(ParseToMap(truncated), goodMap);
    // Compressed or encrypted frames are not read.
    EXPECT_TRUE(ParseToMap(Tag(3, F3("TIT2", "\0\0\0\x10x\x9c"s, 0, '\x80'))).Empty());
    EXPECT_TRUE(ParseToMap(Tag(4, F4("TIT2", "\x01x\x9c"s, 0, '\x04'))).Empty());
    // Not headers at all.
    for (const std::string& bad : {"ID3\x03\x00\x00\x80\x00\x00\x00"s, "ID3\xFF\x00\x00\x00\x00\x00\x00"s,
                                   "ID3\x03\xFF\x00\x00\x00\x00\x00"s, "ID3\x03"s})
        EXPECT_FALSE(ParseId3v2(bad));

    // Tens of thousands of tiny frames: bounded work, and marked as cut short.
    std::string many;
    const char* symbols = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int i = 0; i < 70000; ++i)
        many += F3(
            std::string{i % 2 ? 'T' : 'W', symbols[i / 2 % 36], symbols[i / 72 % 36], symbols[i / 2592 % 36]},
            "\0"s);
    const auto crowded = ParseId3v2(Tag(3, many));
    ASSERT_TRUE(crowded);
    EXPECT_FALSE(crowded->complete);
    EXPECT_EQ(crowded->frames.size(), 65536u);
    EXPECT_EQ(ParseToMap(Tag(3, many)).Size(), 1024u);
    EXPECT_TRUE(ParseId3v2(Tag(3, good))->complete);

    // Every single-byte corruption of a valid tag, and random tails.
    const std::string valid = Tag(4, F4("TIT2", "\x01\xFF\xFEh\0"s) + F4("COMM", Enc(0, "eng\0c"s)) +
                                         F4("TXXX", "\x03k\0v"s, 0, '\x41') + std::string(8, '\0'));
    for (size_t i = 0; i < valid.size(); ++i) {
        for (const char v : {'\x00', '\x7F', '\xFF', '\x01'}) {
            std::string bad = valid;
            bad[i] = v;
            if (const auto tag = ParseId3v2(bad)) BuildId3v2(TagMap(), &*tag, Id3v2BuildOptions{});
        }
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        std::string bad = valid.substr(0, 10);
        for (size_t n = rng() % 200; n > 0; --n)
            bad += static_cast<char>(rng());
        ParseId3v2(bad);
    }
}

// --- ID3v2 building ----------------------------------------------------------

TEST(Id3v2Write, NewTagHasTheExactLayout) {
    const TagMap tags = Map({{"TITLE", "Hi"},
                             {"COMMENT", "c"},
                             {"WXXX", "http://x"},
                             {"TPE2", "AA"},
                             {"GENRE", ""},
                             {"APIC", "not a text frame"},
                             {"bad", "x"}});
    const auto tag = BuildId3v2(tags, nullptr, Id3v2BuildOptions{});
    ASSERT_TRUE(tag);
    const std::string expected = "ID3\x03\x00\x00\x00\x00\x00\x42"s +                           //
                                 "TIT2\x00\x00\x00\x04\x00\x00\x00Hi\x00"s +                    // text + 2
                                 "COMM\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x63\x00"s +  // + 6
                                 "WXXX\x00\x00\x00\x0B\x00\x00\x00\x00http://x\x00"s +          // + 3
                                 "TPE2\x00\x00\x00\x04\x00\x00\x00\x41\x41\x00"s;
    EXPECT_EQ(*tag, expected);
    EXPECT_EQ(*BuildId3v2(TagMap(), nullptr, Id3v2BuildOptions{}), "");
}

TEST(Id3v2Write, RoundTripsTextInEveryVersionWeWrite) {
    const TagMap tags = Map({{"TITLE", "Plain"},
                             {"ARTIST", "Caf\xC3\xA9"},
                             {"ALBUM", "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9D\x84\x9E"},
                             {"DATE", "2020"},
                             {"COMMENT", "\xE2\x82\xAC 5"},
                             {"TRACKNUMBER", "3/9"},
                             {"GENRE", "Trip-Hop"},
                             {"TPE2", "x"},
                             {"WOAR", "http://w/"}});
    for (const uint8_t version : {uint8_t{3}, uint8_t{4}}) {
        const auto tag = BuildId3v2(tags, nullptr, Id3v2BuildOptions{version, false, 0});
        ASSERT_TRUE(tag);
        EXPECT_EQ(ParseToMap(*tag), tags) << int{version};
    }
    // 2.3 has no UTF-8: text beyond ISO-8859-1 goes as UTF-16 with a mark.
    const auto v3 = *BuildId3v2(Map({{"TITLE", "\xE2\x82\xAC"}}), nullptr, Id3v2BuildOptions{3, false, 0});
    EXPECT_EQ(v3.substr(10), "TIT2\x00\x00\x00\x07\x00\x00\x01\xFF\xFE\xAC\x20\x00\x00"s);
    const auto v4 = *BuildId3v2(Map({{"DATE", "1"}}), nullptr, Id3v2BuildOptions{4, true, 0});
    EXPECT_EQ(v4, "ID3\x04\x00\x10\x00\x00\x00\x0DTDRC\x00\x00\x00\x03\x00\x00\x00\x31\x00"s +
                      "3DI\x04\x00\x10\x00\x00\x00\x0D"s);
}

TEST(Id3v2Write, RebuildCopiesWhatItDidNotInterpretVerbatim) {
    const std::string picture = F3("APIC", "\x00image/png\0\x03\0\x89PNG\r\n\x1a\n\xFF\x00\x01"s);
    const std::string privateFrame = F3("PRIV", "owner\0\x01\x02"s);
    const std::string longTitle = F3("TIT2", Enc(0, std::string(400, 'T')));  // more than a value holds
    const std::string utf16Artist = F3("TPE1", "\x01\xFF\xFE\x41\0"s);
    const std::string userText = F3("TXXX", Enc(0, "replaygain\0-6 dB"s));
    const std::string dropMe = F3("TENC", Enc(0, "enc"), '\x80');  // asks to go when the tag changes
    const std::string album = F3("TALB", Enc(0, "Old album"));
    const auto old =
        ParseId3v2(Tag(3, picture + longTitle + privateFrame + utf16Artist + userText + dropMe + album));
    ASSERT_TRUE(old);

    TagMap tags;
    Id3v2ToTags(*old, tags);
    EXPECT_EQ(tags.Get("TITLE").size(), 259u);
    tags.Set("ALBUM", "New album");
    tags.Set("ARTIST", "");  // removes the frame
    tags.Set("TPE2", "Band");
    const auto rebuilt = BuildId3v2(tags, &*old, Id3v2BuildOptions{3, false, 0});
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->substr(10), picture + longTitle + privateFrame + userText +
                                       F3("TENC", Enc(0, "enc\0"s)) + F3("TALB", Enc(0, "New album\0"s)) +
                                       F3("TPE2", Enc(0, "Band\0"s)))
        << "frames keep their place; the full title survives; the artist is gone";
}

TEST(Id3v2Write, ConvertsOlderTagsAndKeepsFrameLevelUnsynchronisation) {
    // A 2.2 picture becomes the later picture frame; a frame without a
    // later name is dropped.
    const auto old22 = ParseId3v2(
        Tag(2, F2("PIC", "\x00JPG\x03\x64\0\xFF\xD8"s) + F2("TT2", Enc(0, "t")) + F2("ZZZ", Enc(0, "x"))));
    ASSERT_TRUE(old22);
    EXPECT_EQ(old22->WriteVersion(), 3);
    const auto v3 = BuildId3v2(Map({{"TITLE", "t"}}), &*old22, Id3v2BuildOptions{3, false, 0});
    EXPECT_EQ(v3->substr(10), F3("APIC", "\x00image/jpeg\0\x03\x64\0\xFF\xD8"s) + F3("TIT2", Enc(0, "t")));

    // 2.4 with the tag-wide flag only: copied frames must carry it themselves.
    const std::string data = "\x00\xFF\xE0"s;
    const std::string unsynced =
        "PRIV" + Safe(static_cast<uint32_t>(Unsync(data).size())) + "\0\0"s + Unsync(data);
    const auto old24 = ParseId3v2(Tag(4, unsynced, '\x80'));
    ASSERT_TRUE(old24);
    const auto v4 = BuildId3v2(Map({{"TPE2", "x"}}), &*old24, Id3v2BuildOptions{4, false, 0});
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->substr(5, 1), "\0"s) << "no tag-wide flag";
    EXPECT_EQ(v4->substr(10, unsynced.size()), "PRIV" + unsynced.substr(4, 5) + "\x02"s + Unsync(data));
}

// --- MP3 files ---------------------------------------------------------------

std::string V1Block(const std::string& title) {
    std::string b(128, '\0');
    b.replace(0, 3, "TAG");
    b.replace(3, title.size(), title);
    b[127] = 2;
    return b;
}

TEST(Mp3Tags, OnlyATagAtTheStartOrAConfirmedAppendedOneCounts) {
    // "ID3" inside the audio is audio.
    const std::string fake = Tag(3, F3("TIT2", Enc(0, "Fake"s)));
    const std::string audio = Audio(500) + fake + Audio(300, 2);
    const std::string path = PathFor("inside.mp3");
    Put(path, audio);
    TagMap m;
    EXPECT_TRUE(ReadMp3Tags(path, m));
    EXPECT_TRUE(m.Empty());

    // A tag at the start, and both tags: ID3v2 wins, ID3v1 fills the rest.
    Put(path, Tag(3, F3("TIT2", "\x00Real"s)) + audio + V1Block("v1 title"));
    EXPECT_TRUE(ReadMp3Tags(path, m));
    EXPECT_EQ(m, Map({{"TITLE", "Real"}, {"GENRE", "Country"}}));

    // Appended with a footer, at the end and before an ID3v1 block.
    const std::string tag4 = Tag(4, F4("TPE1", Enc(0, "Appended"s)), '\x10');
    const std::string appended = tag4 + "3DI\x04\x00\x10"s + tag4.substr(6, 4);
    for (const std::string& file : {audio + appended, audio + appended + V1Block("v1")}) {
        Put(path, file);
        TagMap a;
        EXPECT_TRUE(ReadMp3Tags(path, a));
        EXPECT_EQ(a.Get("ARTIST"), "Appended");
    }
    // A footer whose header does not match is not trusted.
    std::string wrongFooter = audio + appended;
    wrongFooter[wrongFooter.size() - 1] = 14;
    Put(path, wrongFooter);
    m = TagMap();
    EXPECT_TRUE(ReadMp3Tags(path, m));
    EXPECT_TRUE(m.Empty());

    EXPECT_FALSE(ReadMp3Tags(PathFor("missing.mp3"), m));
}

TEST(Mp3Tags, StandardKeysOnlyWriteTheId3v1Block) {
    const std::string path = PathFor("plain.mp3");
    const std::string audio = Audio(2000);
    Put(path, audio);
    const TagMap tags = Map({{"TITLE", std::string(30, 'x')}, {"ARTIST", "Art"}, {"GENRE", "Rock"}});
    ASSERT_TRUE(WriteTags(path, tags));
    std::string file = Get(path);
    ASSERT_EQ(file.size(), audio.size() + 128);
    EXPECT_EQ(file.substr(0, audio.size()), audio);
    TagMap back;
    ASSERT_TRUE(ReadTags(path, back));
    EXPECT_EQ(back, Map({{"TITLE", std::string(29, 'x')}, {"ARTIST", "Art"}, {"GENRE", "Rock"}}));

    // Written again: the block is replaced in place, not appended.
    ASSERT_TRUE(WriteTags(path, Map({{"TITLE", "Second"}})));
    file = Get(path);
    ASSERT_EQ(file.size(), audio.size() + 128);
    back = TagMap();
    ReadTags(path, back);
    EXPECT_EQ(back, Map({{"TITLE", "Second"}, {"GENRE", "Rock"}}));

    // An ID3v2 tag that already says the same is left alone.
    const std::string v2 = Tag(3, F3("TIT2", "\x00Second"s) + F3("TPE1", Enc(0, "A"s)));
    Put(path, v2 + audio);
    ASSERT_TRUE(WriteTags(path, Map({{"TITLE", "Second"}, {"ALBUM", ""}})));
    EXPECT_EQ(Get(path).substr(0, v2.size() + audio.size()), v2 + audio);
}

TEST(Mp3Tags, AnId3v2TagThatWouldHideTheNewValuesIsRebuilt) {
    const std::string path = PathFor("stale.mp3");
    const std::string audio = Audio(3000);
    const std::string v2 = Tag(3, F3("TIT2", "\x00Old"s) + std::string(200, '\0'));
    Put(path, v2 + audio + V1Block("Old"));
    const ino_t before = Inode(path);
    ASSERT_TRUE(WriteTags(path, Map({{"TITLE", "New"}})));
    TagMap back;
    ReadTags(path, back);
    EXPECT_EQ(back.Get("TITLE"), "New");
    const std::string file = Get(path);
    // It fitted into the old room: same size, same file, audio untouched.
    EXPECT_EQ(file.size(), v2.size() + audio.size() + 128);
    EXPECT_EQ(Inode(path), before);
    EXPECT_EQ(file.substr(v2.size(), audio.size()), audio);
}

TEST(Mp3Tags, ALargerTagGoesThroughACopyAndLeavesTheAudioAlone) {
    const std::string folder = test::MakeTempFolder("copy");
    const std::string path = JoinPath(folder, "song.mp3");
    const std::string audio = Audio(100000) + Tag(3, F3("TIT2", Enc(0, "Fake"s))) + Audio(1000, 3);
    const std::string picture = F3("APIC", "\x00image/png\0\x03\0"s + Audio(3000, 9));
    const std::string oldTag = Tag(3, picture + F3("TIT2", Enc(0, "Short"s)));
    Put(path, oldTag + audio);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const ino_t before = Inode(path);

    TagMap tags;
    ASSERT_TRUE(ReadTags(path, tags));
    tags.Set("TITLE", std::string(200, 'N'));
    tags.Set("TPE2", "Band");
    ASSERT_TRUE(WriteTags(path, tags));

    const std::string file = Get(path);
    ASSERT_GT(file.size(), oldTag.size() + audio.size() + 128);
    const size_t newTagSize = file.size() - audio.size() - 128;
    EXPECT_EQ(file.substr(newTagSize, audio.size()), audio);
    EXPECT_NE(file.substr(10, newTagSize).find(picture), std::string::npos) << "picture copied verbatim";
    TagMap back;
    ReadTags(path, back);
    EXPECT_EQ(back.Get("TITLE"), std::string(200, 'N'));
    EXPECT_EQ(back.Get("TPE2"), "Band");
    EXPECT_NE(Inode(path), before);
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(test::RunShell("test $(ls -A '" + folder + "' | wc -l) -eq 1"), 0) << "no temporary file left";

    // Through a symbolic link: the file behind it is replaced, the link stays.
    const std::string link = JoinPath(folder, "link.mp3");
    ASSERT_EQ(::symlink("song.mp3", link.c_str()), 0);
    tags.Set("TPE3", "Conductor");
    ASSERT_TRUE(WriteTags(link, tags));
    struct stat linkStat {};
    ASSERT_EQ(::lstat(link.c_str(), &linkStat), 0);
    EXPECT_TRUE(S_ISLNK(linkStat.st_mode));
    back = TagMap();
    ReadTags(path, back);
    EXPECT_EQ(back.Get("TPE3"), "Conductor");
    ::unlink(link.c_str());
    const std::string file2 = Get(path);
    EXPECT_EQ(file2.substr(file2.size() - 128 - audio.size(), audio.size()), audio);

    // An unchanged second write fits in place.
    const ino_t second = Inode(path);
    ASSERT_TRUE(WriteTags(path, back));
    EXPECT_EQ(Inode(path), second);
    EXPECT_EQ(Get(path), file2);
}

TEST(Mp3Tags, AppendedTagIsRewrittenAtItsPlace) {
    const std::string path = PathFor("appended.mp3");
    const std::string audio = Audio(4000);
    const std::string appended = Tag(4, F4("TPE1", Enc(0, "Appended"s)) + F4("PRIV", "p\0\x01"s), '\x10');
    Put(path, audio + appended + "3DI\x04\x00\x10"s + appended.substr(6, 4));
    ASSERT_TRUE(WriteTags(path, Map({{"ARTIST", "Someone else"}, {"TPE2", "x"}})));
    const std::string file = Get(path);
    EXPECT_EQ(file.substr(0, audio.size()), audio);
    TagMap back;
    ReadTags(path, back);
    EXPECT_EQ(back, Map({{"ARTIST", "Someone else"}, {"TPE2", "x"}}));
    EXPECT_NE(file.find(F4("PRIV", "p\0\x01"s)), std::string::npos);
    EXPECT_EQ(file.substr(file.size() - 128, 3), "TAG");
    int fd = ::open(path.c_str(), O_RDONLY);
    const auto location = LocateId3v2(fd, static_cast<int64_t>(file.size()));
    ::close(fd);
    ASSERT_TRUE(location);
    EXPECT_TRUE(location->appended);
    EXPECT_EQ(location->offset, static_cast<int64_t>(audio.size()));
}

TEST(Mp3Tags, DamagedFilesAreNeverMadeWorse) {
    const std::string path = PathFor("damaged.mp3");
    const std::string audio = Audio(1000);
    // A header whose size runs far past the end: read what is there, but
    // keep every byte when writing.
    std::string header = Tag(3, F3("TIT2", "\x00T"s));
    header.replace(6, 4, Safe(0x0FFFFFFF));
    Put(path, header + audio);
    TagMap m;
    EXPECT_TRUE(ReadMp3Tags(path, m));
    EXPECT_EQ(m.Get("TITLE"), "T");
    ASSERT_TRUE(WriteTags(path, Map({{"TPE2", "x"}})));
    const std::string file = Get(path);
    EXPECT_NE(file.find(header + audio), std::string::npos);

    // A tag we could not walk to its end is not rebuilt, and nothing changes.
    std::string crowded;
    for (int i = 0; i < 70000; ++i)
        crowded += F3("PRIV", "x");
    Put(path, Tag(3, crowded) + audio);
    EXPECT_FALSE(WriteTags(path, Map({{"TPE2", "x"}})));
    EXPECT_EQ(Get(path), Tag(3, crowded) + audio);

    // Tiny files: shorter than an ID3v1 block, or an empty one.
    for (const std::string& tiny : {""s, "ID3"s, "TAG"s, std::string(127, 'T')}) {
        Put(path, tiny);
        TagMap t;
        EXPECT_TRUE(ReadMp3Tags(path, t));
        ASSERT_TRUE(WriteMp3Tags(path, Map({{"TITLE", "t"}})));
        EXPECT_EQ(Get(path).substr(0, tiny.size()), tiny);
        EXPECT_EQ(Get(path).size(), tiny.size() + 128);
    }
    EXPECT_FALSE(WriteTags(PathFor("missing.mp3"), Map({{"TITLE", "t"}})));
    EXPECT_FALSE(FileExists(PathFor("missing.mp3")));
}

// --- WAV files ---------------------------------------------------------------

TEST(WavTags, WrittenChunksHaveTheExactLayout) {
    const std::string path = PathFor("exact.wav");
    const std::string original = Wav("\x01\x02\x03\x04"s);
    Put(path, original);
    const TagMap tags = Map({{"TITLE", "Song"},
                             {"ARTIST", "Me"},
                             {"ALBUM", "Disc"},
                             {"DATE", "1999"},
                             {"COMMENT", "Hi"},
                             {"TRACKNUMBER", "7"},
                             {"GENRE", "Rock"},
                             {"TPE2", "not in WAV"}});
    ASSERT_TRUE(WriteTags(path, tags));
    std::string expected = original;
    expected.replace(4, 4, LE32(146));
    expected += "LIST\x50\x00\x00\x00INFO"s +        //
                "IART\x03\x00\x00\x00Me\x00\x00"s +  // odd sizes are padded
                "INAM\x05\x00\x00\x00"
                "Disc\x00\x00"s +
                "ICOP\x05\x00\x00\x00"
                "1999\x00\x00"s +
                "ICMT\x03\x00\x00\x00Hi\x00\x00"s +
                "ITRK\x02\x00\x00\x00"
                "7\x00"s +
                "IGNR\x05\x00\x00\x00Rock\x00\x00"s + "DISP\x09\x00\x00\x00\x01\x00\x00\x00Song\x00\x00"s;
    EXPECT_EQ(Get(path), expected);
    TagMap back;
    ASSERT_TRUE(ReadTags(path, back));
    TagMap wanted = tags;
    wanted.Remove("TPE2");
    // The walk meets the INFO list before the DISP chunk.
    TagMap reordered;
    for (const char* key : {"ARTIST", "ALBUM", "DATE", "COMMENT", "TRACKNUMBER", "GENRE", "TITLE"})
        reordered.Set(key, wanted.Get(key));
    EXPECT_EQ(back, reordered);
}

TEST(WavTags, PadByteBeforeAListAfterAnOddChunk) {
    const std::string path = PathFor("odd.wav");
    const std::string original = Wav("\x10\x20\x30"s);  // odd data, no pad byte, as our writer leaves it
    Put(path, original);
    ASSERT_TRUE(WriteTags(path, Map({{"ARTIST", "A"}})));
    const std::string file = Get(path);
    EXPECT_EQ(file.substr(0, original.size()),
              original.substr(0, 4) + LE32(static_cast<uint32_t>(file.size() - 8)) + original.substr(8));
    EXPECT_EQ(file.substr(original.size()),
              "\x00LIST\x0E\x00\x00\x00INFOIART\x02\x00\x00\x00"
              "A\x00"s);
    TagMap back;
    ReadTags(path, back);
    EXPECT_EQ(back, Map({{"ARTIST", "A"}}));
}

TEST(WavTags, SameSizedEntriesAreReusedInPlaceOthersAppended) {
    const std::string path = PathFor("reuse.wav");
    const std::string data = Audio(64);
    Put(path, Wav(data));
    ASSERT_TRUE(WriteTags(path, Map({{"TITLE", "Title"}, {"ARTIST", "Artist"}, {"ALBUM", "Album"}})));
    const std::string first = Get(path);

    // Same lengths: everything in place, size unchanged.
    ASSERT_TRUE(WriteTags(path, Map({{"TITLE", "Other"}, {"ARTIST", "Singer"}, {"ALBUM", "Album"}})));
    std::string file = Get(path);
    EXPECT_EQ(file.size(), first.size());
    TagMap back;
    ReadTags(path, back);
    EXPECT_EQ(back, Map({{"ARTIST", "Singer"}, {"ALBUM", "Album"}, {"TITLE", "Other"}}));

    // A longer artist: the old entry is blanked and a new list appended;
    // the title's DISP is blanked when the new one cannot take its place.
    ASSERT_TRUE(WriteTags(path, Map({{"TITLE", "Longer title"}, {"ARTIST", "Another artist"}})));
    file = Get(path);
    EXPECT_GT(file.size(), first.size());
    EXPECT_EQ(file.substr(4, 4), LE32(static_cast<uint32_t>(file.size() - 8)));
    back = TagMap();
    ReadTags(path, back);
    EXPECT_EQ(back, Map({{"ARTIST", "Another artist"}, {"TITLE", "Longer title"}}))
        << "the album was removed";
    EXPECT_EQ(file.find("IART\x07"s), std::string::npos);
    EXPECT_EQ(file.substr(44, data.size()), data) << "audio untouched";

    // Clearing every value blanks every entry and appends nothing.
    const size_t size = file.size();
    ASSERT_TRUE(WriteTags(path, TagMap()));
    EXPECT_EQ(Get(path).size(), size);
    back = TagMap();
    ReadTags(path, back);
    EXPECT_TRUE(back.Empty());
}

TEST(WavTags, ReadsAroundForeignAndDamagedChunks) {
    const std::string path = PathFor("foreign.wav");
    // A block before the RIFF header, a picture DISP, an INFO list with an
    // entry running past its list, and a list of another type.
    const std::string picture = "DISP"s + LE32(8) + LE32(8) + "\x01\x02\x03\x04"s;
    const std::string adtl = "LIST"s + LE32(16) + "adtl" + "IART" + LE32(2) + "X\0"s + "\0\0"s;
    const std::string info =
        "LIST"s + LE32(4 + 10 + 12) + "INFO" + "IART" + LE32(2) + "A\0"s + "INAM" + LE32(500) + "Trun";
    const std::string lead = "JUNK"s + LE32(6) + "abcdef";
    const std::string file = lead + Wav("\x01\x02"s, picture + adtl + info);
    Put(path, file);
    TagMap back;
    ASSERT_TRUE(ReadTags(path, back));
    EXPECT_EQ(back, Map({{"ARTIST", "A"}}));

    // The picture stays; the RIFF size of the form behind the block counts.
    ASSERT_TRUE(WriteTags(path, Map({{"TITLE", "T"}})));
    const std::string written = Get(path);
    EXPECT_NE(written.find(picture), std::string::npos);
    EXPECT_EQ(written.substr(lead.size() + 4, 4),
              LE32(static_cast<uint32_t>(written.size() - lead.size() - 8)));
    back = TagMap();
    ReadTags(path, back);
    EXPECT_EQ(back.Get("TITLE"), "T");

    // Not a WAV file at all.
    Put(path, "RIFX"s + LE32(2) + "ab");
    EXPECT_FALSE(ReadTags(path, back));
    EXPECT_FALSE(WriteTags(path, Map({{"TITLE", "T"}})));
    Put(path, "");
    EXPECT_FALSE(WriteTags(path, Map({{"TITLE", "T"}})));
    EXPECT_EQ(Get(path), "");
}

TEST(WavTags, UnfinishedFilesAreLeftAlone) {
    // A data chunk that claims to run to the end of the file (a writer that
    // never closed): an appended list would be read as audio.
    const std::string path = PathFor("open.wav");
    std::string file = Wav(Audio(100));
    file.replace(40, 4, LE32(0xFFFFFFFF));
    Put(path, file);
    EXPECT_FALSE(WriteTags(path, Map({{"ARTIST", "A"}})));
    EXPECT_EQ(Get(path), file);
    // Tens of thousands of empty chunks: the walk gives up rather than drag on.
    std::string crowded;
    for (int i = 0; i < 70000; ++i)
        crowded += "JUNK"s + LE32(0);
    Put(path, Wav(Audio(10), crowded));
    EXPECT_FALSE(WriteTags(path, Map({{"ARTIST", "A"}})));
    EXPECT_EQ(Get(path), Wav(Audio(10), crowded));
    // Stray bytes after the last chunk: the same.
    Put(path, Wav(Audio(100)) + "xyz");
    EXPECT_FALSE(WriteTags(path, Map({{"ARTIST", "A"}})));
    EXPECT_EQ(Get(path), Wav(Audio(100)) + "xyz");
}

TEST(WavTags, FilesBeyondFourGigabytes) {
    // Sparse: a data chunk of almost 4 GiB with an INFO list behind it.
    const std::string path = PathFor("huge.wav");
    const uint32_t dataSize = 0xFFFFFFF0;
    const std::string item = "IART"s + LE32(4) + "Big\0"s;
    const std::string list = "LIST"s + LE32(static_cast<uint32_t>(4 + item.size())) + "INFO" + item;
    std::string head = Wav("");
    head.replace(40, 4, LE32(dataSize));
    head.replace(4, 4, LE32(0xFFFFFFFF));
    {
        UniqueFd fd(::open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0644));
        ASSERT_TRUE(fd);
        ASSERT_TRUE(WriteAll(fd.Get(), head.data(), head.size()));
        ASSERT_EQ(::pwrite(fd.Get(), list.data(), list.size(), static_cast<off_t>(head.size()) + dataSize),
                  static_cast<ssize_t>(list.size()));
    }
    const int64_t size = *FileSize(path);
    ASSERT_GT(size, int64_t{1} << 32);
    TagMap back;
    ASSERT_TRUE(ReadTags(path, back));
    EXPECT_EQ(back, Map({{"ARTIST", "Big"}}));
    // In place works; an append would leave the 32-bit RIFF size behind.
    ASSERT_TRUE(WriteTags(path, Map({{"ARTIST", "Bog"}})));
    back = TagMap();
    ReadTags(path, back);
    EXPECT_EQ(back, Map({{"ARTIST", "Bog"}}));
    EXPECT_FALSE(WriteTags(path, Map({{"ARTIST", "Longer"}})));
    EXPECT_EQ(*FileSize(path), size);
    back = TagMap();
    ReadTags(path, back);
    EXPECT_EQ(back, Map({{"ARTIST", "Bog"}}));
    ::unlink(path.c_str());
}

TEST(TagIo, DispatchesByExtension) {
    EXPECT_TRUE(FileCanHoldTags("a/b.MP3") && FileCanHoldTags("b.Wav"));
    EXPECT_FALSE(FileCanHoldTags("b.ogg") || FileCanHoldTags("mp3"));
    const std::string path = PathFor("upper.MP3");
    Put(path, Audio(300));
    const std::vector<TagEntry> entries{{"TITLE", "Doc title"}, {"TPE2", "Band"}};
    ASSERT_TRUE(WriteTags(path, entries));
    std::vector<TagEntry> back;
    ASSERT_TRUE(ReadTags(path, back));
    EXPECT_EQ(TagMap(back), TagMap(entries));
    const std::string other = PathFor("x.ogg");
    Put(other, "OggS");
    EXPECT_FALSE(ReadTags(other, back) || WriteTags(other, entries));
    EXPECT_EQ(Get(other), "OggS");
}

TEST(TagIo, RandomFilesNeverCrashOrHang) {
    std::mt19937 rng(11);
    const std::string seedWav = Wav(Audio(40), "LIST"s + LE32(14) + "INFOIART" + LE32(2) + "A\0"s);
    const std::string seedMp3 = Tag(3, F3("TIT2", "\x00T"s)) + Audio(60) + V1Block("x");
    for (int i = 0; i < 150; ++i) {
        std::string wav = seedWav;
        std::string mp3 = seedMp3;
        for (int k = 0; k < 4; ++k) {
            wav[rng() % wav.size()] = static_cast<char>(rng());
            mp3[rng() % mp3.size()] = static_cast<char>(rng());
        }
        // Fresh names: cutting a file back costs more here than making one.
        const std::string wavPath = PathFor("random" + std::to_string(i) + ".wav");
        const std::string mp3Path = PathFor("random" + std::to_string(i) + ".mp3");
        Put(wavPath, wav);
        Put(mp3Path, mp3);
        TagMap m;
        ReadTags(wavPath, m);
        ReadTags(mp3Path, m);
        WriteTags(wavPath, Map({{"ARTIST", "x"}}));
        // A rebuilt ID3v2 tag is flushed to disk each time: only now and then.
        if (i % 4 == 0) WriteTags(mp3Path, i % 8 == 0 ? Map({{"TPE2", "x"}}) : Map({{"TITLE", "T"}}));
    }
}

}  // namespace
}  // namespace sonitor
