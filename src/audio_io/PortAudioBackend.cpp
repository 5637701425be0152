// The device layer over PortAudio (ALSA, PulseAudio or JACK underneath).
//
// Streams run in callback mode: the callback takes the queued buffers in
// order, copies their PCM, marks each done and sets the owner's event, which
// is what the player's and recorder's threads wait for.
//
// PortAudio has no device volume, so the output level is a software gain
// kept per device by this backend and applied in the callback: the player's
// volume control then works on every system, though it only affects our
// own streams and not the system mixer. A gain of 65535 leaves the samples
// untouched.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio_io/AudioDevice.h"

namespace sonitor {

namespace {

constexpr uint32_t kInfiniteLoops = 0x7FFFFFFF;
constexpr uint32_t kFullVolume = 0xFFFFFFFF;

// PortAudio's set-up, enumeration and stream control calls are not made
// from two threads at once; the callbacks never take this lock.
std::mutex& LibraryLock() {
    static std::mutex lock;
    return lock;
}

// ALSA reports every missing card and unknown configuration entry on
// stderr while PortAudio probes; on a machine without sound (or in the
// command-line tool) that is noise, and failures reach the caller anyway.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// The same for JACK, which PortAudio tries first and which complains when
// no JACK server runs (the usual case). It is reached through the symbol
// table because libjack comes in with PortAudio, not as our own dependency.
void QuietJackMessages(const char*) {}

void SilenceJack() {
    using SetHandler = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void* symbol = dlsym(RTLD_DEFAULT, name)) reinterpret_cast<SetHandler>(symbol)(QuietJackMessages);
    }
}

// Called with LibraryLock held. A failed initialisation (no sound system)
// is remembered: the backend then lists no devices and every open fails.
bool Initialised() {
    static int state = 0;  // 0 not tried, 1 ready, 2 failed
    if (state == 0) {
        snd_lib_error_set_handler(QuietAlsaErrors);
        SilenceJack();
        state = Pa_Initialize() == paNoError ? 1 : 2;
    }
    return state == 1;
}

// Called with LibraryLock held.
std::vector<PaDeviceIndex> DeviceIndices(bool output) {
    std::vector<PaDeviceIndex> indices;
    if (!Initialised()) return indices;
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && (output ? info->maxOutputChannels : info->maxInputChannels) > 0)
            indices.push_back(i);
    }
    return indices;
}

// Our device number (0 = the system default, n = the n-th listed) to
// PortAudio's index; paNoDevice when there is no such device.
PaDeviceIndex Resolve(int device, bool output) {
    if (!Initialised() || device < 0) return paNoDevice;
    if (device == 0) return output ? Pa_GetDefaultOutputDevice() : Pa_GetDefaultInputDevice();
    const std::vector<PaDeviceIndex> indices = DeviceIndices(output);
    return static_cast<size_t>(device) <= indices.size() ? indices[static_cast<size_t>(device) - 1]
                                                         : paNoDevice;
}

// The retry after a failed plain open: a device whose plug layer converts
// rate and channels ("default", then "pulse", then "sysdefault"), other
// than the one that just failed.
PaDeviceIndex ConvertingDevice(PaDeviceIndex failed, bool output) {
    for (const char* name : {"default", "pulse", "sysdefault"}) {
        for (PaDeviceIndex i : DeviceIndices(output)) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (i != failed && info->name != nullptr && std::strcmp(info->name, name) == 0) return i;
        }
    }
    return paNoDevice;
}

