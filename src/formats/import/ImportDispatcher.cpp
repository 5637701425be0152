#include "formats/import/ImportDispatcher.h"

#include <unistd.h>

#include <utility>

#include "document/ProgressTask.h"
#include "formats/WavSource.h"
#include "formats/import/ExternalDecoders.h"
#include "formats/mp3/Mp3Source.h"
#include "formats/raw/AiffFile.h"
#include "formats/raw/AuFile.h"
#include "formats/raw/GsmFile.h"
#include "formats/raw/RawFile.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/TempFolder.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {

namespace {

struct RouteName {
    const char* extension;
    ImportRoute route;
};

// Tested in this order; the first match wins.
constexpr RouteName kRoutes[] = {
    {".wav", ImportRoute::Wav},       {".mp3", ImportRoute::Mp3},      {".aif", ImportRoute::Aiff},
    {".aiff", ImportRoute::Aiff},     {".au", ImportRoute::Au},        {".gsm", ImportRoute::Gsm},
    {".vox", ImportRoute::Vox},       {".raw", ImportRoute::Raw},      {".snd", ImportRoute::Raw},
    {".dct", ImportRoute::Dct},       {".aac", ImportRoute::Aac},      {".m4a", ImportRoute::Aac},
    {".ogg", ImportRoute::Ogg},       {".flac", ImportRoute::Flac},    {".amr", ImportRoute::Amr},
    {".wma", ImportRoute::Wma},       {".dss", ImportRoute::Dss},      {".ra", ImportRoute::RealAudio},
    {".ram", ImportRoute::RealAudio}, {".rm", ImportRoute::RealAudio}, {".rmj", ImportRoute::RealAudio},
    {".sri", ImportRoute::Sri},       {".act", ImportRoute::Record},   {".rec", ImportRoute::Record},
    {".rcd", ImportRoute::Record},    {".shn", ImportRoute::Shorten},
};

ExternalDecoder FfmpegDecoder(std::string component, std::string title) {
    return {std::move(component), "ffmpeg", "ffmpeg", std::move(title), DecoderKind::Ffmpeg};
}

// Every route we do not read ourselves goes to one of these. Vendor and
// platform decoders of other systems are all replaced by ffmpeg.
ExternalDecoder DecoderFor(ImportRoute route) {
    switch (route) {
        case ImportRoute::Ogg:
            return {"oggdec", "oggdec", "vorbis-tools", "Decoding Ogg file", DecoderKind::Oggdec};
        case ImportRoute::Flac:
            return {"flacdec", "flac", "flac", "Decoding FLAC file", DecoderKind::Flac};
        case ImportRoute::Aac:
            return FfmpegDecoder("aacdec", "Decoding AAC file");
        case ImportRoute::Amr:
            return FfmpegDecoder("amrdec", "Decoding AMR file");
        case ImportRoute::Record:
            return FfmpegDecoder("actdec", "Decoding Record file");
        case ImportRoute::Shorten:
            return FfmpegDecoder("shndec", "Decoding Shn file");
        case ImportRoute::Dss:
            return FfmpegDecoder("ffmpeg", "Decoding DSS File");
        case ImportRoute::RealAudio:
            return FfmpegDecoder("ffmpeg", "Decoding RealAudio file");
        case ImportRoute::Sri:
            return FfmpegDecoder("ffmpeg", "Decoding VoiceIt File");
        default:
            return FfmpegDecoder("ffmpeg", "Decoding with ffmpeg");
    }
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr) return path;
    return JoinPath(buffer, path);
}

// Shows a failure once per open, as the interaction flag allows.
void Report(OpenAudioResult& out, std::string message, uint8_t& interact, ProgressTask* task) {
    out.message = std::move(message);
    if (interact != 0 && task != nullptr) {
        interact = 0;
        ShowTaskError(*task, out.message);
    }
}

OpenAudioResult Direct(Ref<AudioSource> source, std::string message, uint8_t& interact, ProgressTask* task) {
    OpenAudioResult out;
    if (source && source->Ok()) {
        out.result = 0;
        out.source = std::move(source);
        return out;
    }
    Report(out, std::move(message), interact, task);
    return out;
}

OpenAudioResult OpenRaw(const std::string& path, const char* section, uint8_t& interact,
                        const OpenAudioOptions& options, const SettingsStore& settings) {
    OpenAudioResult out;
    RawSettings raw = LoadRawSettings(settings, section);
    if (interact != 0 && options.askRawSettings) {
        interact = 0;
        if (!options.askRawSettings(section, raw)) {
            out.result = 1;
            return out;
        }
    }
    Ref<AudioSource> source = OpenRawSource(raw, path);
    // The interaction has been spent on the dialog, so there is no message.
    if (source && source->Ok()) {
        out.result = 0;
        out.source = std::move(source);
    }
    return out;
}

