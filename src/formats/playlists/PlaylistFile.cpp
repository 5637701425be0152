#include "formats/playlists/PlaylistFile.h"

#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

// Control characters would end an M3U or PLS line early and are not allowed
// in XML 1.0 at all, even as entities.
std::string WithoutControls(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return out;
}

std::string XmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : WithoutControls(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

}  // namespace

std::optional<PlaylistKind> PlaylistKindForExtension(std::string_view extension) {
    if (EqualsIgnoreCase(extension, ".m3u")) return PlaylistKind::M3u;
    if (EqualsIgnoreCase(extension, ".pls")) return PlaylistKind::Pls;
    if (EqualsIgnoreCase(extension, ".wpl")) return PlaylistKind::Wpl;
    if (EqualsIgnoreCase(extension, ".rss")) return PlaylistKind::Rss;
    return std::nullopt;
}

std::string Mp3PathForPlaylist(std::string_view playlistPath) {
    if (ExtensionPart(playlistPath).empty()) return std::string(playlistPath) + ".mp3";
    return ReplaceExtension(playlistPath, ".mp3");
}

std::string MediaUrl(std::string_view rootUrl, std::string_view mp3FileName) {
    std::string url(rootUrl);
    if (!url.empty() && url.back() != '/') url += '/';
    url += mp3FileName;
    return url;
}

int64_t PlaylistDurationSeconds(int64_t frames, int32_t sampleRate) {
    if (sampleRate <= 0 || frames <= 0) return 0;
    return frames / sampleRate;
}

std::string PlaylistText(PlaylistKind kind, const PlaylistEntry& entry) {
    const long long duration = entry.durationSeconds;
    switch (kind) {
        case PlaylistKind::M3u: {
            const std::string title = WithoutControls(entry.title);
            const std::string url = WithoutControls(entry.mediaUrl);
            return Format("#EXTM3U\r\n#EXTINF:%lld,%s\r\n%s\r\n", duration, title.c_str(), url.c_str());
        }
        case PlaylistKind::Pls: {
            const std::string title = WithoutControls(entry.title);
            const std::string url = WithoutControls(entry.mediaUrl);
            return Format(
                "[playlist]\r\nFile1=%s\r\nTitle1=%s\r\nLength1=%lld\r\nNumberOfEntries=1\r\nVersion=2\r\n",
                url.c_str(), title.c_str(), duration);
        }
        case PlaylistKind::Wpl: {
            const std::string title = XmlText(entry.title);
            const std::string url = XmlText(entry.mediaUrl);
            return Format(
                "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n        <title>%s</title>\r\n"
                "    </head>\r\n    <body>\r\n        <seq>\r\n            <media src=\"%s\"/>\r\n"
                "        </seq>\r\n    </body>\r\n</smil>\r\n",
                title.c_str(), url.c_str());
        }
        case PlaylistKind::Rss: {
            const std::string title = XmlText(entry.title);
            const std::string link = XmlText(entry.rootUrl);
            const std::string url = XmlText(entry.mediaUrl);
            const long long length = entry.mp3Size;
            return Format(
                "<?xml version=\"1.0\" ?>\r\n<rss version=\"2.0\">\r\n  <channel>\r\n"
                "      <title>%s</title>\r\n      <description>%s</description>\r\n"
                "      <link>%s</link>\r\n      <item>\r\n         <title>%s</title>\r\n"
                "         <description>%s</description>\r\n"
                "         <enclosure url=\"%s\" length=\"%lld\" type=\"audio/mpeg\" />\r\n"
                "      </item>\r\n  </channel>\r\n</rss>\r\n",
                title.c_str(), title.c_str(), link.c_str(), title.c_str(), title.c_str(), url.c_str(),
                length);
        }
    }
    return {};
}

bool WritePlaylistFile(PlaylistKind kind, const std::string& playlistPath, const std::string& rootUrl,
                       int64_t framesWritten, int32_t sampleRate) {
    const std::string mp3Path = Mp3PathForPlaylist(playlistPath);
    // A playlist named "*.mp3" would be written over the audio it lists.
    if (NormalizeSeparators(mp3Path) == NormalizeSeparators(playlistPath)) return false;
    if (!FileExists(mp3Path) || IsFolder(mp3Path)) return false;
    const std::optional<int64_t> size = FileSize(mp3Path);
    if (!size) return false;

    PlaylistEntry entry;
    entry.mp3FileName = FileNamePart(mp3Path);
    entry.title = entry.mp3FileName.substr(0, entry.mp3FileName.size() - ExtensionPart(mp3Path).size());
    entry.rootUrl = rootUrl;
    entry.mediaUrl = MediaUrl(rootUrl, entry.mp3FileName);
    entry.durationSeconds = PlaylistDurationSeconds(framesWritten, sampleRate);
    entry.mp3Size = *size;
    return WriteFileAtomically(playlistPath, PlaylistText(kind, entry));
}

std::string ReadPlaylistRootUrl(const SettingsStore& settings) {
    return settings.ReadString("RSSEncode", "RootURL", "");
}

}  // namespace sonitor
