#include "effects/EffectCatalogue.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "document/ProgressTask.h"
#include "edit/EditOperations.h"
#include "foundation/SettingsStore.h"

namespace sonitor {

const char* const kStereoOnlyMessage =
    "This effect can only be applied to stereo file. Please convert the file to stereo by using "
    "File->Convert Channels->Stereo and try again.";
const char* const kStereoOnlyTitle = "Convert to Stereo Required";

namespace {

// Reverse belongs to the Effects menu but is an edit pass.
EffectDefinition ReverseEffect() {
    EffectDefinition reverse;
    reverse.id = "reverse";
    reverse.name = "Reverse";
    reverse.run = [](ProgressTask& task, EffectRange& range, const EffectValues&) {
        return ReverseClipRange(task, range.clip, range.start, range.end);
    };
    return reverse;
}

std::vector<EffectDefinition> BuildCatalogue() {
    std::vector<EffectDefinition> catalogue;
    AddAmplitudeEffects(catalogue);
    AddFilterEffects(catalogue);
    AddModulationEffects(catalogue);
    AddNoiseEffects(catalogue);
    AddSpeedEffects(catalogue);
    catalogue.push_back(ReverseEffect());
    return catalogue;
}

}  // namespace

const std::vector<EffectDefinition>& EffectCatalogue() {
    static const std::vector<EffectDefinition> catalogue = BuildCatalogue();
    return catalogue;
}

const EffectDefinition* FindEffect(std::string_view id) {
    for (const EffectDefinition& effect : EffectCatalogue()) {
        if (effect.id.size() == id.size() && strncasecmp(effect.id.data(), id.data(), id.size()) == 0)
            return &effect;
    }
    return nullptr;
}

EffectValues DefaultEffectValues(const EffectDefinition& effect) {
    EffectValues values;
    for (const EffectParameter& p : effect.parameters)
        values[p.key] = p.defaultValue;
    return values;
}

EffectValues LoadEffectValues(const EffectDefinition& effect, const SettingsStore& settings) {
    EffectValues values;
    for (const EffectParameter& p : effect.parameters)
        values[p.key] = settings.ReadString(effect.section, p.key, p.defaultValue);
    return values;
}

void StoreEffectValues(const EffectDefinition& effect, const EffectValues& values,
                       const SettingsStore& settings) {
    for (const EffectParameter& p : effect.parameters) {
        const auto it = values.find(p.key);
        if (it != values.end()) settings.WriteString(effect.section, p.key, it->second);
    }
}

int32_t IntValue(const EffectValues& values, const std::string& key) {
    const auto it = values.find(key);
    if (it == values.end()) return 0;
    errno = 0;
    const long long value = std::strtoll(it->second.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

double DecimalValue(const EffectValues& values, const std::string& key) {
    const auto it = values.find(key);
    if (it == values.end()) return 0.0;
    // Always a '.' fraction, whatever the locale says.
    double whole = 0;
    double scale = 0;
    bool negative = false;
    const char* p = it->second.c_str();
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    for (; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
            if (scale == 0) {
                whole = whole * 10 + (*p - '0');
            } else {
                whole += (*p - '0') * scale;
                scale /= 10;
            }
        } else if (*p == '.' && scale == 0) {
            scale = 0.1;
        } else {
            break;
        }
    }
    return negative ? -whole : whole;
}

int32_t ApplyProcessorEffect(ProgressTask& task, EffectRange& range, const std::string& name,
                             FunctionEffect::Factory factory) {
    FunctionEffect effect(name, std::move(factory));
    return ApplyEffect(task, range.clip, range.start, range.end, effect);
}

InvalidValue InvalidEffectValue(std::string text) {
    return InvalidValue{"Invalid value", std::move(text)};
}

}  // namespace sonitor