PaStream* OpenStream(PaDeviceIndex index, const DeviceFormat& format, bool output, PaStreamCallback* callback,
                     void* user) {
    const PaDeviceInfo* info = index == paNoDevice ? nullptr : Pa_GetDeviceInfo(index);
    if (info == nullptr) return nullptr;
    PaStreamParameters parameters{};
    parameters.device = index;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = paInt16;
    // Our owners queue a tenth of a second per buffer: robustness matters
    // more than latency.
    parameters.suggestedLatency = output ? info->defaultHighOutputLatency : info->defaultHighInputLatency;
    PaStream* stream = nullptr;
    const PaError error =
        Pa_OpenStream(&stream, output ? nullptr : &parameters, output ? &parameters : nullptr,
                      format.sampleRate, paFramesPerBufferUnspecified, paNoFlag, callback, user);
    return error == paNoError ? stream : nullptr;
}

void MarkDone(WaveHeader& header) {
    header.flags.store((header.flags.load() & ~kHeaderQueued) | kHeaderDone);
}

// What the open streams of one device share with the volume calls.
using Gain = std::shared_ptr<std::atomic<uint32_t>>;

class PortAudioOut final : public WaveOut {
public:
    PortAudioOut(int channels, ManualResetEvent& done, Gain gain)
        : channels_(channels), done_(done), gain_(std::move(gain)) {}

    ~PortAudioOut() override {
        Reset();
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (stream_ != nullptr) Pa_CloseStream(stream_);
    }

    bool Open(PaDeviceIndex index, const DeviceFormat& format) {
        stream_ = OpenStream(index, format, true, &PortAudioOut::Callback, this);
        return stream_ != nullptr;
    }

    bool Write(WaveHeader& header) override {
        if (header.data == nullptr && header.bytes != 0) return false;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            header.bytes = std::min(header.bytes, header.bufferBytes);
            header.flags.store((header.flags.load() & ~kHeaderDone) | kHeaderQueued);
            queue_.push_back(&header);
        }
        // The stream runs from the first buffer after opening or a reset,
        // so an idle device costs nothing.
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (!started_) {
            if (Pa_StartStream(stream_) != paNoError) {
                std::lock_guard<std::mutex> queueLock(queueLock_);
                queue_.erase(std::remove(queue_.begin(), queue_.end(), &header), queue_.end());
                header.flags.store(header.flags.load() & ~kHeaderQueued);
                return false;
            }
            started_ = true;
        }
        return true;
    }

    void Reset() override {
        {
            // Once the abort returns the callback is not running and will
            // not run again: no buffer is touched after this.
            std::lock_guard<std::mutex> lock(LibraryLock());
            if (started_) Pa_AbortStream(stream_);
            started_ = false;
        }
        std::lock_guard<std::mutex> lock(queueLock_);
        offset_ = 0;
        loopsPlayed_ = 0;
        if (queue_.empty()) return;
        for (WaveHeader* header : queue_)
            MarkDone(*header);
        queue_.clear();
        done_.Set();
    }

