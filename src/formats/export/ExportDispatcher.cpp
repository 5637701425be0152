#include "formats/export/ExportDispatcher.h"

#include <strings.h>

#include "formats/WavSink.h"
#include "formats/export/PipeEncoderSink.h"
#include "formats/playlists/PlaylistFile.h"
#include "formats/raw/AiffFile.h"
#include "formats/raw/AuFile.h"
#include "formats/raw/GsmFile.h"
#include "formats/raw/RawFile.h"
#include "formats/raw/RawSettings.h"
#include "formats/raw/Vox.h"
#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

struct ExtensionEntry {
    const char* extension;
    ExportFormat format;
};

constexpr ExtensionEntry kExtensions[] = {
    {".wav", {ExportRoute::Wav}},
    {".mp3", {ExportRoute::Encoder, EncoderKind::Mp3}},
    {".au", {ExportRoute::Au}},
    {".aif", {ExportRoute::Aiff}},
    {".aiff", {ExportRoute::Aiff}},
    {".gsm", {ExportRoute::Gsm}},
    {".vox", {ExportRoute::Vox}},
    {".raw", {ExportRoute::Raw}},
    {".ogg", {ExportRoute::Encoder, EncoderKind::Ogg}},
    {".flac", {ExportRoute::Encoder, EncoderKind::Flac}},
    {".aac", {ExportRoute::Encoder, EncoderKind::Aac}},
    {".m4a", {ExportRoute::Encoder, EncoderKind::M4a}},
    {".amr", {ExportRoute::Encoder, EncoderKind::Amr}},
    {".rss", {ExportRoute::Playlist, EncoderKind::Mp3}},
    {".m3u", {ExportRoute::Playlist, EncoderKind::Mp3}},
    {".pls", {ExportRoute::Playlist, EncoderKind::Mp3}},
    {".wpl", {ExportRoute::Playlist, EncoderKind::Mp3}},
};

constexpr size_t kWaveFormatFileBytes = 1024;

ExportSink Failed(std::string message = {}) {
    return {MakeNullSink(), std::move(message)};
}

}  // namespace

std::optional<ExportFormat> ExportFormatFor(std::string_view path) {
    const std::string extension = ExtensionPart(path);
    for (const ExtensionEntry& entry : kExtensions) {
        if (strcasecmp(extension.c_str(), entry.extension) == 0) return entry.format;
    }
    return std::nullopt;
}

bool CanSaveAs(std::string_view extension, const SettingsStore& settings) {
    const std::optional<ExportFormat> format = ExportFormatFor(extension);
    if (!format) return false;
    // Playlists are written by us; their MP3 needs the encoder only once
    // there is audio to encode, and saving reports it then.
    if (format->route != ExportRoute::Encoder) return true;
    return !FindComponent(EncoderComponent(format->encoder), settings).empty();
}

std::string SavedWaveFormatPath() {
    return JoinPath(UserDataFolder(), "WavCodec.wff");
}

std::optional<WaveFormat> LoadSavedWaveFormat(const std::string& path) {
    const std::optional<std::string> bytes = ReadWholeFile(path);
    if (!bytes || bytes->size() < kWaveFormatFileBytes) return std::nullopt;
    return WaveFormat::Parse(reinterpret_cast<const uint8_t*>(bytes->data()), kWaveFormatFileBytes);
}

bool StoreSavedWaveFormat(const std::string& path, const WaveFormat& format) {
    std::vector<uint8_t> record = format.Serialize();
    if (record.size() > kWaveFormatFileBytes) return false;
    record.resize(kWaveFormatFileBytes, 0);
    return WriteFileAtomically(path,
                               std::string_view(reinterpret_cast<const char*>(record.data()), record.size()));
}

ExportSink CreateExportSink(const std::string& path, int32_t rate, int channels,
                            const ExportOptions& options) {
    const std::optional<ExportFormat> format = ExportFormatFor(path);
    if (!format) return Failed();
    const SettingsStore& settings = options.settings ? *options.settings : Settings();
    switch (format->route) {
        case ExportRoute::Wav: {
            std::optional<WaveFormat> wave = options.waveFormat;
            if (!wave) wave = LoadSavedWaveFormat(SavedWaveFormatPath());
            if (!wave) {
                return {CreatePcmWavSink(path, rate, 16, channels), {}};
            }
            return {CreateWavSink(path, *wave), {}};
        }
        case ExportRoute::Aiff:
            return {CreateAiffSink(path, rate, channels), {}};
        case ExportRoute::Au:
            return {CreateAuSink(path, rate, channels), {}};
        case ExportRoute::Gsm:
            return {CreateGsmSink(path), {}};
        case ExportRoute::Vox: {
            const RawSettings raw = LoadRawSettings(settings, kVoxAudioSection);
            return {CreateVoxSink(path, raw.sampleRate), {}};
        }
        case ExportRoute::Raw:
            return {CreateRawSink(LoadRawSettings(settings, kRawAudioSection), path), {}};
        case ExportRoute::Encoder:
        case ExportRoute::Playlist:
            break;
    }
    const std::string output = format->route == ExportRoute::Playlist ? Mp3PathForPlaylist(path) : path;
    // Every argument after the program is an option or an absolute path.
    if (output.empty() || output[0] != '/') return Failed();
    const ExternalDecoder& component = EncoderComponent(format->encoder);
    const std::string program = FindComponent(component, settings);
    if (program.empty()) return Failed(MissingComponentMessage(component));
    const EncoderPlan plan = PlanEncoder(format->encoder, program, settings, rate, channels, output);
    Ref<AudioSink> sink =
        MakeRef<PipeEncoderSink>(plan.arguments, output, plan.sampleRate, plan.channels, options.cancelled);
    return {sink, {}};
}

}  // namespace sonitor
