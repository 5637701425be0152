#include "audio_io/NullAudio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "formats/WavSink.h"
#include "formats/WavSource.h"
#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"
#include "foundation/WorkerThread.h"

namespace sonitor {

namespace {

constexpr int kTickMs = 5;
constexpr uint32_t kInfiniteLoops = 0x7FFFFFFF;
// Real-time devices left playing with nobody taking the samples (a loop
// held for minutes) must not eat the memory: beyond this many samples what
// is played is no longer kept (the WAV file still gets all of it).
constexpr size_t kMaxKeptSamples = size_t{1} << 25;

class NullDevice;

double SpeedFromEnvironment() {
    if (const char* text = std::getenv("SONITOR_NULL_SPEED")) {
        const double factor = std::atof(text);
        if (factor > 0 && std::isfinite(factor)) return factor;
    }
    return 1.0;
}

// Everything the null devices share. One lock covers it and every device's
// queue, so that the clock, the owners' calls and the test controls see
// one order of events.
struct NullState {
    std::mutex lock;
    bool manualClock = false;
    double speed = SpeedFromEnvironment();
    int failOut = 0;
    int failIn = 0;
    std::vector<int16_t> played;
    DeviceFormat lastOutFormat;
    int64_t buffersWritten = 0;
    std::function<int16_t(int64_t, int)> generator;
    uint32_t volume = 0xFFFFFFFF;  // the one null output; device 0 and 1 alike
    std::vector<NullDevice*> devices;
};

NullState& State() {
    static NullState* state = new NullState;  // devices may close during static destruction
    return *state;
}

int16_t Saturate16(int32_t value) {
    return static_cast<int16_t>(std::clamp(value, -32768, 32767));
}

// Moves a device's clock: in real time on its own thread, or by Advance.
class NullDevice {
public:
    NullDevice(const DeviceFormat& format, ManualResetEvent& done) : format_(format), done_(done) {}
    virtual ~NullDevice() = default;
    // Runs `frames` frames of the device's time; called with the state lock held.
    virtual void Step(int64_t frames) = 0;

    void Register() {
        {
            std::lock_guard<std::mutex> lock(State().lock);
            State().devices.push_back(this);
        }
        clock_.Start(ThreadPriority::Normal);
    }
    // Before the derived part goes: no clock tick or Advance may reach it.
    void Unregister() {
        clock_.Stop(60000);
        std::lock_guard<std::mutex> lock(State().lock);
        auto& devices = State().devices;
        devices.erase(std::remove(devices.begin(), devices.end(), this), devices.end());
    }

protected:
    const DeviceFormat format_;
    ManualResetEvent& done_;
    size_t FrameBytes() const { return static_cast<size_t>(format_.channels) * 2; }

private:
    class Clock final : public WorkerThread {
    public:
        explicit Clock(NullDevice& device) : device_(device) {}
        ~Clock() override { Stop(60000); }

    protected:
        void Run() override {
            ManualResetEvent never;
            auto last = std::chrono::steady_clock::now();
            double owed = 0;  // fraction of a frame carried to the next tick
            while (!WaitForEventOrStop(never, kTickMs)) {
                const auto now = std::chrono::steady_clock::now();
                const double seconds = std::chrono::duration<double>(now - last).count();
                last = now;
                std::lock_guard<std::mutex> lock(State().lock);
                if (State().manualClock) {
                    owed = 0;
                    continue;
                }
                owed += seconds * State().speed * device_.format_.sampleRate;
                const auto frames = static_cast<int64_t>(owed);
                owed -= static_cast<double>(frames);
                if (frames > 0) device_.Step(frames);
            }
        }

