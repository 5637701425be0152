#pragma once

#include <cstdint>

#include "document/ClipWriter.h"

namespace sonitor {

class DocumentHost;
class RecordMixer;
class SettingsStore;
class SoundDocument;
class SoundRecorder;

// The remembered values of recording ("Recorder") and the engine settings
// they give.
struct RecorderSettings {
    bool autostart = true;        // "Autostart": record as soon as the dialog opens
    bool autotrim = true;         // "Autotrim": start at the threshold, cut the quiet end
    bool voiceActivated = false;  // "Vor": cut pauses longer than 5 s
    int threshold = -24;          // "Threshold", dB, -127..127
    int device = 0;               // "Device": 0 = the default input device
    int channel = -1;             // "Channel": the mixer line; -1 keeps the mixer's
    int volume = 0;               // "Volume": capture volume, dB

    static RecorderSettings Load(const SettingsStore& settings);
    void Store(const SettingsStore& settings) const;

    // Without AutoTrim every buffer passes at once.
    int EngineThreshold() const { return autotrim ? threshold : -127; }
    // Without voice activation the limit is 60 hours: never.
    int32_t SilenceLimitMs() const { return voiceActivated ? 5000 : 216000000; }
    static constexpr int32_t kTimeLimitMs = 0;
};

// The input line and volume of the settings on a device's mixer.
void ApplyRecorderInput(RecordMixer& mixer, const RecorderSettings& settings);

// A fresh writer for a take in the document's rate and channels; the take's
// clip is `take` (which may be null: ResultClip() then) once it is closed.
Ref<ClipWriter> CreateTakeWriter(const SoundDocument& document, AudioClip* take);

// Starts recording into writer with the engine settings of `settings`.
bool StartTake(SoundRecorder& recorder, const Ref<ClipWriter>& writer, const RecorderSettings& settings);

// Puts a finished take into the document as the Record command does: stops
// playback, saves the undo state "Record", replaces the selection with the
// take (inserts it at the selection start when nothing is selected), then
// selects the take with the cursor at its start. False, with the document
// untouched, for an empty take, one of another format, or one that would
// make the document too long.
bool InsertTake(SoundDocument& document, const AudioClip& take, DocumentHost& host);

}  // namespace sonitor