private:
    static int Callback(const void*, void* output, unsigned long frameCount, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user) {
        static_cast<PortAudioOut*>(user)->Fill(static_cast<int16_t*>(output),
                                               static_cast<int64_t>(frameCount));
        return paContinue;
    }

    void Fill(int16_t* out, int64_t frames) {
        const uint32_t level = gain_->load(std::memory_order_relaxed);
        bool finished = false;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            while (frames > 0 && !queue_.empty()) {
                WaveHeader& header = *queue_.front();
                const int64_t total = header.bytes / (2 * channels_);
                const int64_t take = std::min(frames, total - offset_);
                if (take > 0) {
                    Copy(out, header.data + offset_ * channels_, take, level);
                    out += take * channels_;
                    offset_ += take;
                    frames -= take;
                }
                if (offset_ < total) break;
                offset_ = 0;
                const bool looped = (header.flags.load() & (kHeaderBeginLoop | kHeaderEndLoop)) ==
                                    (kHeaderBeginLoop | kHeaderEndLoop);
                // An empty loop would spin here for ever.
                if (looped && total > 0 && (header.loops == kInfiniteLoops || ++loopsPlayed_ < header.loops))
                    continue;
                loopsPlayed_ = 0;
                queue_.pop_front();
                MarkDone(header);
                finished = true;
            }
        }
        // Nothing queued (the owner fell behind or the data ended): silence.
        std::fill(out, out + frames * channels_, int16_t{0});
        if (finished) done_.Set();
    }

    // Left level in the low 16 bits, right in the high 16 bits; a mono
    // stream takes the left one, further channels the right one.
    void Copy(int16_t* out, const int16_t* in, int64_t frames, uint32_t level) const {
        const int64_t count = frames * channels_;
        if (level == kFullVolume) {
            std::copy(in, in + count, out);
            return;
        }
        const int32_t left = static_cast<int32_t>(level & 0xFFFF), right = static_cast<int32_t>(level >> 16);
        for (int64_t i = 0; i < count; ++i) {
            const int32_t gain = (i % channels_) == 0 ? left : right;
            out[i] = static_cast<int16_t>(int32_t{in[i]} * gain / 65535);
        }
    }

    PaStream* stream_ = nullptr;
    const int channels_;
    ManualResetEvent& done_;
    Gain gain_;
    bool started_ = false;  // guarded by LibraryLock
    std::mutex queueLock_;
    std::deque<WaveHeader*> queue_;
    int64_t offset_ = 0;        // frames of the front buffer already played
    uint32_t loopsPlayed_ = 0;  // completed passes of a looped front buffer
};

class PortAudioIn final : public WaveIn {
public:
    PortAudioIn(int channels, ManualResetEvent& done) : channels_(channels), done_(done) {}

    ~PortAudioIn() override {
        Reset();
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (stream_ != nullptr) Pa_CloseStream(stream_);
    }

    bool Open(PaDeviceIndex index, const DeviceFormat& format) {
        stream_ = OpenStream(index, format, false, &PortAudioIn::Callback, this);
        return stream_ != nullptr;
    }

    bool AddBuffer(WaveHeader& header) override {
        if (header.data == nullptr || header.bufferBytes < static_cast<uint32_t>(2 * channels_)) return false;
        std::lock_guard<std::mutex> lock(queueLock_);
        header.bytes = 0;
        header.flags.store((header.flags.load() & ~kHeaderDone) | kHeaderQueued);
        queue_.push_back(&header);
        return true;
    }

    bool Start() override {
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (!started_) started_ = Pa_StartStream(stream_) == paNoError;
        return started_;
    }

    // The buffer being filled comes back with what it holds; empty ones
    // stay queued for the next Start.
    void Stop() override {
        Halt();
        std::lock_guard<std::mutex> lock(queueLock_);
        if (!queue_.empty() && queue_.front()->bytes > 0) {
            MarkDone(*queue_.front());
            queue_.pop_front();
            done_.Set();
        }
    }

    void Reset() override {
        Halt();
        std::lock_guard<std::mutex> lock(queueLock_);
        if (queue_.empty()) return;
        for (WaveHeader* header : queue_)
            MarkDone(*header);
        queue_.clear();
        done_.Set();
    }

private:
    void Halt() {
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (started_) Pa_AbortStream(stream_);
        started_ = false;
    }

    static int Callback(const void* input, void*, unsigned long frameCount, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user) {
        static_cast<PortAudioIn*>(user)->Take(static_cast<const int16_t*>(input),
                                              static_cast<int64_t>(frameCount));
        return paContinue;
    }