    private:
        NullDevice& device_;
    };
    Clock clock_{*this};
};

class NullWaveOut final : public WaveOut, public NullDevice {
public:
    NullWaveOut(const DeviceFormat& format, ManualResetEvent& done) : NullDevice(format, done) {
        if (const char* path = std::getenv("SONITOR_NULL_OUT"); path != nullptr && path[0] != '\0') {
            file_ = CreatePcmWavSink(path, format.sampleRate, 16, format.channels);
        }
        Register();
    }

    ~NullWaveOut() override {
        Reset();
        Unregister();
        if (file_) file_->Close();
    }

    bool Write(WaveHeader& header) override {
        if (header.data == nullptr && header.bytes != 0) return false;
        std::lock_guard<std::mutex> lock(State().lock);
        header.bytes = std::min(header.bytes, header.bufferBytes);
        header.flags.store((header.flags.load() & ~kHeaderDone) | kHeaderQueued);
        queue_.push_back(&header);
        ++State().buffersWritten;
        return true;
    }

    void Reset() override {
        std::lock_guard<std::mutex> lock(State().lock);
        if (queue_.empty()) return;
        for (WaveHeader* header : queue_)
            MarkDone(*header);
        queue_.clear();
        offset_ = 0;
        loopsPlayed_ = 0;
        done_.Set();
    }

    void Step(int64_t frames) override {
        const size_t frameBytes = FrameBytes();
        bool finished = false;
        while (!queue_.empty()) {
            WaveHeader& header = *queue_.front();
            const int64_t total = header.bytes / frameBytes;
            const int64_t take = std::min(frames, total - offset_);
            if (take > 0) {
                Emit(header.data + offset_ * format_.channels, take);
                offset_ += take;
                frames -= take;
            }
            if (offset_ < total) break;  // the clock ran out inside this buffer
            offset_ = 0;
            const bool looped = (header.flags.load() & (kHeaderBeginLoop | kHeaderEndLoop)) ==
                                (kHeaderBeginLoop | kHeaderEndLoop);
            // An empty loop would spin for ever without playing anything.
            if (looped && total > 0 && (header.loops == kInfiniteLoops || ++loopsPlayed_ < header.loops)) {
                if (frames == 0) break;
                continue;
            }
            loopsPlayed_ = 0;
            queue_.pop_front();
            MarkDone(header);
            finished = true;
        }
        if (finished) done_.Set();
    }

private:
    static void MarkDone(WaveHeader& header) {
        header.flags.store((header.flags.load() & ~kHeaderQueued) | kHeaderDone);
    }

    void Emit(const int16_t* samples, int64_t frames) {
        const size_t count = static_cast<size_t>(frames) * format_.channels;
        auto& played = State().played;
        const size_t room = played.size() < kMaxKeptSamples ? kMaxKeptSamples - played.size() : 0;
        played.insert(played.end(), samples, samples + std::min(count, room));
        if (file_) {
            std::vector<int32_t> internal(count);
            for (size_t i = 0; i < count; ++i)
                internal[i] = int32_t{samples[i]} * 16;
            for (int64_t done = 0; done < frames; done += kMaxTransferFrames) {
                const auto n = static_cast<int32_t>(std::min<int64_t>(frames - done, kMaxTransferFrames));
                file_->Write(internal.data() + done * format_.channels, n);
            }
        }
    }

    std::deque<WaveHeader*> queue_;
    int64_t offset_ = 0;        // frames of the front buffer already played
    uint32_t loopsPlayed_ = 0;  // completed passes of a looped front buffer
    Ref<AudioSink> file_;
};

class NullWaveIn final : public WaveIn, public NullDevice {
public:
    NullWaveIn(const DeviceFormat& format, ManualResetEvent& done) : NullDevice(format, done) {
        if (const char* path = std::getenv("SONITOR_NULL_IN"); path != nullptr && path[0] != '\0') {
            Ref<AudioSource> source = OpenWavSource(path);
            if (source->Ok()) file_ = source;
        }
        Register();
    }

    ~NullWaveIn() override {
        Reset();
        Unregister();
    }

