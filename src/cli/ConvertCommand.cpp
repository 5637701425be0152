// `sonitor-cli convert`: any readable format to any writable one, streamed
// from the import path through the copy loop into the export path, with no
// working files.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ProgressTask.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/ImportDispatcher.h"
#include "formats/tags/TagIo.h"
#include "foundation/ConvertStream.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor::cli {
namespace {

bool ParseNumber(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && value >= low && value <= high;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
    long rate = 0;
    long channels = 0;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--rate" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], 1000, 384000, rate)) {
                std::fprintf(stderr, "sonitor-cli convert: --rate takes a rate from 1000 to 384000 Hz\n");
                return kExitUsage;
            }
        } else if (arg == "--channels" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], 1, 2, channels)) {
                std::fprintf(stderr, "sonitor-cli convert: --channels takes 1 or 2\n");
                return kExitUsage;
            }
        } else if (arg == "--") {
            files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "sonitor-cli convert: unknown option '%s'\n", arg.c_str());
            return kExitUsage;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "usage: sonitor-cli convert [--rate HZ] [--channels 1|2] IN OUT\n");
        return kExitUsage;
    }
    const std::string& in = files[0];
    const std::string& out = files[1];

    TerminalTaskHost host;
    std::string message;
    FunctionTask task("Converting " + FileNamePart(in), [&](ProgressTask& t) -> int32_t {
        uint8_t interact = 0;  // messages are printed once, below
        OpenAudioResult opened = OpenAudioSource(in, interact, &t);
        if (opened.result != kTaskDone || !opened.source) {
            message =
                opened.message.empty() ? Format("Cannot open the file \"%s\".", in.c_str()) : opened.message;
            return opened.result == kTaskDone ? kTaskFailed : opened.result;
        }
        Ref<AudioSource> source = opened.source;
        if (rate > 0 || channels > 0) {
            source = ConvertStream(source, rate > 0 ? static_cast<int32_t>(rate) : source->SampleRate(),
                                   channels > 0 ? static_cast<int>(channels) : source->Channels());
        }
        std::vector<TagEntry> tags;
        ReadTags(in, tags);
        ExportOptions options;
        options.cancelled = [&t] { return PumpTaskMessages(t); };
        const SaveOutcome saved = SaveAudio(t, source, out, tags.empty() ? nullptr : &tags, options);
        message = saved.message;
        return saved.result;
    });
    const int32_t result = RunTask(task, host);
    if (result == kTaskCancelled) return kExitCancelled;
    if (result != kTaskDone) {
        std::fprintf(
            stderr, "sonitor-cli convert: %s\n",
            message.empty() ? Format("Could not convert \"%s\".", in.c_str()).c_str() : message.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace sonitor::cli
