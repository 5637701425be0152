#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ManualResetEvent.h"

namespace sonitor {

class SettingsStore;

// Bits of WaveHeader::flags.
enum WaveHeaderFlag : uint32_t {
    kHeaderDone = 1,        // set by the device when it has played or filled the buffer
    kHeaderBeginLoop = 4,   // output: this buffer starts a loop ...
    kHeaderEndLoop = 8,     // ... and ends it: repeated `loops` times
    kHeaderQueued = 16,     // set by the device while it holds the buffer
};

// One buffer of interleaved 16-bit PCM handed to a device. The owner keeps
// it alive until it is done or the device has been reset.
struct WaveHeader {
    int16_t* data = nullptr;
    uint32_t bufferBytes = 0;    // capacity
    uint32_t bytes = 0;          // output: bytes to play; input: bytes recorded
    uint32_t user = 0;           // the owner's word (the player: frame after the buffer)
    uint32_t loops = 0;          // loop count for a looped output buffer
    std::atomic<uint32_t> flags{0};
};

// 16-bit PCM, channels interleaved.
struct DeviceFormat {
    int32_t sampleRate = 44100;
    int channels = 2;
};

// An open output device: buffers are played in the order written; each one
// gets kHeaderDone when it has been played, and the done event given at
// open is set then. A buffer with both loop bits is repeated `loops` times
// (0x7FFFFFFF: until Reset).
class WaveOut {
public:
    virtual ~WaveOut() = default;  // closes the device (after a Reset)
    virtual bool Write(WaveHeader& header) = 0;
    // Stops at once; every queued buffer is marked done; returns when the
    // device no longer touches any of them.
    virtual void Reset() = 0;
};

// An open input device: buffers are filled in the order added; each one gets
// kHeaderDone and its recorded byte count when full (or partly filled by a
// Reset), and the done event is set.
class WaveIn {
public:
    virtual ~WaveIn() = default;
    virtual bool AddBuffer(WaveHeader& header) = 0;
    virtual bool Start() = 0;
    virtual void Stop() = 0;
    // Stops and returns every queued buffer, marked done.
    virtual void Reset() = 0;
};

// The system's audio devices. Device numbers as the settings store them:
// 0 is the system's default device (the "mapper"), n >= 1 is the n-th entry
// of the device list.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    virtual std::string Name() const = 0;  // "portaudio", "null"
    virtual std::vector<std::string> OutputDevices() = 0;
    virtual std::vector<std::string> InputDevices() = 0;
    // Null when the device cannot be opened with this format. `mapped` asks
    // for a conversion layer in front of the device (the retry after a
    // failed plain open).
    virtual std::unique_ptr<WaveOut> OpenOut(int device, const DeviceFormat& format, ManualResetEvent& done,
                                             bool mapped) = 0;
    virtual std::unique_ptr<WaveIn> OpenIn(int device, const DeviceFormat& format, ManualResetEvent& done,
                                           bool mapped) = 0;
    // The output level of a device, 0..65535 per channel (left in the low 16
    // bits, right in the high 16 bits), whether it plays or not. False when
    // the device has no such control.
    virtual bool SetOutVolume(int device, uint32_t level) = 0;
    virtual bool GetOutVolume(int device, uint32_t& level) = 0;
};

// The backend in use: the null backend when SONITOR_AUDIO=null (or the
// "AudioBackend" setting in "Settings" says "null"), else PortAudio.
AudioBackend& CurrentAudioBackend();
AudioBackend& CurrentAudioBackend(const SettingsStore& settings);

}  // namespace sonitor