OpenAudioResult Decode(const std::string& path, ImportRoute route, uint8_t& interact, ProgressTask* task,
                       const OpenAudioOptions& options, const SettingsStore& settings) {
    OpenAudioResult out;
    const ExternalDecoder decoder = DecoderFor(route);
    if (task != nullptr) {
        SetProgressText(*task, 0, decoder.title);
        SetProgressText(*task, 1, FileNamePart(path));
    }
    const std::string program = FindComponent(decoder, settings);
    if (program.empty()) {
        out.message = MissingComponentMessage(decoder);
        interact = 0;
        if (task != nullptr) ShowTaskError(*task, out.message);
        return out;
    }
    // A private folder per open: no other open, here or in another process,
    // can meet our temporary file, and it goes when we return. The source
    // keeps the decoded file open, so it stays readable after that.
    TempFolder temp("import", options.tempBase.empty() ? WorkingFolder() : options.tempBase);
    if (!temp.Ok()) return out;
    const std::string wav = temp.File("Temp1.wav");
    const DecodeOutcome outcome = RunDecoder(
        task, DecoderArguments(decoder, program, AbsolutePath(path), wav), wav, temp.File("log.txt"));
    out.result = outcome.result;
    if (outcome.result == 0) {
        Ref<AudioSource> source = OpenWavSource(wav);
        if (source && source->Ok()) {
            out.source = std::move(source);
        } else {
            out.result = 2;
        }
    }
    return out;
}

}  // namespace

ImportRoute ImportRouteFor(std::string_view path) {
    const std::string extension = ToLowerAscii(ExtensionPart(path));
    for (const RouteName& entry : kRoutes) {
        if (extension == entry.extension) return entry.route;
    }
    return ImportRoute::Other;
}

std::string AccessMessage(const std::string& path) {
    return Format("Cannot open the file \"%s\". Check it exists and you have read access.", path.c_str());
}

std::string CorruptMessage(const std::string& path) {
    return Format("Cannot open the file \"%s\" because it is corrupt.", path.c_str());
}

std::string WavStatusMessage(const std::string& path, uint8_t status) {
    switch (status) {
        case kSourceUnusable:
            return CorruptMessage(path);
        case kSourceCannotOpen:
            return AccessMessage(path);
        case kSourceNoCodec:
            return Format(
                "Cannot open the file \"%s\" because the required ACM codec is not installed on this PC.\n\n"
                "Open the file with Windows Media Player to auto-install the codec then reattempt to load "
                "it.",
                path.c_str());
        default:
            return Format("Cannot open the file \"%s\".", path.c_str());
    }
}

std::string Mp3StatusMessage(const std::string& path, uint8_t status) {
    if (status == kSourceCannotOpen) return AccessMessage(path);
    return Format(
        "Cannot open the file \"%s\". It is possibly either corrupt or not a true layer-3 MPEG file.",
        path.c_str());
}

std::string WmaFailedMessage(const std::string& path) {
    return Format(
        "Cannot open file \"%s\". It is possible that the file does not exist, it is corrupt or the file is "
        "protected with Digital Rights Management (DRM) which limits the recording to limited players.",
        path.c_str());
}

std::string UnsupportedFileMessage(const std::string& path) {
    const std::string extension = ToLowerAscii(ExtensionPart(path));
    if (extension == ".msv" || extension == ".dvf") {
        return Format(
            "Cannot open the file \"%s\" because the codec is not installed.\n\n"
            "Install the Debian package \"ffmpeg\" with its optional codecs and try again.",
            path.c_str());
    }
    return Format(
        "Cannot open the file \"%s\". This means that either the file format is not supported by this "
        "program "
        "or that a required codec or plugin is not installed.\n\n"
        "The file is decoded with ffmpeg: check that \"ffmpeg -i\" can read it.",
        path.c_str());
}

OpenAudioResult OpenAudioSource(const std::string& path, uint8_t& interact, ProgressTask* task,
                                const OpenAudioOptions& options) {
    const SettingsStore& settings = options.settings ? *options.settings : Settings();
    const ImportRoute route = ImportRouteFor(path);
    switch (route) {
        case ImportRoute::Wav: {
            Ref<AudioSource> source = OpenWavSource(path);
            const uint8_t status = source ? source->Status() : uint8_t{kSourceCannotOpen};
            return Direct(std::move(source), WavStatusMessage(path, status), interact, task);
        }
        case ImportRoute::Mp3: {
            Ref<AudioSource> source = OpenMp3Source(path);
            const uint8_t status = source ? source->Status() : uint8_t{kSourceCannotOpen};
            return Direct(std::move(source), Mp3StatusMessage(path, status), interact, task);
        }
        case ImportRoute::Aiff:
        case ImportRoute::Au: {
            Ref<AudioSource> source = route == ImportRoute::Aiff ? OpenAiffSource(path) : OpenAuSource(path);
            const uint8_t status = source ? source->Status() : uint8_t{kSourceCannotOpen};
            return Direct(std::move(source),
                          status == kSourceCannotOpen ? AccessMessage(path) : CorruptMessage(path), interact,
                          task);
        }
        case ImportRoute::Gsm:
            return Direct(OpenGsmSource(path), AccessMessage(path), interact, task);
        case ImportRoute::Vox:
            return OpenRaw(path, kVoxAudioSection, interact, options, settings);
        case ImportRoute::Raw:
            return OpenRaw(path, kRawAudioSection, interact, options, settings);
        default:
            break;
    }

    OpenAudioResult out = Decode(path, route, interact, task, options, settings);
    if (out.result == 2 && out.message.empty()) {
        if (route == ImportRoute::Wma) {
            Report(out, WmaFailedMessage(path), interact, task);
        } else if (route == ImportRoute::Other || route == ImportRoute::Dct) {
            Report(out, FileExists(path) ? UnsupportedFileMessage(path) : AccessMessage(path), interact,
                   task);
        }
    }
    return out;
}

}  // namespace sonitor