    void Take(const int16_t* in, int64_t frames) {
        const int64_t frameBytes = 2 * channels_;
        bool finished = false;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            // With no buffer queued the input is lost, as on any card.
            while (frames > 0 && !queue_.empty()) {
                WaveHeader& header = *queue_.front();
                const int64_t capacity = header.bufferBytes / frameBytes;
                const int64_t filled = header.bytes / frameBytes;
                const int64_t take = std::min(frames, capacity - filled);
                int16_t* out = header.data + filled * channels_;
                if (in != nullptr) {
                    std::copy(in, in + take * channels_, out);
                    in += take * channels_;
                } else {
                    std::fill(out, out + take * channels_, int16_t{0});
                }
                header.bytes = static_cast<uint32_t>((filled + take) * frameBytes);
                frames -= take;
                if (filled + take == capacity) {
                    queue_.pop_front();
                    MarkDone(header);
                    finished = true;
                }
            }
        }
        if (finished) done_.Set();
    }

    PaStream* stream_ = nullptr;
    const int channels_;
    ManualResetEvent& done_;
    bool started_ = false;  // guarded by LibraryLock
    std::mutex queueLock_;
    std::deque<WaveHeader*> queue_;
};

bool ValidFormat(const DeviceFormat& format) {
    return format.sampleRate > 0 && format.channels >= 1 && format.channels <= 255;
}

class PortAudioBackend final : public AudioBackend {
public:
    std::string Name() const override { return "portaudio"; }

    std::vector<std::string> OutputDevices() override { return Names(true); }
    std::vector<std::string> InputDevices() override { return Names(false); }

    std::unique_ptr<WaveOut> OpenOut(int device, const DeviceFormat& format, ManualResetEvent& done,
                                     bool mapped) override {
        if (!ValidFormat(format)) return nullptr;
        std::lock_guard<std::mutex> lock(LibraryLock());
        PaDeviceIndex index = Resolve(device, true);
        if (index == paNoDevice) return nullptr;
        Gain gain = GainOf(index);
        if (mapped) index = ConvertingDevice(index, true);
        auto out = std::make_unique<PortAudioOut>(format.channels, done, std::move(gain));
        if (!out->Open(index, format)) return nullptr;
        return out;
    }

    std::unique_ptr<WaveIn> OpenIn(int device, const DeviceFormat& format, ManualResetEvent& done,
                                   bool mapped) override {
        if (!ValidFormat(format)) return nullptr;
        std::lock_guard<std::mutex> lock(LibraryLock());
        PaDeviceIndex index = Resolve(device, false);
        if (index == paNoDevice) return nullptr;
        if (mapped) index = ConvertingDevice(index, false);
        auto in = std::make_unique<PortAudioIn>(format.channels, done);
        if (!in->Open(index, format)) return nullptr;
        return in;
    }

    bool SetOutVolume(int device, uint32_t level) override {
        std::lock_guard<std::mutex> lock(LibraryLock());
        const PaDeviceIndex index = Resolve(device, true);
        if (index == paNoDevice) return false;
        GainOf(index)->store(level, std::memory_order_relaxed);
        return true;
    }

    bool GetOutVolume(int device, uint32_t& level) override {
        std::lock_guard<std::mutex> lock(LibraryLock());
        const PaDeviceIndex index = Resolve(device, true);
        if (index == paNoDevice) return false;
        level = GainOf(index)->load(std::memory_order_relaxed);
        return true;
    }

private:
    std::vector<std::string> Names(bool output) {
        std::lock_guard<std::mutex> lock(LibraryLock());
        std::vector<std::string> names;
        for (PaDeviceIndex i : DeviceIndices(output)) {
            const char* name = Pa_GetDeviceInfo(i)->name;
            names.emplace_back(name != nullptr ? name : "");
        }
        return names;
    }

    // Keyed by PortAudio's index, so that device 0 and the list entry of the
    // same default device share one level. Called with LibraryLock held.
    Gain GainOf(PaDeviceIndex index) {
        Gain& gain = gains_[index];
        if (!gain) gain = std::make_shared<std::atomic<uint32_t>>(kFullVolume);
        return gain;
    }

    std::map<PaDeviceIndex, Gain> gains_;
};

}  // namespace

// Declared in AudioBackend.cpp, which picks the backend.
AudioBackend& PortAudioBackendInstance() {
    static PortAudioBackend* backend = new PortAudioBackend;  // streams may close during static destruction
    return *backend;
}

}  // namespace sonitor
