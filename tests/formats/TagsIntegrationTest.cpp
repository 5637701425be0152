// Tags we write, read back by peers: libmpg123 and ffmpeg for MP3 files,
// ffprobe for WAV files; and the audio the peers decode before and after.

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mpg123.h>

#include "formats/tags/Genres.h"
#include "formats/tags/TagIo.h"
#include "formats/tags/TagMap.h"
#include "foundation/FileUtil.h"
#include "foundation/Text.h"
#include "support/Bytes.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using namespace std::string_literals;

const std::string& Folder() {
    static const std::string folder = test::MakeTempFolder("tagpeers");
    return folder;
}
std::string PathOf(const std::string& name) {
    return Folder() + "/" + name;
}
void RunIn(const std::string& commandLine) {
    ASSERT_EQ(test::RunShell("cd '" + Folder() + "' && " + commandLine), 0) << commandLine;
}
std::string Get(const std::string& name) {
    return ReadWholeFile(PathOf(name)).value_or("");
}
void Copy(const std::string& from, const std::string& to) {
    ASSERT_TRUE(WriteFileAtomically(PathOf(to), Get(from)));
}

TagMap Map(std::initializer_list<std::pair<std::string, std::string>> entries) {
    TagMap m;
    for (const auto& [k, v] : entries)
        m.Set(k, v);
    return m;
}

// A short MP3 made by lame, without tags of its own.
const std::string& BaseMp3() {
    static const std::string name = [] {
        EXPECT_EQ(
            test::RunShell("cd '" + Folder() +
                           "' && sox -V1 -n -r 44100 -c 2 -b 16 base.wav synth 0.5 sine 440 sine 660 && "
                           "lame --quiet -b 128 base.wav base.mp3"),
            0);
        return std::string("base.mp3");
    }();
    return name;
}

// What libmpg123 decodes, and the tags it found on the way.
struct Mpg123Result {
    std::string pcm;
    bool hasV1 = false;
    mpg123_id3v1 v1{};
    bool hasV2 = false;
    std::map<std::string, std::string> texts;  // frame id -> text
    std::string comment;
    std::vector<std::string> pictures;
};

Mpg123Result Decode(const std::string& name) {
    Mpg123Result r;
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (!mh) return r;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_PICTURE, 0.0);
    if (mpg123_open(mh, PathOf(name).c_str()) == MPG123_OK) {
        unsigned char buffer[16384];
        size_t done = 0;
        for (;;) {
            const int rc = mpg123_read(mh, buffer, sizeof buffer, &done);
            r.pcm.append(reinterpret_cast<const char*>(buffer), done);
            if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) break;
        }
        mpg123_id3v1* v1 = nullptr;
        mpg123_id3v2* v2 = nullptr;
        if ((mpg123_meta_check(mh) & MPG123_ID3) && mpg123_id3(mh, &v1, &v2) == MPG123_OK) {
            if (v1) r.hasV1 = true, r.v1 = *v1;
            if (v2) {
                r.hasV2 = true;
                for (size_t i = 0; i < v2->texts; ++i) {
                    const mpg123_string& s = v2->text[i].text;
                    r.texts[std::string(v2->text[i].id, 4)] = s.fill ? std::string(s.p) : std::string();
                }
                if (v2->comment && v2->comment->fill) r.comment = v2->comment->p;
                for (size_t i = 0; i < v2->pictures; ++i)
                    r.pictures.emplace_back(reinterpret_cast<const char*>(v2->picture[i].data),
                                            v2->picture[i].size);
            }
        }
        mpg123_close(mh);
    }
    mpg123_delete(mh);
    return r;
}

// The format-level tags ffprobe reports, by its names.
std::map<std::string, std::string> FfprobeTags(const std::string& name) {
    const std::string out = name + ".tags";
    RunIn("ffprobe -v error -show_entries format_tags -of default=noprint_wrappers=1 '" + name + "' > '" +
          out + "'");
    std::map<std::string, std::string> tags;
    std::istringstream lines(Get(out));
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (line.rfind("TAG:", 0) == 0 && eq != std::string::npos)
            tags[ToLowerAscii(line.substr(4, eq - 4))] = line.substr(eq + 1);
    }
    return tags;
}

std::string Field(const char* field, size_t size) {
    const std::string s(field, size);
    return s.substr(0, s.find('\0'));
}

