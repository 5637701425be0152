#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/AudioSource.h"
#include "foundation/ManualResetEvent.h"
#include "foundation/Notifier.h"
#include "foundation/WorkerThread.h"

namespace sonitor {

class AudioBackend;
class WaveOut;

// Per-channel levels in whole decibels (-127 = silence).
struct LevelSet {
    uint8_t channels = 0;
    std::array<int8_t, 256> levels{};
};

// What a player reports, always on the thread that pumps notifications.
class PlayerListener {
public:
    virtual ~PlayerListener() = default;
    virtual void PlayStarted() {}
    virtual void PlayStopped() {}
    virtual void ScrubStarted() {}
    virtual void PositionReport(int32_t milliseconds) { (void)milliseconds; }
    virtual void LevelsChanged(const LevelSet& levels) { (void)levels; }
};

// The level of one channel of n frames: 10 log10 of the mean of (x >> 5)^2
// over 8388626, rounded half away from zero, -127 for silence.
int8_t ChannelLevel(const int32_t* samples, int32_t frames, int channels, int channel);

// Frames per device buffer: rate / 10 limited to 20..8192.
int32_t PlayerBufferFrames(int32_t sampleRate);

// Device volume from decibels and back: (dB + 36) * 1424 capped at 65535,
// 0 at -36 dB and below; level / 1424 - 36 limited to -127..127.
uint32_t VolumeLevelFromDecibels(int decibels);
int DecibelsFromVolumeLevel(uint32_t level);

// Plays a source through an output device with 64 buffers of a tenth of a
// second, a feeder thread and a completion thread; reports position and
// levels to the listener through a Notifier. All public calls come from the
// user-interface thread.
class SoundPlayer {
public:
    static constexpr int kBuffers = 64;

    explicit SoundPlayer(AudioBackend& backend);
    ~SoundPlayer();  // stops playback and joins both threads

    // Set before starting: 0 = the default device, n = device n of the list.
    void SetDevice(int device) { device_ = device; }
    int Device() const { return device_; }
    void SetListener(PlayerListener* listener) { listener_ = listener; }

    // Stops, then plays source from its position. False (and idle) when the
    // source is unusable or no device opens, plain or mapped.
    bool StartPlayback(Ref<AudioSource> source);
    void StopPlayback();
    void SeekPlayback(int32_t frame);
    void EnterScrub();
    void LeaveScrub();
    bool SetOutputVolume(int decibels);
    int GetOutputVolume();

    bool Idle() const;
    bool Scrubbing() const;
    // The source frame after the last buffer heard.
    int32_t Position() const;
    // The source being played (null when idle).
    Ref<AudioSource> Source() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    int device_ = 0;
    PlayerListener* listener_ = nullptr;
};

}  // namespace sonitor
