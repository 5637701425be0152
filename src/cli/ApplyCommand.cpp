// `sonitor-cli apply`: one effect of the Effects menu on a file, through the
// same catalogue entry, checks and command flow the editor uses.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ClipReader.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectCommand.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/Numbers.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor::cli {
namespace {

const char kApplyUsage[] =
    "usage: sonitor-cli apply EFFECT [KEY=VALUE...] [--preset NAME] [--selection START:END] IN OUT\n"
    "       sonitor-cli apply --list\n";

int UsageError(const std::string& text) {
    std::fprintf(stderr, "sonitor-cli apply: %s\n%s", text.c_str(), kApplyUsage);
    return kExitUsage;
}

void PrintList() {
    for (const EffectDefinition& effect : EffectCatalogue()) {
        std::printf("%s (%s)%s\n", effect.id.c_str(), effect.name.c_str(),
                    effect.stereoOnly ? ", stereo files only" : "");
        if (effect.parameters.empty()) std::printf("  no values\n");
        for (const EffectParameter& p : effect.parameters) {
            std::printf("  %-24s %s; %s\n", (p.key + "=" + p.defaultValue).c_str(), p.label.c_str(),
                        p.limits.empty() ? "any" : p.limits.c_str());
        }
        for (const EffectPreset& preset : effect.presets) {
            std::string values;
            for (const auto& [key, value] : preset.values)
                values += " " + key + "=" + value;
            std::printf("  --preset \"%s\":%s\n", preset.name.c_str(), values.c_str());
        }
    }
}

}  // namespace

int RunApply(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kApplyUsage, stdout);
        return kExitOk;
    }
    if (args.size() == 1 && args[0] == "--list") {
        PrintList();
        return kExitOk;
    }
    std::vector<std::string> positional;
    std::string presetName;
    bool hasPreset = false;
    bool hasSelection = false;
    int64_t selectionStart = 0;
    int64_t selectionEnd = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--preset" && i + 1 < args.size()) {
            presetName = args[++i];
            hasPreset = true;
        } else if (arg == "--selection" && i + 1 < args.size()) {
            if (!ParseMillisecondRange(args[++i], selectionStart, selectionEnd))
                return UsageError("--selection takes START:END in milliseconds, START below END");
            hasSelection = true;
        } else if (arg == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 3) return UsageError("an effect, IN and OUT are needed");

    const EffectDefinition* effect = FindEffect(positional[0]);
    if (!effect)
        return UsageError("unknown effect '" + positional[0] + "' ('sonitor-cli apply --list' lists them)");
    const std::string& in = positional[positional.size() - 2];
    const std::string& out = positional[positional.size() - 1];

    // Stored values (or defaults), then the preset, then what was typed.
    EffectValues values = LoadEffectValues(*effect, Settings());
    if (hasPreset) {
        const EffectPreset* chosen = nullptr;
        for (const EffectPreset& preset : effect->presets)
            if (EqualsIgnoreCase(preset.name, presetName)) chosen = &preset;
        if (!chosen) {
            std::string names;
            for (const EffectPreset& preset : effect->presets)
                names += (names.empty() ? "" : ", ") + preset.name;
            return UsageError("'" + effect->id + "' has no preset '" + presetName + "'" +
                              (names.empty() ? std::string(" (it has none)") : " (presets: " + names + ")"));
        }
        for (const auto& [key, value] : chosen->values)
            values[key] = value;
    }
    for (size_t i = 1; i + 2 < positional.size(); ++i) {
        const std::string& assignment = positional[i];
        const size_t eq = assignment.find('=');
        if (eq == std::string::npos || eq == 0) return UsageError("'" + assignment + "' is not KEY=VALUE");
        const std::string key = assignment.substr(0, eq);
        const EffectParameter* parameter = nullptr;
        for (const EffectParameter& p : effect->parameters)
            if (EqualsIgnoreCase(p.key, key)) parameter = &p;
        if (!parameter) return UsageError("'" + effect->id + "' has no value '" + key + "'");
        values[parameter->key] = assignment.substr(eq + 1);
    }
    // Refused values end here, before the file is read.
    if (effect->validate) {
        if (const std::optional<InvalidValue> invalid = effect->validate(values)) {
            std::fprintf(stderr, "%s: %s\n", invalid->title.c_str(), invalid->text.c_str());
            return kExitFailed;
        }
    }

    TerminalTaskHost tasks;
    HeadlessDocumentHost host;
    Ref<SoundDocument> document = MakeRef<SoundDocument>();
    const int32_t loaded = LoadDocument("apply", in, *document, tasks);
    if (loaded != kTaskDone) return ExitForTaskResult(loaded);

    if (hasSelection) {
        const int32_t rate = static_cast<int32_t>(document->clip.SampleRate());
        const int32_t length = document->Length();
        const int32_t start = std::min(FramesFromMilliseconds(selectionStart, rate), length);
        const int32_t end = std::min(FramesFromMilliseconds(selectionEnd, rate), length);
        // An empty selection would mean the whole file to the command.
        if (start >= end) {
            std::fprintf(stderr, "sonitor-cli apply: the selection lies beyond the end of \"%s\" (%d ms)\n",
                         in.c_str(), MillisecondsFromFrames(length, rate));
            return kExitFailed;
        }
        SetSelection(*document, start, end, start, host);
    }

    EditContext ctx{host, tasks, Settings()};
    const int32_t applied = ApplyEffectCommand(*document, *effect, values, ctx);
    if (applied != kTaskDone) return ExitForTaskResult(applied);

    ExportOptions options;
    FunctionTask save("Saving " + FileNamePart(out), [&](ProgressTask& t) {
        options.cancelled = [&t] { return PumpTaskMessages(t); };
        return SaveAudio(t, OpenClipReader(document->clip), out,
                         document->tags.empty() ? nullptr : &document->tags, options)
            .result;
    });
    return ExitForTaskResult(RunTask(save, tasks));
}

}  // namespace sonitor::cli
