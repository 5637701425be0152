#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/playlists/PlaylistFile.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using namespace std::string_literals;

// 90.9 seconds at 44100 Hz.
constexpr int64_t kFrames909 = 44100 * 90 + 39690;

struct SavedPair {
    std::string folder;
    std::string mp3Path;
};

// Stands in for the encoder's output: an MP3-named file of a given size.
SavedPair MakeMp3(const std::string& baseName, size_t bytes) {
    SavedPair pair;
    pair.folder = test::MakeTempFolder("playlist");
    pair.mp3Path = pair.folder + "/" + baseName + ".mp3";
    EXPECT_TRUE(WriteFileAtomically(pair.mp3Path, std::string(bytes, '\xFF')));
    return pair;
}

std::string WriteAndRead(PlaylistKind kind, const SavedPair& pair, const std::string& playlistName,
                         const std::string& rootUrl, int64_t frames = kFrames909, int32_t rate = 44100) {
    const std::string path = pair.folder + "/" + playlistName;
    EXPECT_TRUE(WritePlaylistFile(kind, path, rootUrl, frames, rate));
    return ReadWholeFile(path).value_or("<missing>");
}

TEST(PlaylistNames, KindFromExtensionIgnoresCaseAndNeedsTheDot) {
    EXPECT_EQ(PlaylistKindForExtension(".m3u"), PlaylistKind::M3u);
    EXPECT_EQ(PlaylistKindForExtension(".PLS"), PlaylistKind::Pls);
    EXPECT_EQ(PlaylistKindForExtension(".Wpl"), PlaylistKind::Wpl);
    EXPECT_EQ(PlaylistKindForExtension(".rSs"), PlaylistKind::Rss);
    for (const char* other : {"", ".", "m3u", ".m3u8", ".mp3", ".rss ", ".xspf"}) {
        EXPECT_FALSE(PlaylistKindForExtension(other).has_value()) << other;
    }
}

TEST(PlaylistNames, Mp3PathReplacesOnlyTheLastExtension) {
    EXPECT_EQ(Mp3PathForPlaylist("/home/u/Show.m3u"), "/home/u/Show.mp3");
    EXPECT_EQ(Mp3PathForPlaylist("/home/u/Show.Final.PLS"), "/home/u/Show.Final.mp3");
    EXPECT_EQ(Mp3PathForPlaylist("Show.rss"), "Show.mp3");
    // A dot in a folder name is not an extension; the MP3 must not take the
    // playlist's own name.
    EXPECT_EQ(Mp3PathForPlaylist("/home/u.v/Show"), "/home/u.v/Show.mp3");
}

TEST(PlaylistNames, MediaUrlSlashRule) {
    EXPECT_EQ(MediaUrl("http://example.com/pod", "a.mp3"), "http://example.com/pod/a.mp3");
    EXPECT_EQ(MediaUrl("http://example.com/pod/", "a.mp3"), "http://example.com/pod/a.mp3");
    EXPECT_EQ(MediaUrl("", "a.mp3"), "a.mp3");
    EXPECT_EQ(MediaUrl("/", "a.mp3"), "/a.mp3");
}

