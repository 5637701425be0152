// Speed and pitch changes of the selection (varispeed, the time stretcher,
// or both), and the two whole-clip conversions of sample rate and channel
// count.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/ProgressTask.h"
#include "effects/EffectCatalogue.h"
#include "effects/TimeStretch.h"
#include "foundation/ConvertStream.h"
#include "foundation/PeakLimiter.h"

namespace sonitor {
namespace {

constexpr const char* kSpeedCaption = "Speed and Pitch Change";
constexpr int32_t kMaxSpeedPercent = 300;
// Pitch change stretches by 100 / percent afterwards; below 13 % that
// passes the stretcher's largest factor.
constexpr int32_t kMinPitchPercent = 13;
constexpr int32_t kMinConvertRate = 6000;
constexpr int32_t kMaxConvertRate = 196000;

enum class SpeedMode {
    Varispeed,  // speed and pitch together
    Tempo,      // speed alone
    Pitch,      // pitch alone
};

struct SpeedKind {
    SpeedMode mode;
    const char* id;
    const char* name;
    const char* key;
    const char* label;
};

constexpr SpeedKind kSpeedKinds[] = {
    {SpeedMode::Varispeed, "speed-and-pitch", "Speed and Pitch Change", "SpSpeedPitch",
     "Speed/Pitch Adjust (%)"},
    {SpeedMode::Tempo, "speed", "Speed Change", "ConstPitchSpeed", "Speed Adjust (%)"},
    {SpeedMode::Pitch, "pitch", "Pitch Change", "ConstSpeedPitch", "Pitch Adjust (%)"},
};

int32_t MinimumPercent(SpeedMode mode) {
    return mode == SpeedMode::Pitch ? kMinPitchPercent : 1;
}

// Only the upper bound has a message of long standing; zero and negative
// speeds (which never finish) and pitches the stretcher cannot follow are
// refused in the same style.
std::optional<InvalidValue> ValidateSpeed(SpeedMode mode, int32_t percent) {
    if (percent > kMaxSpeedPercent) return InvalidEffectValue("Speed Change Percent must be less than 300.");
    if (percent < MinimumPercent(mode)) {
        if (mode == SpeedMode::Pitch)
            return InvalidEffectValue("Pitch Change Percent must be at least " +
                                      std::to_string(kMinPitchPercent) + ".");
        return InvalidEffectValue("Speed Change Percent must be more than 0.");
    }
    return std::nullopt;
}

// Pumps the first `frames` frames of chain into a new clip.
int32_t Render(ProgressTask& task, AudioSource& chain, int32_t frames, int32_t rate, int channels,
               AudioClip& result) {
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, rate, channels);
    int32_t status = PumpProcessor(task, chain, *writer, 0, frames);
    if (!writer->Close() && status == kTaskDone) status = kTaskFailed;
    if (status == kTaskDone) result = writer->ResultClip();
    return status;
}

int32_t ChangeSpeed(ProgressTask& task, EffectRange& range, SpeedMode mode, int32_t percent) {
    SetProgressText(task, 0, kSpeedCaption);
    SetProgressText(task, 1, "Please wait...");
    if (ValidateSpeed(mode, percent)) return kTaskFailed;
    AudioClip& clip = range.clip;
    const int32_t start = std::clamp(range.start, 0, clip.Length());
    const int32_t end = std::clamp(range.end, start, clip.Length());
    if (end == start) return kTaskDone;
    const auto rate = static_cast<int32_t>(clip.SampleRate());
    const int channels = clip.Channels();
    const double factor = percent * 0.01;

    // A slowed-down selection must still fit the clip's 32-bit length, and
    // so must the sped-up stretch inside a pitch change, whose frame
    // numbers would otherwise run past what a source can address.
    const int64_t selected = int64_t{end} - start;
    const long double changedLength = std::ceil(static_cast<long double>(selected) / factor);
    const int64_t room =
        mode == SpeedMode::Pitch ? INT32_MAX : INT32_MAX - (int64_t{clip.Length()} - selected);
    if (changedLength > room) {
        ShowTaskError(task, "This selection is too long for this speed or pitch change.");
        return kTaskFailed;
    }

    AudioClip part;
    if (!ClipExtract(part, clip, start, end)) return kTaskFailed;
    Ref<AudioSource> chain = OpenClipReader(part);
    switch (mode) {
        case SpeedMode::Varispeed:
            chain = Varispeed(chain, factor);
            break;
        case SpeedMode::Tempo:
            chain = StretchStream(chain, factor);
            break;
        case SpeedMode::Pitch:
            chain = StretchStream(Varispeed(chain, factor), 1.0 / factor);
            break;
    }
    chain = LimitPeaks(ConvertStream(chain, rate, channels), kFullScale16);
    if (!chain->Ok()) return kTaskFailed;
    // Varispeed rounds its length up to whole output frames, and stretching
    // it back can land a frame off: a pitch change keeps the length exactly.
    const int32_t frames = mode == SpeedMode::Pitch ? static_cast<int32_t>(selected) : chain->Length();

    AudioClip changed;
    const int32_t status = Render(task, *chain, frames, rate, channels, changed);
    if (status != kTaskDone) return status;
    if (!ClipReplaceRange(clip, start, end, changed)) return kTaskFailed;
    range.start = start;
    range.end = start + changed.Length();
    return kTaskDone;
}

// The frame nearest the same time at another rate. Scaled directly rather
// than through whole milliseconds, which would move a selection by up to a
// millisecond's frames on every conversion (and even when only the channels
// change).
int32_t SameTime(int32_t frame, int32_t fromRate, int32_t toRate) {
    if (fromRate == toRate) return frame;
    const int64_t scaled = (int64_t{frame} * toRate + fromRate / 2) / fromRate;
    return static_cast<int32_t>(std::min<int64_t>(scaled, INT32_MAX));
}

// Converts the whole clip; the range keeps its times.
int32_t ConvertClip(ProgressTask& task, EffectRange& range, int32_t rate, int channels,
                    const std::string& caption) {
    SetProgressText(task, 0, caption);
    SetProgressText(task, 1, "Please wait...");
    AudioClip& clip = range.clip;
    const auto oldRate = static_cast<int32_t>(clip.SampleRate());
    if (rate == oldRate && channels == clip.Channels()) return kTaskDone;
    if (clip.Length() == 0) {
        clip.SetFormat(static_cast<uint32_t>(rate), static_cast<uint8_t>(channels));
        return kTaskDone;
    }
    if (std::ceil(static_cast<long double>(clip.Length()) * rate / oldRate) > INT32_MAX) {
        ShowTaskError(task, "This file is too long to convert to " + std::to_string(rate) + " Hz.");
        return kTaskFailed;
    }
    Ref<AudioSource> chain = ConvertStream(OpenClipReader(clip), rate, channels);
    if (!chain->Ok()) return kTaskFailed;
    AudioClip converted;
    const int32_t status = Render(task, *chain, chain->Length(), rate, channels, converted);
    if (status != kTaskDone) return status;
    clip = std::move(converted);
    range.start = std::min(SameTime(range.start, oldRate, rate), clip.Length());
    range.end = std::clamp(SameTime(range.end, oldRate, rate), range.start, clip.Length());
    return kTaskDone;
}

std::optional<InvalidValue> ValidateRate(int32_t rate) {
    if (rate < kMinConvertRate || rate > kMaxConvertRate)
        return InvalidEffectValue("Sample rates must be between " + std::to_string(kMinConvertRate) +
                                  " and " + std::to_string(kMaxConvertRate) + " samples per second.");
    return std::nullopt;
}

std::optional<InvalidValue> ValidateChannels(int32_t channels) {
    if (channels != 1 && channels != 2) return InvalidEffectValue("Channels must be 1 (mono) or 2 (stereo).");
    return std::nullopt;
}

EffectDefinition SpeedEffect(const SpeedKind& kind) {
    EffectDefinition e;
    e.id = kind.id;
    e.name = kind.name;
    e.caption = kSpeedCaption;
    e.parameters = {{kind.key, "100", kind.label,
                     std::to_string(MinimumPercent(kind.mode)) + ".." + std::to_string(kMaxSpeedPercent)}};
    const std::string key = kind.key;
    const SpeedMode mode = kind.mode;
    e.validate = [key, mode](const EffectValues& v) { return ValidateSpeed(mode, IntValue(v, key)); };
    e.run = [key, mode](ProgressTask& task, EffectRange& range, const EffectValues& v) {
        return ChangeSpeed(task, range, mode, IntValue(v, key));
    };
    return e;
}

EffectDefinition ConvertSampleRateEffect() {
    EffectDefinition e;
    e.id = "convert-sample-rate";
    e.name = "Convert Sample Rate";
    e.parameters = {{"SampleRate", "44100", "New sample rate (Hz)",
                     std::to_string(kMinConvertRate) + ".." + std::to_string(kMaxConvertRate)}};
    e.validate = [](const EffectValues& v) { return ValidateRate(IntValue(v, "SampleRate")); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& v) {
        const int32_t rate = IntValue(v, "SampleRate");
        if (ValidateRate(rate)) return static_cast<int32_t>(kTaskFailed);
        return ConvertClip(task, range, rate, range.clip.Channels(), "Convert Sample Rate");
    };
    return e;
}

EffectDefinition ConvertChannelsEffect() {
    EffectDefinition e;
    e.id = "convert-channels";
    e.name = "Convert Channels";
    e.parameters = {{"Channels", "1", "Channels (1 mono, 2 stereo)", "1 or 2"}};
    e.validate = [](const EffectValues& v) { return ValidateChannels(IntValue(v, "Channels")); };
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& v) {
        const int32_t channels = IntValue(v, "Channels");
        if (ValidateChannels(channels)) return static_cast<int32_t>(kTaskFailed);
        return ConvertClip(task, range, static_cast<int32_t>(range.clip.SampleRate()), channels,
                           "Convert Channels");
    };
    return e;
}

}  // namespace

void AddSpeedEffects(std::vector<EffectDefinition>& catalogue) {
    for (const SpeedKind& kind : kSpeedKinds)
        catalogue.push_back(SpeedEffect(kind));
    catalogue.push_back(ConvertSampleRateEffect());
    catalogue.push_back(ConvertChannelsEffect());
}

}  // namespace sonitor