TEST(TagsPeers, Id3v2TagWeWriteIsReadByLibmpg123AndFfprobe) {
    Copy(BaseMp3(), "v2.mp3");
    const Mpg123Result before = Decode("v2.mp3");
    ASSERT_GT(before.pcm.size(), 40000u);
    EXPECT_TRUE(before.texts.empty());

    const std::string title =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xE4\xB8\xAD\xE6\x96\x87";  // needs UTF-16 in 2.3
    const TagMap tags = Map({{"TITLE", title},
                             {"ARTIST", "Artist Name"},
                             {"ALBUM", "Caf\xC3\xA9 Album"},
                             {"DATE", "2019"},
                             {"COMMENT", "A comment"},
                             {"TRACKNUMBER", "4/10"},
                             {"GENRE", "Jazz"},
                             {"TPE2", "The Band"}});
    ASSERT_TRUE(WriteTags(PathOf("v2.mp3"), tags));

    Mpg123Result after = Decode("v2.mp3");
    EXPECT_EQ(after.pcm, before.pcm) << "the audio decodes exactly as before";
    ASSERT_TRUE(after.hasV2);
    EXPECT_EQ(after.texts["TIT2"], title);
    EXPECT_EQ(after.texts["TPE1"], "Artist Name");
    EXPECT_EQ(after.texts["TALB"], "Caf\xC3\xA9 Album");
    EXPECT_EQ(after.texts["TYER"], "2019");
    EXPECT_EQ(after.texts["TRCK"], "4/10");
    EXPECT_EQ(after.texts["TCON"], "Jazz");
    EXPECT_EQ(after.texts["TPE2"], "The Band");
    EXPECT_EQ(after.comment, "A comment");
    ASSERT_TRUE(after.hasV1);
    EXPECT_EQ(Field(after.v1.title, 30),
              "Gr\xFC\xDF"
              "e \x80 ??");
    EXPECT_EQ(after.v1.genre, 8);

    auto ff = FfprobeTags("v2.mp3");
    EXPECT_EQ(ff["title"], title);
    EXPECT_EQ(ff["artist"], "Artist Name");
    EXPECT_EQ(ff["album"], "Caf\xC3\xA9 Album");
    EXPECT_EQ(ff["date"], "2019");
    EXPECT_EQ(ff["comment"], "A comment");
    EXPECT_EQ(ff["track"], "4/10");
    EXPECT_EQ(ff["genre"], "Jazz");
    EXPECT_EQ(ff["album_artist"], "The Band");

    // And what we read is what we wrote.
    TagMap back;
    ASSERT_TRUE(ReadTags(PathOf("v2.mp3"), back));
    EXPECT_EQ(back, tags);
}

TEST(TagsPeers, PictureAndForeignFramesSurviveARebuild) {
    // ffmpeg attaches a cover and writes frames of its own.
    RunIn(
        "ffmpeg -v error -y -f lavfi -i color=c=red:s=16x16 -frames:v 1 cover.png && "
        "ffmpeg -v error -y -i '" +
        BaseMp3() +
        "' -i cover.png -map 0:a -map 1 -c copy -id3v2_version 3 "
        "-metadata title=Short -metadata publisher=Someone pic.mp3");
    const std::string cover = Get("cover.png");
    ASSERT_GT(cover.size(), 40u);
    const Mpg123Result before = Decode("pic.mp3");
    ASSERT_EQ(before.pictures.size(), 1u);
    EXPECT_EQ(before.pictures[0], cover);

    TagMap tags;
    ASSERT_TRUE(ReadTags(PathOf("pic.mp3"), tags));
    EXPECT_EQ(tags.Get("TITLE"), "Short");
    EXPECT_EQ(tags.Get("TPUB"), "Someone");
    tags.Set("TITLE",
             "A much longer title than the one ffmpeg wrote, so the tag grows " + std::string(300, 'x'));
    tags.Set("TPE2", "Band");
    ASSERT_TRUE(WriteTags(PathOf("pic.mp3"), tags));

    Mpg123Result after = Decode("pic.mp3");
    EXPECT_EQ(after.pcm, before.pcm);
    ASSERT_EQ(after.pictures.size(), 1u);
    EXPECT_EQ(after.pictures[0], cover) << "the picture is copied byte for byte";
    EXPECT_EQ(after.texts["TPUB"], "Someone");
    EXPECT_EQ(after.texts["TPE2"], "Band");
    EXPECT_EQ(after.texts["TIT2"], tags.Get("TITLE"));
}