    bool AddBuffer(WaveHeader& header) override {
        if (header.data == nullptr || header.bufferBytes < FrameBytes()) return false;
        std::lock_guard<std::mutex> lock(State().lock);
        header.bytes = 0;
        header.flags.store((header.flags.load() & ~kHeaderDone) | kHeaderQueued);
        queue_.push_back(&header);
        return true;
    }

    bool Start() override {
        std::lock_guard<std::mutex> lock(State().lock);
        started_ = true;
        return true;
    }

    // Like a sound card: the buffer being filled is handed back with what
    // it holds; empty ones stay queued.
    void Stop() override {
        std::lock_guard<std::mutex> lock(State().lock);
        started_ = false;
        if (!queue_.empty() && queue_.front()->bytes > 0) {
            MarkDone(*queue_.front());
            queue_.pop_front();
            done_.Set();
        }
    }

    void Reset() override {
        std::lock_guard<std::mutex> lock(State().lock);
        started_ = false;
        if (queue_.empty()) return;
        for (WaveHeader* header : queue_)
            MarkDone(*header);
        queue_.clear();
        done_.Set();
    }

    void Step(int64_t frames) override {
        if (!started_) return;
        const size_t frameBytes = FrameBytes();
        bool finished = false;
        while (frames > 0 && !queue_.empty()) {
            WaveHeader& header = *queue_.front();
            const int64_t capacity = header.bufferBytes / frameBytes;
            const int64_t filled = header.bytes / frameBytes;
            const int64_t take = std::min(frames, capacity - filled);
            Capture(header.data + filled * format_.channels, take);
            header.bytes = static_cast<uint32_t>((filled + take) * frameBytes);
            frames -= take;
            if (filled + take == capacity) {
                queue_.pop_front();
                MarkDone(header);
                finished = true;
            }
        }
        // With no buffer queued the input is lost, as it would be on a card.
        frame_ += frames;
        if (finished) done_.Set();
    }

private:
    static void MarkDone(WaveHeader& header) {
        header.flags.store((header.flags.load() & ~kHeaderQueued) | kHeaderDone);
    }

    void Capture(int16_t* out, int64_t frames) {
        const int channels = format_.channels;
        const auto& generator = State().generator;
        if (generator) {
            for (int64_t f = 0; f < frames; ++f) {
                for (int c = 0; c < channels; ++c)
                    *out++ = generator(frame_ + f, c);
            }
        } else if (file_) {
            // The file's own rate is not converted; extra device channels
            // repeat the file's last one.
            const int fileChannels = file_->Channels();
            std::vector<int32_t> block;
            int64_t left = frames;
            while (left > 0) {
                const auto n = static_cast<int32_t>(std::min<int64_t>(left, kMaxTransferFrames));
                block.assign(static_cast<size_t>(n) * fileChannels, 0);
                file_->Read(block.data(), n);
                for (int32_t f = 0; f < n; ++f) {
                    for (int c = 0; c < channels; ++c) {
                        const int32_t s =
                            block[static_cast<size_t>(f) * fileChannels + std::min(c, fileChannels - 1)];
                        *out++ = Saturate16((s + 8) >> 4);
                    }
                }
                left -= n;
            }
        } else {
            std::fill(out, out + frames * channels, int16_t{0});
        }
        frame_ += frames;
    }

