#pragma once

#include <cstdint>
#include <memory>

#include "foundation/AudioSink.h"

namespace sonitor {

class AudioBackend;

class RecorderListener {
public:
    virtual ~RecorderListener() = default;
    virtual void Writing() {}
    virtual void Armed() {}
    virtual void RecordingStopped() {}
    virtual void RecordedTime(int32_t milliseconds) { (void)milliseconds; }
    virtual void RecordLevels(const int8_t* levels, int channels) {
        (void)levels;
        (void)channels;
    }
};

// The level of a recorded buffer's channel from its peak: 20 log10(P /
// 131072) rounded half away from zero, -127 for silence.
int8_t PeakLevel(int32_t peak);
// Frames per capture buffer: rate / 10 limited to 32..8192.
int32_t RecorderBufferFrames(int32_t sampleRate);

// Records from an input device into a sink (the ClipWriter of a take) on a
// capture thread with 32 buffers: DC high-pass, levels, automatic start at a
// threshold with half a buffer of pre-roll, the cut 50 ms after the last
// loud buffer on stop, voice-activated pause after a silence limit, a time
// limit. Reports to the listener through a Notifier; public calls come from
// the user-interface thread.
class SoundRecorder {
public:
    static constexpr int kBuffers = 32;

    explicit SoundRecorder(AudioBackend& backend);
    ~SoundRecorder();  // stops and joins

    void SetDevice(int device) { device_ = device; }
    void SetListener(RecorderListener* listener) { listener_ = listener; }

    // threshold in dB (-127: every buffer starts writing); silenceLimitMs
    // for voice-activated pause; timeLimitMs 0 = none.
    bool StartRecording(Ref<AudioSink> sink, int32_t timeLimitMs, int threshold, int32_t silenceLimitMs);
    bool RestartRecording();
    void StopRecording();

    enum class State { Idle, Armed, Writing };
    State CurrentState() const;
    int32_t LastLoudMilliseconds() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    int device_ = 0;
    RecorderListener* listener_ = nullptr;
};

}  // namespace sonitor
