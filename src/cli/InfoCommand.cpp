// `sonitor-cli info`: what the program sees in audio files, through the same
// import path the editor uses.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ProgressTask.h"
#include "formats/import/ImportDispatcher.h"
#include "formats/tags/TagIo.h"
#include "formats/tags/TagMap.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor::cli {
namespace {

const char* RouteName(ImportRoute route) {
    switch (route) {
        case ImportRoute::Wav:
            return "WAV";
        case ImportRoute::Mp3:
            return "MP3";
        case ImportRoute::Aiff:
            return "AIFF";
        case ImportRoute::Au:
            return "AU";
        case ImportRoute::Gsm:
            return "GSM 06.10";
        case ImportRoute::Vox:
            return "VOX";
        case ImportRoute::Raw:
            return "raw";
        case ImportRoute::Dct:
            return "DCT";
        case ImportRoute::Aac:
            return "AAC";
        case ImportRoute::Ogg:
            return "Ogg Vorbis";
        case ImportRoute::Flac:
            return "FLAC";
        case ImportRoute::Amr:
            return "AMR";
        case ImportRoute::Wma:
            return "WMA";
        case ImportRoute::Dss:
            return "DSS";
        case ImportRoute::RealAudio:
            return "RealAudio";
        case ImportRoute::Sri:
            return "SRI";
        case ImportRoute::Record:
            return "recorder file";
        case ImportRoute::Shorten:
            return "Shorten";
        case ImportRoute::Other:
            return "other";
    }
    return "other";
}

std::string DurationText(int64_t frames, int32_t rate) {
    const int64_t ms = rate > 0 ? frames * 1000 / rate : 0;
    return Format("%ld:%.2ld:%.2ld.%.3ld", static_cast<long>(ms / 3600000),
                  static_cast<long>(ms / 60000 % 60), static_cast<long>(ms / 1000 % 60),
                  static_cast<long>(ms % 1000));
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += Format("\\u%04x", u);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct FileInfo {
    std::string path;
    std::string format;
    int32_t sampleRate = 0;
    int channels = 0;
    int32_t frames = 0;
    std::vector<TagEntry> tags;
};

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
    bool json = false;
    std::vector<std::string> paths;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--" && paths.empty()) {
            std::fprintf(stderr, "sonitor-cli info: unknown option '%s'\n", arg.c_str());
            return kExitUsage;
        } else if (arg != "--") {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        std::fprintf(stderr, "usage: sonitor-cli info [--json] FILE...\n");
        return kExitUsage;
    }

    TerminalTaskHost host;
    std::vector<FileInfo> found;
    int status = kExitOk;
    for (const std::string& path : paths) {
        OpenAudioResult opened;
        FunctionTask task("Reading " + FileNamePart(path), [&](ProgressTask& t) {
            uint8_t interact = 0;  // messages are printed below, once
            opened = OpenAudioSource(path, interact, &t);
            return opened.result;
        });
        const int32_t result = RunTask(task, host);
        if (result == kTaskCancelled) return kExitCancelled;
        if (result != kTaskDone || !opened.source) {
            std::fprintf(stderr, "sonitor-cli info: %s\n",
                         opened.message.empty() ? Format("Cannot open the file \"%s\".", path.c_str()).c_str()
                                                : opened.message.c_str());
            status = kExitFailed;
            continue;
        }
        FileInfo info;
        info.path = path;
        info.format = RouteName(ImportRouteFor(path));
        info.sampleRate = opened.source->SampleRate();
        info.channels = opened.source->Channels();
        info.frames = opened.source->Length();
        ReadTags(path, info.tags);
        found.push_back(std::move(info));
    }

    if (json) {
        std::printf("[");
        for (size_t i = 0; i < found.size(); ++i) {
            const FileInfo& f = found[i];
            std::printf(
                "%s\n  {\"path\": %s, \"format\": %s, \"sampleRate\": %d, \"channels\": %d, \"frames\": %d, "
                "\"seconds\": %.3f, \"tags\": {",
                i ? "," : "", JsonString(f.path).c_str(), JsonString(f.format).c_str(), f.sampleRate,
                f.channels, f.frames, f.sampleRate > 0 ? static_cast<double>(f.frames) / f.sampleRate : 0.0);
            for (size_t k = 0; k < f.tags.size(); ++k) {
                std::printf("%s%s: %s", k ? ", " : "", JsonString(f.tags[k].key).c_str(),
                            JsonString(f.tags[k].value).c_str());
            }
            std::printf("}}");
        }
        std::printf("%s]\n", found.empty() ? "" : "\n");
    } else {
        for (const FileInfo& f : found) {
            std::printf("%s\n  format:   %s\n  rate:     %d Hz\n  channels: %d\n  length:   %s (%d frames)\n",
                        f.path.c_str(), f.format.c_str(), f.sampleRate, f.channels,
                        DurationText(f.frames, f.sampleRate).c_str(), f.frames);
            for (const TagEntry& tag : f.tags)
                std::printf("  %-9s %s\n", (tag.key + ":").c_str(), tag.value.c_str());
        }
    }
    return status;
}

}  // namespace sonitor::cli
