#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio_io/AudioDevice.h"

namespace sonitor {

// A device layer without sound hardware, for tests, CI and machines without
// sound. Output buffers are "played" by a clock: in real time, N times
// faster (SONITOR_NULL_SPEED=N), or only when a test advances it. What is
// played is kept in memory and, with SONITOR_NULL_OUT=path, written to a WAV
// file when the device closes. Input comes from a WAV file
// (SONITOR_NULL_IN=path) or from a generator the test installs; silence
// otherwise. Opens can be made to fail.
class NullAudioBackend final : public AudioBackend {
public:
    std::string Name() const override { return "null"; }
    std::vector<std::string> OutputDevices() override;  // {"Null Output"}
    std::vector<std::string> InputDevices() override;   // {"Null Input"}
    std::unique_ptr<WaveOut> OpenOut(int device, const DeviceFormat& format, ManualResetEvent& done,
                                     bool mapped) override;
    std::unique_ptr<WaveIn> OpenIn(int device, const DeviceFormat& format, ManualResetEvent& done,
                                   bool mapped) override;
    bool SetOutVolume(int device, uint32_t level) override;
    bool GetOutVolume(int device, uint32_t& level) override;

    // ---- Control, for tests (thread-safe).

    // Manual clock: devices move only when Advance is called (frames of
    // each open device's own rate). Off by default (real-time clock).
    void SetManualClock(bool manual);
    void Advance(int64_t frames);
    // Real-time clock speed factor (default SONITOR_NULL_SPEED or 1).
    void SetSpeed(double factor);
    // The next `count` opens of output (or input) devices fail, plain and
    // mapped alike.
    void FailNextOpens(int outputCount, int inputCount);
    // Everything output devices have played since the last call, as
    // interleaved 16-bit samples, with the format of the last device.
    std::vector<int16_t> TakePlayed();
    DeviceFormat LastOutFormat() const;
    int64_t BuffersWritten() const;
    // Input: generator(frameIndex, channel) -> 16-bit sample; empty for
    // silence (or SONITOR_NULL_IN's file).
    void SetInputGenerator(std::function<int16_t(int64_t frame, int channel)> generator);
    // Back to the defaults (real-time clock, no failures, nothing played).
    void ResetForTesting();
};

// The process's null backend.
NullAudioBackend& NullAudio();

}  // namespace sonitor