TEST(PlaylistNames, DurationTruncatesAndGuardsTheRate) {
    EXPECT_EQ(PlaylistDurationSeconds(kFrames909, 44100), 90);
    EXPECT_EQ(PlaylistDurationSeconds(44099, 44100), 0);
    EXPECT_EQ(PlaylistDurationSeconds(44100, 44100), 1);
    EXPECT_EQ(PlaylistDurationSeconds(44100, 0), 0);
    EXPECT_EQ(PlaylistDurationSeconds(44100, -8000), 0);
    EXPECT_EQ(PlaylistDurationSeconds(-1, 8000), 0);
    // Past the range of a 32-bit count of seconds.
    EXPECT_EQ(PlaylistDurationSeconds(int64_t{5'000'000'000} * 8000 + 7999, 8000), 5'000'000'000);
}

TEST(PlaylistTemplates, ExactBytesOfAllFourKinds) {
    const SavedPair pair = MakeMp3("Show 12", 3001);
    const std::string root = "http://example.com/pod";

    EXPECT_EQ(WriteAndRead(PlaylistKind::M3u, pair, "Show 12.m3u", root),
              "#EXTM3U\r\n"
              "#EXTINF:90,Show 12\r\n"
              "http://example.com/pod/Show 12.mp3\r\n");

    EXPECT_EQ(WriteAndRead(PlaylistKind::Pls, pair, "Show 12.pls", root),
              "[playlist]\r\n"
              "File1=http://example.com/pod/Show 12.mp3\r\n"
              "Title1=Show 12\r\n"
              "Length1=90\r\n"
              "NumberOfEntries=1\r\n"
              "Version=2\r\n");

    EXPECT_EQ(WriteAndRead(PlaylistKind::Wpl, pair, "Show 12.wpl", root),
              "<?wpl version=\"1.0\"?>\r\n"
              "<smil>\r\n"
              "    <head>\r\n"
              "        <title>Show 12</title>\r\n"
              "    </head>\r\n"
              "    <body>\r\n"
              "        <seq>\r\n"
              "            <media src=\"http://example.com/pod/Show 12.mp3\"/>\r\n"
              "        </seq>\r\n"
              "    </body>\r\n"
              "</smil>\r\n");

    EXPECT_EQ(WriteAndRead(PlaylistKind::Rss, pair, "Show 12.rss", root),
              "<?xml version=\"1.0\" ?>\r\n"
              "<rss version=\"2.0\">\r\n"
              "  <channel>\r\n"
              "      <title>Show 12</title>\r\n"
              "      <description>Show 12</description>\r\n"
              "      <link>http://example.com/pod</link>\r\n"
              "      <item>\r\n"
              "         <title>Show 12</title>\r\n"
              "         <description>Show 12</description>\r\n"
              "         <enclosure url=\"http://example.com/pod/Show 12.mp3\" length=\"3001\" "
              "type=\"audio/mpeg\" />\r\n"
              "      </item>\r\n"
              "  </channel>\r\n"
              "</rss>\r\n");

    // Writing the playlists left the audio alone.
    EXPECT_EQ(FileSize(pair.mp3Path), 3001);
}

// What the writer fills in: the media URL by the slash rule, the duration
// of the saved frames at their rate, and the MP3's size on disk.
TEST(PlaylistTemplates, WriterFillsInUrlDurationAndSize) {
    struct Case {
        PlaylistKind kind;
        const char* root;
        int64_t frames;
        int32_t rate;
        size_t mp3Bytes;
        std::vector<std::string> wanted;  // a whole M3U file, or parts of the others
    };
    using enum PlaylistKind;
    const std::string m3u90 = "#EXTM3U\r\n#EXTINF:90,ep\r\n", m3u0 = "#EXTM3U\r\n#EXTINF:0,ep\r\n";
    const Case cases[] = {
        {M3u, "http://h/x/", kFrames909, 44100, 10, {m3u90 + "http://h/x/ep.mp3\r\n"}},
        {Rss, "h/", kFrames909, 44100, 10, {"<link>h/</link>", "<enclosure url=\"h/ep.mp3\" length=\"10\""}},
        {M3u, "", kFrames909, 44100, 0, {m3u90 + "ep.mp3\r\n"}},
        {Pls, "", kFrames909, 44100, 0, {"\r\nFile1=ep.mp3\r\n", "\r\nLength1=90\r\n"}},
        {Wpl, "", kFrames909, 44100, 0, {"<media src=\"ep.mp3\"/>"}},
        {Rss, "", kFrames909, 44100, 0, {"<link></link>", "<enclosure url=\"ep.mp3\" length=\"0\""}},
        {Rss, "http://h", kFrames909, 44100, size_t{1} << 20, {"length=\"1048576\""}},
        {M3u, "", 7999, 8000, 1, {m3u0 + "ep.mp3\r\n"}},
        {M3u, "", 8000, 0, 1, {m3u0 + "ep.mp3\r\n"}},
        {Pls, "", int64_t{3'000'000'000} * 48000, 48000, 1, {"\r\nLength1=3000000000\r\n"}},
    };
    for (const Case& c : cases) {
        const SavedPair pair = MakeMp3("ep", c.mp3Bytes);
        const std::string text = WriteAndRead(c.kind, pair, "ep.list", c.root, c.frames, c.rate);
        for (const std::string& w : c.wanted) {
            if (c.kind == M3u) {
                EXPECT_EQ(text, w);
            } else {
                EXPECT_NE(text.find(w), std::string::npos) << w << "\n" << text;
            }
        }
        EXPECT_EQ(FileSize(pair.mp3Path), static_cast<int64_t>(c.mp3Bytes));
    }
}

TEST(PlaylistEscaping, XmlSpecialCharactersBecomeEntities) {
    PlaylistEntry entry;
    entry.title = "Tom & Jerry <Live> \"1\" 'x'";
    entry.rootUrl = "http://h/?a=1&b=2";
    entry.mp3FileName = entry.title + ".mp3";
    entry.mediaUrl = MediaUrl(entry.rootUrl, entry.mp3FileName);
    entry.durationSeconds = 5;
    entry.mp3Size = 9;
    const std::string escTitle = "Tom &amp; Jerry &lt;Live&gt; &quot;1&quot; &apos;x&apos;";

    const std::string wpl = PlaylistText(PlaylistKind::Wpl, entry);
    EXPECT_NE(wpl.find("<title>" + escTitle + "</title>"), std::string::npos) << wpl;
    EXPECT_NE(wpl.find("<media src=\"http://h/?a=1&amp;b=2/" + escTitle + ".mp3\"/>"), std::string::npos)
        << wpl;

    const std::string rss = PlaylistText(PlaylistKind::Rss, entry);
    EXPECT_NE(rss.find("<link>http://h/?a=1&amp;b=2</link>"), std::string::npos) << rss;
    EXPECT_NE(rss.find("<description>" + escTitle + "</description>"), std::string::npos) << rss;
    EXPECT_EQ(rss.find("& "), std::string::npos) << rss;

    // The plain-text formats keep the characters as they are.
    EXPECT_EQ(PlaylistText(PlaylistKind::M3u, entry),
              "#EXTM3U\r\n#EXTINF:5,Tom & Jerry <Live> \"1\" 'x'\r\n"
              "http://h/?a=1&b=2/Tom & Jerry <Live> \"1\" 'x'.mp3\r\n");
}

TEST(PlaylistEscaping, LineBreaksInATitleCannotAddLines) {
    PlaylistEntry entry;
    entry.title = "one\r\ntwo\nthree\rfour";
    entry.mp3FileName = entry.title + ".mp3";
    entry.mediaUrl = entry.mp3FileName;
    entry.durationSeconds = 1;
    EXPECT_EQ(PlaylistText(PlaylistKind::M3u, entry),
              "#EXTM3U\r\n#EXTINF:1,one  two three four\r\none  two three four.mp3\r\n");
    EXPECT_EQ(PlaylistText(PlaylistKind::Pls, entry),
              "[playlist]\r\nFile1=one  two three four.mp3\r\nTitle1=one  two three four\r\n"
              "Length1=1\r\nNumberOfEntries=1\r\nVersion=2\r\n");
    // XML has no escape for most control characters, so they go the same way.
    entry.title = "a\x01z\tb";
    EXPECT_NE(PlaylistText(PlaylistKind::Wpl, entry).find("<title>a z b</title>"), std::string::npos);
}

// A real XML parser reads back exactly the values we put in.
TEST(PlaylistEscaping, PeerParserAcceptsWplAndRss) {
    if (test::RunShell("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
    // The title comes from the MP3 name, which follows the playlist's name.
    const std::string name = "R&B <mix> \"A\" 'b'";
    const SavedPair pair = MakeMp3(name, 77);
    const std::string root = "http://h/p?x=1&y=2";
    ASSERT_TRUE(WritePlaylistFile(PlaylistKind::Wpl, pair.folder + "/" + name + ".wpl", root, 0, 8000));
    ASSERT_TRUE(WritePlaylistFile(PlaylistKind::Rss, pair.folder + "/" + name + ".rss", root, 0, 8000));

    // The script finds the files itself, which keeps the odd name out of the
    // shell command line.
    const std::string script = pair.folder + "/check.py";
    ASSERT_TRUE(
        WriteFileAtomically(script,
                            "import glob, sys, xml.dom.minidom as m\n"
                            "d = sys.argv[1]\n"
                            "out = open(d + '/result.txt', 'w')\n"
                            "w = m.parse(glob.glob(d + '/*.wpl')[0])\n"
                            "out.write(w.getElementsByTagName('title')[0].firstChild.data + '\\n')\n"
                            "out.write(w.getElementsByTagName('media')[0].getAttribute('src') + '\\n')\n"
                            "r = m.parse(glob.glob(d + '/*.rss')[0])\n"
                            "out.write(r.getElementsByTagName('link')[0].firstChild.data + '\\n')\n"
                            "out.write(r.getElementsByTagName('description')[1].firstChild.data + '\\n')\n"
                            "e = r.getElementsByTagName('enclosure')[0]\n"
                            "out.write(e.getAttribute('url') + '|' + e.getAttribute('length') + '\\n')\n"));
    ASSERT_EQ(test::RunShell("python3 '" + script + "' '" + pair.folder + "'"), 0);
    const std::string url = root + "/" + name + ".mp3";
    EXPECT_EQ(ReadWholeFile(pair.folder + "/result.txt").value_or(""),
              name + "\n" + url + "\n" + root + "\n" + name + "\n" + url + "|77\n");
}

TEST(PlaylistFailures, UnwritablePlaylistPathKeepsTheMp3) {
    const SavedPair pair = MakeMp3("show", 500);
    // A folder stands where the playlist should go.
    const std::string blocked = pair.folder + "/show.m3u";
    ASSERT_TRUE(MakeFolders(blocked));
    EXPECT_FALSE(WritePlaylistFile(PlaylistKind::M3u, blocked, "http://h", kFrames909, 44100));
    EXPECT_TRUE(IsFolder(blocked));
    EXPECT_EQ(FileSize(pair.mp3Path), 500);
    EXPECT_EQ(ReadWholeFile(pair.mp3Path), std::string(500, '\xFF'));
    // The temporary file beside the target was cleaned up.
    EXPECT_EQ(test::RunShell("test -z \"$(ls -A '" + pair.folder + "' | grep tmp)\""), 0);
}

TEST(PlaylistFailures, MissingMp3WritesNothing) {
    const std::string folder = test::MakeTempFolder("playlist");
    EXPECT_FALSE(WritePlaylistFile(PlaylistKind::Pls, folder + "/gone.pls", "", 100, 100));
    EXPECT_FALSE(FileExists(folder + "/gone.pls"));
    ASSERT_TRUE(MakeFolders(folder + "/dir.mp3"));
    EXPECT_FALSE(WritePlaylistFile(PlaylistKind::Pls, folder + "/dir.pls", "", 100, 100));
    EXPECT_FALSE(FileExists(folder + "/dir.pls"));
}

TEST(PlaylistFailures, PlaylistNeverReplacesItsOwnMp3) {
    const SavedPair pair = MakeMp3("song", 64);
    EXPECT_FALSE(WritePlaylistFile(PlaylistKind::M3u, pair.mp3Path, "", 100, 100));
    EXPECT_EQ(ReadWholeFile(pair.mp3Path), std::string(64, '\xFF'));

    // Without an extension the MP3 is the name plus ".mp3".
    const SavedPair bare = MakeMp3("noext", 3);
    EXPECT_EQ(WriteAndRead(PlaylistKind::M3u, bare, "noext", ""),
              "#EXTM3U\r\n#EXTINF:90,noext\r\nnoext.mp3\r\n");
}

TEST(PlaylistSettings, RootUrlFromRssEncodeSection) {
    const std::string folder = test::MakeTempFolder("settings");
    SettingsStore store(SettingsLocation{folder + "/user.ini", folder + "/machine.ini"});
    EXPECT_EQ(ReadPlaylistRootUrl(store), "");
    ASSERT_TRUE(store.WriteString("RSSEncode", "RootURL", "http://example.org/feed"));
    EXPECT_EQ(ReadPlaylistRootUrl(store), "http://example.org/feed");
}

}  // namespace
}  // namespace sonitor
