// Running a batch: each source is loaded into a scratch document, every
// command of the list runs over its whole clip, and the result is saved.
#include "batch/BatchRun.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <set>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "edit/EditSettings.h"
#include "effects/AudioEffect.h"
#include "effects/BlockFilter.h"
#include "effects/EffectCatalogue.h"
#include "effects/Envelope.h"
#include "effects/Equalizer.h"
#include "effects/PointRecord.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/LoadAudioFile.h"
#include "formats/tags/TagIo.h"
#include "foundation/Numbers.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

const char* const kBatchConvertWarning =
    "The specified sample rate and channel in the \"Convert Sample Rate\" or \"Convert Channel\" command "
    "settings will be overwritten by the output format settings if they are different. If you have more than "
    "one \"Convert Sample Rate\" or \"Convert Channel\" commands, this only applies to the last \"Convert "
    "Sample Rate\" or \"Convert Channel\" command. \r\n\r\nDo you want to continue?";

namespace {

constexpr const char* kSection = "BatchConverter";
constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();

// The catalogue entry behind each command that is an effect, and the
// effect's keys in the order of the command's block.
struct EffectBinding {
    BatchCommandId id;
    const char* effect;
    std::array<const char*, 3> keys;
};

constexpr EffectBinding kBindings[] = {
    {BatchCommandId::Amplify, "amplify", {"AmplifyGain"}},
    {BatchCommandId::Normalize, "normalize", {"NormalizePeakLevel"}},
    {BatchCommandId::HighPassFilter, "high-pass-filter", {"LowCutFreq"}},
    {BatchCommandId::Echo, "echo", {"EchoTime", "EchoGain"}},
    {BatchCommandId::Reverb, "reverb", {"ReverbTime", "ReverbLevel"}},
    {BatchCommandId::AutomaticGainControl, "automatic-gain-control", {}},
    {BatchCommandId::NoiseReductionAuto, "noise-reduction-auto", {"SSNoiseThreshold"}},
    {BatchCommandId::NoiseGate, "noise-gate", {"NoiseGateLevel"}},
    {BatchCommandId::SpeedAndPitch, "speed-and-pitch", {"SpSpeedPitch"}},
    {BatchCommandId::Speed, "speed", {"ConstPitchSpeed"}},
    {BatchCommandId::Pitch, "pitch", {"ConstSpeedPitch"}},
    {BatchCommandId::Compressor, "compressor", {"CompressorThreshold", "CompressorRatio", "CompressorLimit"}},
    {BatchCommandId::ConvertSampleRate, "convert-sample-rate", {"SampleRate"}},
    {BatchCommandId::ConvertChannels, "convert-channels", {"Channels"}},
    {BatchCommandId::StereoPan, "stereo-pan", {"StereoPan"}},
    {BatchCommandId::ReduceVocals, "reduce-vocals", {}},
};

const EffectBinding* BindingOf(uint32_t id) {
    for (const EffectBinding& binding : kBindings) {
        if (static_cast<uint32_t>(binding.id) == id) return &binding;
    }
    return nullptr;
}

// The effect's own values from the command's, by the binding's keys.
EffectValues BoundValues(const EffectBinding& binding, const std::vector<int32_t>& values) {
    EffectValues effectValues;
    for (size_t i = 0; i < values.size() && i < binding.keys.size() && binding.keys[i] != nullptr; ++i)
        effectValues[binding.keys[i]] = std::to_string(values[i]);
    return effectValues;
}

void ShowCaption(ProgressTask& task, const std::string& caption) {
    SetProgressText(task, 0, caption);
    SetProgressText(task, 1, "Please wait...");
}

int32_t RunEqualizer(ProgressTask& task, AudioClip& clip, const std::vector<CurvePoint>& points) {
    const BinCurve curve = CurveFromPoints(points, static_cast<int32_t>(clip.SampleRate()));
    FunctionEffect equalizing("Equalizing", [&curve](Ref<AudioSource> source) {
        return CreateBlockFilter(std::move(source), curve);
    });
    return ApplyEffect(task, clip, 0, clip.Length(), equalizing);
}

int32_t InsertSilence(SoundDocument& document, bool atStart, int32_t milliseconds, std::string& why) {
    if (const std::optional<InvalidValue> invalid = SilenceSettings{milliseconds}.Validate()) {
        why = invalid->text;
        return kTaskFailed;
    }
    const int32_t rate = static_cast<int32_t>(std::min<int64_t>(document.clip.SampleRate(), kMaxFrames));
    const int64_t frames = int64_t{milliseconds} / 1000 * rate + int64_t{milliseconds} % 1000 * rate / 1000;
    if (document.Length() + frames > kMaxFrames) {
        why = "The file would become too long to insert this silence.";
        return kTaskFailed;
    }
    ClipInsertSilence(document.clip, static_cast<int32_t>(frames), atStart ? 0 : document.Length());
    return kTaskDone;
}

// The work of one command; a failure's text in why (empty after a cancel).
int32_t ApplyCommandWork(ProgressTask& task, SoundDocument& document, const BatchCommand& command,
                         const SettingsStore& settings, std::string& why) {
    // Every command sees the whole clip as it is now: one that changed the
    // length must not leave the next on a part of it.
    document.selectionStart = 0;
    document.selectionEnd = document.Length();
    document.cursor = 0;
    const auto id = static_cast<BatchCommandId>(command.id);
    const std::vector<int32_t> values = BatchCommandValues(command, settings);
    int32_t result = kTaskDone;

    switch (id) {
        case BatchCommandId::AutoTrim: {
            ShowCaption(task, "AutoTrim");
            const TrimBounds bounds =
                FindAutoTrimBounds(document.clip, AutoTrimSettings::Load(settings).thresholdDb);
            ClipDeleteRange(document.clip, bounds.end, document.Length());
            ClipDeleteRange(document.clip, 0, bounds.start);
            break;
        }
        case BatchCommandId::InsertSilenceStart:
        case BatchCommandId::InsertSilenceEnd:
            ShowCaption(task, BatchCommandName(command.id));
            result = InsertSilence(document, id == BatchCommandId::InsertSilenceStart, values[0], why);
            break;
        case BatchCommandId::Equalizer:
            ShowCaption(task, "Equalizing");
            result = RunEqualizer(task, document.clip, BatchCommandCurve(command));
            break;
        case BatchCommandId::Envelope:
            ShowCaption(task, "Envelope");
            result =
                ApplyEnvelopeCurve(task, document.clip, 0, document.Length(), BatchCommandCurve(command));
            break;
        default: {
            const EffectBinding* binding = BindingOf(command.id);
            // Ids beyond the table are kept in the list but never shown; they
            // do nothing.
            if (binding == nullptr) break;
            if (id == BatchCommandId::Compressor && static_cast<uint32_t>(values[1]) >= 7) break;
            const EffectDefinition* effect = FindEffect(binding->effect);
            if (effect == nullptr) {
                why = "The effect \"" + BatchCommandName(command.id) + "\" is not available.";
                return kTaskFailed;
            }
            const EffectValues effectValues = BoundValues(*binding, values);
            if (effect->stereoOnly && document.clip.Channels() != 2) {
                why = kStereoOnlyMessage;
                return kTaskFailed;
            }
            if (effect->validate) {
                if (const std::optional<InvalidValue> invalid = effect->validate(effectValues)) {
                    why = invalid->text;
                    return kTaskFailed;
                }
            }
            ShowCaption(task, effect->caption.empty() ? effect->name : effect->caption);
            EffectRange range{document.clip, 0, document.Length()};
            result = effect->run(task, range, effectValues);
            break;
        }
    }
    if (result == kTaskFailed && why.empty())
        why = "The command \"" + BatchCommandName(command.id) + "\" could not be applied.";
    document.selectionStart = 0;
    document.selectionEnd = document.Length();
    return result;
}

bool SameFolderSettingUsable(const BatchOutput& output) {
    return output.sameFolder || !output.folder.empty();
}

}  // namespace