    std::deque<WaveHeader*> queue_;
    bool started_ = false;
    int64_t frame_ = 0;  // input frames produced since the device opened
    Ref<AudioSource> file_;
};

bool ValidFormat(const DeviceFormat& format) {
    return format.sampleRate > 0 && format.sampleRate <= 1000000 && format.channels >= 1 &&
           format.channels <= 255;
}

// Device 0 is the default device, 1 the only entry of the list.
bool ValidDevice(int device) {
    return device == 0 || device == 1;
}

}  // namespace

std::vector<std::string> NullAudioBackend::OutputDevices() {
    return {"Null Output"};
}
std::vector<std::string> NullAudioBackend::InputDevices() {
    return {"Null Input"};
}

std::unique_ptr<WaveOut> NullAudioBackend::OpenOut(int device, const DeviceFormat& format,
                                                   ManualResetEvent& done, bool mapped) {
    (void)mapped;  // any 16-bit format is taken as it is
    {
        std::lock_guard<std::mutex> lock(State().lock);
        if (State().failOut > 0) {
            --State().failOut;
            return nullptr;
        }
        if (!ValidDevice(device) || !ValidFormat(format)) return nullptr;
        State().lastOutFormat = format;
    }
    return std::make_unique<NullWaveOut>(format, done);
}

std::unique_ptr<WaveIn> NullAudioBackend::OpenIn(int device, const DeviceFormat& format,
                                                 ManualResetEvent& done, bool mapped) {
    (void)mapped;
    {
        std::lock_guard<std::mutex> lock(State().lock);
        if (State().failIn > 0) {
            --State().failIn;
            return nullptr;
        }
        if (!ValidDevice(device) || !ValidFormat(format)) return nullptr;
    }
    return std::make_unique<NullWaveIn>(format, done);
}

bool NullAudioBackend::SetOutVolume(int device, uint32_t level) {
    if (!ValidDevice(device)) return false;
    std::lock_guard<std::mutex> lock(State().lock);
    State().volume = level;
    return true;
}

bool NullAudioBackend::GetOutVolume(int device, uint32_t& level) {
    if (!ValidDevice(device)) return false;
    std::lock_guard<std::mutex> lock(State().lock);
    level = State().volume;
    return true;
}

void NullAudioBackend::SetManualClock(bool manual) {
    std::lock_guard<std::mutex> lock(State().lock);
    State().manualClock = manual;
}

void NullAudioBackend::Advance(int64_t frames) {
    if (frames <= 0) return;
    std::lock_guard<std::mutex> lock(State().lock);
    for (NullDevice* device : State().devices)
        device->Step(frames);
}

void NullAudioBackend::SetSpeed(double factor) {
    if (!(factor > 0) || !std::isfinite(factor)) return;
    std::lock_guard<std::mutex> lock(State().lock);
    State().speed = factor;
}

void NullAudioBackend::FailNextOpens(int outputCount, int inputCount) {
    std::lock_guard<std::mutex> lock(State().lock);
    State().failOut = std::max(outputCount, 0);
    State().failIn = std::max(inputCount, 0);
}

std::vector<int16_t> NullAudioBackend::TakePlayed() {
    std::lock_guard<std::mutex> lock(State().lock);
    std::vector<int16_t> played;
    played.swap(State().played);
    return played;
}

DeviceFormat NullAudioBackend::LastOutFormat() const {
    std::lock_guard<std::mutex> lock(State().lock);
    return State().lastOutFormat;
}

int64_t NullAudioBackend::BuffersWritten() const {
    std::lock_guard<std::mutex> lock(State().lock);
    return State().buffersWritten;
}

void NullAudioBackend::SetInputGenerator(std::function<int16_t(int64_t frame, int channel)> generator) {
    std::lock_guard<std::mutex> lock(State().lock);
    State().generator = std::move(generator);
}

void NullAudioBackend::ResetForTesting() {
    std::lock_guard<std::mutex> lock(State().lock);
    NullState& state = State();
    state.manualClock = false;
    state.speed = SpeedFromEnvironment();
    state.failOut = 0;
    state.failIn = 0;
    state.played.clear();
    state.lastOutFormat = DeviceFormat{};
    state.buffersWritten = 0;
    state.generator = nullptr;
    state.volume = 0xFFFFFFFF;
}

NullAudioBackend& NullAudio() {
    static NullAudioBackend* backend = new NullAudioBackend;  // used by devices closing at exit
    return *backend;
}

}  // namespace sonitor
