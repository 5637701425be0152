#include "audio_io/RecordTake.h"

#include <algorithm>

#include "audio_io/RecordMixer.h"
#include "audio_io/SoundRecorder.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "foundation/SettingsStore.h"

namespace sonitor {

namespace {
const char kSection[] = "Recorder";
}

RecorderSettings RecorderSettings::Load(const SettingsStore& settings) {
    RecorderSettings r;
    r.autostart = settings.ReadBool(kSection, "Autostart", r.autostart);
    r.autotrim = settings.ReadBool(kSection, "Autotrim", r.autotrim);
    r.voiceActivated = settings.ReadBool(kSection, "Vor", r.voiceActivated);
    r.threshold = std::clamp(settings.ReadInt(kSection, "Threshold", r.threshold), -127, 127);
    r.device = std::max(0, settings.ReadInt(kSection, "Device", r.device));
    r.channel = std::max(-1, settings.ReadInt(kSection, "Channel", r.channel));
    r.volume = std::clamp(settings.ReadInt(kSection, "Volume", r.volume), -127, 127);
    return r;
}

void RecorderSettings::Store(const SettingsStore& settings) const {
    settings.WriteBool(kSection, "Autostart", autostart);
    settings.WriteBool(kSection, "Autotrim", autotrim);
    settings.WriteBool(kSection, "Vor", voiceActivated);
    settings.WriteInt(kSection, "Threshold", threshold);
    settings.WriteInt(kSection, "Device", device);
    settings.WriteInt(kSection, "Channel", channel);
    settings.WriteInt(kSection, "Volume", volume);
}

void ApplyRecorderInput(RecordMixer& mixer, const RecorderSettings& settings) {
    mixer.SelectLine(settings.channel);
    mixer.SetVolume(settings.volume);
}

Ref<ClipWriter> CreateTakeWriter(const SoundDocument& document, AudioClip* take) {
    const auto rate = static_cast<int32_t>(std::min<uint32_t>(document.clip.SampleRate(), INT32_MAX));
    return CreateClipWriter(take, rate, std::max<int>(1, document.clip.Channels()));
}

bool StartTake(SoundRecorder& recorder, const Ref<ClipWriter>& writer, const RecorderSettings& settings) {
    return recorder.StartRecording(writer, RecorderSettings::kTimeLimitMs, settings.EngineThreshold(),
                                   settings.SilenceLimitMs());
}

bool InsertTake(SoundDocument& document, const AudioClip& take, DocumentHost& host) {
    const int32_t length = take.Length();
    if (length <= 0 || take.SampleRate() != document.clip.SampleRate() ||
        std::max<int>(1, take.Channels()) != std::max<int>(1, document.clip.Channels()))
        return false;
    host.StopPlayback();

    const int32_t size = document.Length();
    const int32_t start = std::clamp(std::min(document.selectionStart, document.selectionEnd), 0, size);
    const int32_t end = std::clamp(std::max(document.selectionStart, document.selectionEnd), 0, size);
    // Built aside first: a take that would make the document too long must
    // not cost the user the selection it was meant to replace.
    AudioClip result = document.clip;
    if (!ClipReplaceRange(result, start, end, take)) return false;

    BeginEdit(document, "Record", host);
    document.clip = std::move(result);
    SetSelection(document, start, start + length, start, host);
    return true;
}

}  // namespace sonitor
