#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "formats/WaveFormat.h"
#include "formats/export/EncoderCommands.h"
#include "foundation/AudioSink.h"

namespace sonitor {

class SettingsStore;

// What a target file's extension makes us write.
enum class ExportRoute {
    Wav,       // .wav: our WAV writer with the saved wave format
    Aiff,      // .aif .aiff
    Au,        // .au
    Gsm,       // .gsm: 8000 Hz mono
    Vox,       // .vox: raw settings "VoxAudio"
    Raw,       // .raw: raw settings "RawAudio"
    Encoder,   // .mp3 .ogg .flac .aac .m4a .amr: an external encoder
    Playlist,  // .m3u .pls .wpl .rss: an MP3 beside the playlist
};

struct ExportFormat {
    ExportRoute route = ExportRoute::Wav;
    EncoderKind encoder = EncoderKind::Mp3;  // for Encoder and Playlist
};

// The format for a path's extension (any case); nothing for extensions we
// cannot write.
std::optional<ExportFormat> ExportFormatFor(std::string_view path);

// True for the formats we write ourselves, and for the encoded ones when
// their encoder program can be found.
bool CanSaveAs(std::string_view extension, const SettingsStore& settings);

// "WavCodec.wff" in the user's data folder: a wave format record padded to
// 1024 bytes. Nothing when it is missing, short or unreadable.
std::string SavedWaveFormatPath();
std::optional<WaveFormat> LoadSavedWaveFormat(const std::string& path);
bool StoreSavedWaveFormat(const std::string& path, const WaveFormat& format);

struct ExportOptions {
    const SettingsStore* settings = nullptr;  // Settings() when null
    // The format of a .wav target; the saved wave format when unset, and
    // 16-bit PCM at the document's rate and channels when there is none.
    std::optional<WaveFormat> waveFormat;
    // Asked while waiting on an encoder; true gives up.
    std::function<bool()> cancelled;
};

struct ExportSink {
    Ref<AudioSink> sink;  // never null; failed when it could not be created
    std::string message;  // why, when there is more to say than the path
};

// The sink that writes path in the format of its extension, converting from
// a document of rate and channels. For a playlist extension the sink writes
// the MP3 beside it (Mp3PathForPlaylist); the playlist itself is written by
// SaveAudio. Encoded formats need an absolute path. Unknown extensions give
// a failed NullSink.
ExportSink CreateExportSink(const std::string& path, int32_t rate, int channels,
                            const ExportOptions& options);

}  // namespace sonitor
