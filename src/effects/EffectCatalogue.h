#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edit/EditSettings.h"
#include "effects/AudioEffect.h"

namespace sonitor {

class AudioClip;
class ProgressTask;
class SettingsStore;

// An effect's parameter values as the dialogs hold them: text by settings
// key ("EchoTime" -> "800"). Numbers are read the way the edit controls read
// them (a leading signed integer; decimal fractions for "Mod" and "Degree").
using EffectValues = std::map<std::string, std::string>;

struct EffectParameter {
    std::string key;           // settings key in the effect's section
    std::string defaultValue;  // as text
    std::string label;         // what it is, with its unit: "Echo time (ms)"
    std::string limits;        // what validate accepts, for help texts: "10..3000", "below 100"
};

struct EffectPreset {
    std::string name;
    EffectValues values;  // the keys the preset sets
};

// What an effect's work changes: [start, end) of clip. Effects that change
// the length of the processed part (reduce vocals, fade out and trim, cross
// fade) set end to where the processed part now ends.
struct EffectRange {
    AudioClip& clip;
    int32_t start = 0;
    int32_t end = 0;
};

// One entry of the effect catalogue, which the Effects menu, the batch
// converter and sonitor-cli all read.
struct EffectDefinition {
    // "echo": the name on the command line and in batch files, the effect's
    // name in lower-case words joined by '-'.
    std::string id;
    std::string name;     // undo name and progress caption: "Echo"
    std::string caption;  // the progress caption when it is not the name ("Equalizing")
    std::string section = "StoredValues";
    std::vector<EffectParameter> parameters;
    std::vector<EffectPreset> presets;
    bool stereoOnly = false;
    // After-effect lead-in: rate / leadInDivisor frames (cross fade: 1 s).
    int32_t leadInDivisor = 2;
    // The dialog's checks on OK: the message box to show, or nothing.
    std::function<std::optional<InvalidValue>(const EffectValues&)> validate;
    // The work, as a task's work on valid values: kTaskDone, kTaskCancelled
    // or kTaskFailed; anything but kTaskDone leaves the clip as it was.
    std::function<int32_t(ProgressTask&, EffectRange&, const EffectValues&)> run;
};

// Every effect, in menu order.
const std::vector<EffectDefinition>& EffectCatalogue();
// The entry with this id (any case), or null.
const EffectDefinition* FindEffect(std::string_view id);

// The values stored in the effect's section (defaults for missing keys).
EffectValues LoadEffectValues(const EffectDefinition& effect, const SettingsStore& settings);
// Writes every parameter of values back to the effect's section.
void StoreEffectValues(const EffectDefinition& effect, const EffectValues& values,
                       const SettingsStore& settings);
// The defaults, overlaid with a preset's values.
EffectValues DefaultEffectValues(const EffectDefinition& effect);

// The run of an effect that is a processor: ApplyEffect over the range with
// a FunctionEffect of name (the progress caption) and factory.
int32_t ApplyProcessorEffect(ProgressTask& task, EffectRange& range, const std::string& name,
                             FunctionEffect::Factory factory);

// Reading values: the leading signed integer of the text (0 when there is
// none, saturated to the 32-bit range), and a decimal fraction ("0.5").
int32_t IntValue(const EffectValues& values, const std::string& key);
double DecimalValue(const EffectValues& values, const std::string& key);
// A validation failure with the title "Invalid value".
InvalidValue InvalidEffectValue(std::string text);

// The message and title of the stereo-only check.
extern const char* const kStereoOnlyMessage;
extern const char* const kStereoOnlyTitle;

// The families of effects add their entries here (one source file each).
void AddAmplitudeEffects(std::vector<EffectDefinition>& catalogue);
void AddModulationEffects(std::vector<EffectDefinition>& catalogue);
void AddFilterEffects(std::vector<EffectDefinition>& catalogue);
void AddNoiseEffects(std::vector<EffectDefinition>& catalogue);
void AddSpeedEffects(std::vector<EffectDefinition>& catalogue);

}  // namespace sonitor