TEST(TagsPeers, GenreNamesAgreeWithPeers) {
    // One small file per genre byte; each peer reads them all in one run.
    const std::string audio = Get(BaseMp3());
    ASSERT_FALSE(audio.empty());
    std::string mpgArgs, ffArgs;
    for (int i = 0; i < kGenreCount; ++i) {
        std::string block(128, '\0');
        block.replace(0, 3, "TAG");
        block.replace(3, 1, "t");
        block[127] = static_cast<char>(i);
        const std::string name = Format("genre%03d.mp3", i);
        std::ofstream(PathOf(name), std::ios::binary) << audio << block;
        mpgArgs += " " + name;
        ffArgs += " -i " + name;
    }
    // Both exit non-zero here (nothing to play or no output given): the
    // listing is what counts.
    test::RunShell("cd '" + Folder() + "' && mpg123 -t -v" + mpgArgs + " > mpg.txt 2>&1");
    test::RunShell("cd '" + Folder() + "' && ffmpeg -hide_banner" + ffArgs + " > ff.txt 2>&1");
    auto collect = [](const std::string& text, const std::string& marker) {
        std::vector<std::string> names;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find(marker);
            if (at == std::string::npos) continue;
            std::string rest = line.substr(at + marker.size());
            rest.erase(0, rest.find_first_not_of(" :"));
            names.push_back(rest);
        }
        return names;
    };
    const auto mpg = collect(Get("mpg.txt"), "Genre:");
    const auto ff = collect(Get("ff.txt"), "genre ");
    ASSERT_EQ(mpg.size(), static_cast<size_t>(kGenreCount));
    ASSERT_EQ(ff.size(), static_cast<size_t>(kGenreCount));
    for (int i = 0; i < kGenreCount; ++i) {
        const std::string ours(GenreName(i));
        if (i == 133) continue;  // we use the entry's later name
        EXPECT_TRUE(EqualsIgnoreCase(ours, mpg[i]) || EqualsIgnoreCase(ours, ff[i]))
            << i << ": " << ours << " / " << mpg[i] << " / " << ff[i];
        // Whatever a peer calls it, we find the same byte again.
        EXPECT_EQ(FindGenre(ff[i]), i) << ff[i];
    }
}

TEST(TagsPeers, WavInfoWeWriteIsReadByFfprobeAndTheAudioIsUnchanged) {
    RunIn(
        "sox -V1 -n -r 22050 -c 2 -b 16 info.wav synth 0.3 sine 300 && "
        "sox -V1 info.wav -t raw before.raw");
    const TagMap tags = Map({{"TITLE", "Shown title"},
                             {"ARTIST", "Artist"},
                             {"ALBUM", "Album"},
                             {"DATE", "2001"},
                             {"COMMENT", "Comment"},
                             {"TRACKNUMBER", "3"},
                             {"GENRE", "Rock"}});
    ASSERT_TRUE(WriteTags(PathOf("info.wav"), tags));
    RunIn("sox -V1 info.wav -t raw after.raw");
    EXPECT_EQ(Get("after.raw"), Get("before.raw"));
    auto ff = FfprobeTags("info.wav");
    // Our INFO ids, by the names ffprobe gives them.
    EXPECT_EQ(ff["artist"], "Artist");
    EXPECT_EQ(ff["title"], "Album");  // INAM
    EXPECT_EQ(ff["copyright"], "2001");
    EXPECT_EQ(ff["comment"], "Comment");
    EXPECT_EQ(ff["track"], "3");
    EXPECT_EQ(ff["genre"], "Rock");
    TagMap back;
    ASSERT_TRUE(ReadTags(PathOf("info.wav"), back));
    EXPECT_EQ(back.Get("TITLE"), "Shown title");
    EXPECT_EQ(back.Size(), 7u);

    // An odd data chunk without its pad byte (as our 8-bit writer leaves
    // it): the list goes after a pad byte, and peers still find both.
    ASSERT_TRUE(WriteFileAtomically(PathOf("odd.wav"), test::PcmWav(8000, 1, 8, "\x10\x80\xF0"s)));
    ASSERT_TRUE(WriteTags(PathOf("odd.wav"), Map({{"ARTIST", "Odd"}})));
    EXPECT_EQ(FfprobeTags("odd.wav")["artist"], "Odd");
    RunIn("sox -V1 odd.wav -t raw -e unsigned -b 8 odd.raw");
    EXPECT_EQ(Get("odd.raw"), "\x10\x80\xF0"s);
}

}  // namespace
}  // namespace sonitor
