#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "formats/raw/RawSettings.h"
#include "foundation/AudioSource.h"

namespace sonitor {

class ProgressTask;
class SettingsStore;

// The loader a file's extension selects, in the order the extensions are
// tested.
enum class ImportRoute {
    Wav,        // .wav
    Mp3,        // .mp3
    Aiff,       // .aif .aiff
    Au,         // .au
    Gsm,        // .gsm
    Vox,        // .vox  (raw settings "VoxAudio")
    Raw,        // .raw .snd (raw settings "RawAudio")
    Dct,        // .dct
    Aac,        // .aac .m4a
    Ogg,        // .ogg
    Flac,       // .flac
    Amr,        // .amr
    Wma,        // .wma
    Dss,        // .dss
    RealAudio,  // .ra .ram .rm .rmj
    Sri,        // .sri
    Record,     // .act .rec .rcd
    Shorten,    // .shn
    Other,      // anything else, also no extension at all
};

// The route for a path: its extension (from the last '.' after the last '/'
// or '\'), compared without regard to case.
ImportRoute ImportRouteFor(std::string_view path);

// The messages of a failed open ("%s" = path).
std::string AccessMessage(const std::string& path);   // cannot be opened
std::string CorruptMessage(const std::string& path);  // damaged
std::string WavStatusMessage(const std::string& path, uint8_t status);
std::string Mp3StatusMessage(const std::string& path, uint8_t status);
// A failed decode of a .wma file, and of a file of any unknown kind.
std::string WmaFailedMessage(const std::string& path);
std::string UnsupportedFileMessage(const std::string& path);

struct OpenAudioOptions {
    // Raw settings and component paths come from here; Settings() when null.
    const SettingsStore* settings = nullptr;
    // The codec settings dialog for .vox, .raw and .snd files, asked when the
    // interaction flag is set: it may change the settings; false = cancelled.
    std::function<bool(const std::string& section, RawSettings& settings)> askRawSettings;
    // Where decoders write their temporary files; the working folder when
    // empty. Each open uses a private folder inside that is removed before
    // OpenAudioSource returns.
    std::string tempBase;
};

struct OpenAudioResult {
    int32_t result = 2;       // 0 done, 1 cancelled, 2 failed
    Ref<AudioSource> source;  // set only when result is 0
    std::string message;      // why it failed, when there is something to say
};

// Opens any audio file as a source. Formats we read ourselves give a source
// at once; the rest are decoded by an external program into a temporary WAV
// file that the returned source keeps open.
//
// When the interaction flag is non-zero, the first failure message is shown
// through the task (which may be null: nothing is shown then) and the flag
// cleared; the raw-settings dialog also clears it. A missing decoder program
// is reported through the task whatever the flag. The message is returned in
// any case for callers that report it themselves.
OpenAudioResult OpenAudioSource(const std::string& path, uint8_t& interact, ProgressTask* task,
                                const OpenAudioOptions& options = {});

}  // namespace sonitor