std::optional<InvalidValue> CheckBatchCommand(const BatchCommand& command, const SettingsStore& settings) {
    const auto id = static_cast<BatchCommandId>(command.id);
    const std::vector<int32_t> values = BatchCommandValues(command, settings);
    if (id == BatchCommandId::InsertSilenceStart || id == BatchCommandId::InsertSilenceEnd)
        return values.empty() ? std::nullopt : SilenceSettings{values[0]}.Validate();
    const EffectBinding* binding = BindingOf(command.id);
    if (binding == nullptr) return std::nullopt;
    if (id == BatchCommandId::Compressor && values.size() > 1 && static_cast<uint32_t>(values[1]) >= 7)
        return std::nullopt;
    const EffectDefinition* effect = FindEffect(binding->effect);
    if (effect == nullptr || !effect->validate) return std::nullopt;
    return effect->validate(BoundValues(*binding, values));
}

BatchOutput BatchOutput::Load(const SettingsStore& settings) {
    BatchOutput output;
    output.sameFormat = settings.ReadBool(kSection, "SaveSameFileFormat", true);
    output.formatIndex = settings.ReadInt(kSection, "SaveFileFormat", 0);
    output.sameFolder = settings.ReadBool(kSection, "SameOutputFolder", true);
    output.folder = settings.ReadString(kSection, "OutputFolder", "");
    return output;
}

