#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonitor {

class SettingsStore;

// Saving as a playlist or podcast feed produces the audio as an MP3 beside
// the chosen file plus a one-entry playlist (or feed) that points at it
// through a configurable root URL.
enum class PlaylistKind { M3u, Pls, Wpl, Rss };

// ".m3u", ".pls", ".wpl", ".rss" in any case (with the dot); anything else
// gives nothing.
std::optional<PlaylistKind> PlaylistKindForExtension(std::string_view extension);

// The playlist path with its extension replaced by ".mp3". A path without an
// extension gets ".mp3" appended, so the MP3 never takes the playlist's name.
std::string Mp3PathForPlaylist(std::string_view playlistPath);

// rootUrl + "/" + mp3FileName; no "/" is added when the root URL is empty
// or already ends in one, so an empty root URL gives the bare file name.
std::string MediaUrl(std::string_view rootUrl, std::string_view mp3FileName);

// Whole seconds of audio: frames / sampleRate truncated; 0 for a rate of 0
// or less and for a negative frame count.
int64_t PlaylistDurationSeconds(int64_t frames, int32_t sampleRate);

struct PlaylistEntry {
    std::string title;        // the MP3 file name without its extension
    std::string rootUrl;      // as configured
    std::string mediaUrl;     // MediaUrl(rootUrl, mp3FileName)
    std::string mp3FileName;  // file-name part of the MP3 path
    int64_t durationSeconds = 0;
    int64_t mp3Size = 0;  // bytes, for the feed's enclosure length
};

// The file text for one entry, every line ending in CR LF. The feed's
// enclosure URL is the entry's media URL. Control characters in the inserted
// values (CR and LF among them) become spaces so that no value can break a
// line or a record; in WPL and RSS files & < > " ' are written as entities
// so that the result stays well-formed XML.
std::string PlaylistText(PlaylistKind kind, const PlaylistEntry& entry);

// Writes the playlist (or feed) for an MP3 that has already been written at
// Mp3PathForPlaylist(playlistPath). Call it only after the MP3 was saved
// successfully (the encoder finished and reported no failure): the entry
// describes whatever file is there, and a failed save must not leave a
// playlist pointing at a broken or partial MP3.
//
// The file is replaced atomically. Returns false, writing nothing, when the
// MP3 is missing, when the playlist path would be the MP3 path itself, or
// when the playlist cannot be written; the MP3 is never touched.
bool WritePlaylistFile(PlaylistKind kind, const std::string& playlistPath, const std::string& rootUrl,
                       int64_t framesWritten, int32_t sampleRate);

// The configured root URL: section "RSSEncode", key "RootURL", default "".
std::string ReadPlaylistRootUrl(const SettingsStore& settings);

}  // namespace sonitor