void BatchOutput::Store(const SettingsStore& settings) const {
    settings.WriteBool(kSection, "SaveSameFileFormat", sameFormat);
    settings.WriteInt(kSection, "SaveFileFormat", formatIndex);
    settings.WriteBool(kSection, "SameOutputFolder", sameFolder);
    settings.WriteString(kSection, "OutputFolder", folder);
}

std::optional<std::string> BatchOutputPath(const std::string& source, const BatchOutput& output) {
    std::string extension;
    if (output.sameFormat) {
        extension = ExtensionPart(source);
    } else {
        const std::vector<std::string>& formats = BatchOutputFormats();
        if (output.formatIndex < 0 || static_cast<size_t>(output.formatIndex) >= formats.size())
            return std::nullopt;
        extension = formats[static_cast<size_t>(output.formatIndex)];
    }
    const std::string name = FileNamePart(source);
    const std::string stem = name.substr(0, name.size() - ExtensionPart(name).size());
    return JoinPath(output.sameFolder ? DirectoryPart(source) : output.folder, stem, extension);
}

std::vector<std::string> BatchOutputCollisions(const std::vector<std::string>& sources,
                                               const BatchOutput& output) {
    // Besides two outputs on one path, an output that lands on another
    // source of the list is refused too: it would replace that source before
    // (or after) its own turn. A source converted onto itself is the
    // in-place case and allowed.
    std::set<std::string> sourcePaths;
    for (const std::string& source : sources)
        sourcePaths.insert(NormalizeSeparators(source));
    std::set<std::string> claimed;
    std::vector<std::string> refused;
    for (const std::string& source : sources) {
        const std::optional<std::string> path = BatchOutputPath(source, output);
        if (!path) continue;
        const std::string target = NormalizeSeparators(*path);
        const bool ontoOtherSource = target != NormalizeSeparators(source) && sourcePaths.count(target) != 0;
        if (ontoOtherSource || !claimed.insert(target).second) refused.push_back(source);
    }
    return refused;
}

int32_t ApplyBatchCommand(ProgressTask& task, SoundDocument& document, const BatchCommand& command,
                          const SettingsStore& settings) {
    std::string why;
    const int32_t result = ApplyCommandWork(task, document, command, settings, why);
    if (result == kTaskFailed && !why.empty()) ShowTaskError(task, why);
    return result;
}

int32_t ConvertBatchFile(ProgressTask& task, const std::string& source, const std::string& outputPath,
                         const std::vector<BatchCommand>& commands, const SettingsStore& settings,
                         std::string& message) {
    message.clear();
    Ref<SoundDocument> document = MakeRef<SoundDocument>(44100u, uint8_t{1});
    uint8_t interact = 1;
    const int32_t loaded = LoadAudioFile(task, *document, source, interact);
    if (loaded != kTaskDone) {
        if (loaded != kTaskCancelled) message = Format("Cannot load the file \"%s\".", source.c_str());
        return loaded == kTaskCancelled ? kTaskCancelled : kTaskFailed;
    }
    for (const BatchCommand& command : commands) {
        std::string why;
        const int32_t result = ApplyCommandWork(task, *document, command, settings, why);
        if (result == kTaskCancelled) return kTaskCancelled;
        if (result != kTaskDone) {
            message = why;
            ShowTaskError(task, why);
            return kTaskFailed;
        }
    }
    ExportOptions options;
    options.settings = &settings;
    options.cancelled = [&task] { return PumpTaskMessages(task); };
    const bool carryTags = FileCanHoldTags(outputPath) && !document->tags.empty();
    const SaveOutcome saved = SaveAudio(task, OpenClipReader(document->clip), outputPath,
                                        carryTags ? &document->tags : nullptr, options);
    if (saved.result != kTaskDone) {
        message = saved.message.empty() ? Format("Cannot save the file \"%s\".", outputPath.c_str())
                                        : saved.message;
        return saved.result == kTaskCancelled ? kTaskCancelled : kTaskFailed;
    }
    return kTaskDone;
}

int32_t RunBatch(TaskHost& host, const std::vector<std::string>& sources,
                 const std::vector<BatchCommand>& commands, const BatchOutput& output,
                 const SettingsStore& settings, bool keepGoing, const BatchReport& report) {
    const std::vector<std::string> refusedList = BatchOutputCollisions(sources, output);
    const std::set<std::string> refused(refusedList.begin(), refusedList.end());
    bool anyFailed = false;
    bool cancelled = false;
    FunctionTask run("Batch Converter", [&](ProgressTask& task) -> int32_t {
        for (size_t index = 0; index < sources.size(); ++index) {
            const std::string& source = sources[index];
            const std::optional<std::string> target = BatchOutputPath(source, output);
            std::string message;
            int32_t result = kTaskFailed;
            if (!target) {
                message = "The output file format is not valid.";
            } else if (!SameFolderSettingUsable(output)) {
                message = "Invalid output folder. Please select a folder to save to.";
            } else if (refused.count(source) != 0) {
                message = Format("The output file \"%s\" would replace another file of this batch.",
                                 target->c_str());
            } else {
                result = ConvertBatchFile(task, source, *target, commands, settings, message);
            }
            if (report) report(index, source, target.value_or(std::string()), result, message);
            if (result == kTaskCancelled) {
                cancelled = true;
                return kTaskCancelled;
            }
            if (result != kTaskDone) {
                anyFailed = true;
                if (!keepGoing) return kTaskFailed;
            }
        }
        return anyFailed ? kTaskFailed : kTaskDone;
    });
    const int32_t result = RunTask(run, host);
    if (cancelled) return kTaskCancelled;
    return result;
}

bool BatchNeedsConvertWarning(const std::vector<BatchCommand>& commands, const BatchOutput& output) {
    if (output.sameFormat) return false;
    const std::vector<std::string>& formats = BatchOutputFormats();
    if (output.formatIndex < 0 || static_cast<size_t>(output.formatIndex) >= formats.size()) return false;
    const std::string& format = formats[static_cast<size_t>(output.formatIndex)];
    if (format != ".wav" && format != ".vox" && format != ".raw") return false;
    return std::any_of(commands.begin(), commands.end(), [](const BatchCommand& c) {
        return c.id == static_cast<uint32_t>(BatchCommandId::ConvertSampleRate) ||
               c.id == static_cast<uint32_t>(BatchCommandId::ConvertChannels);
    });
}

}  // namespace sonitor
