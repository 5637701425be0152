#include "audio_io/SoundRecorder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio_io/AudioDevice.h"
#include "foundation/ManualResetEvent.h"
#include "foundation/Notifier.h"
#include "foundation/Numbers.h"
#include "foundation/WorkerThread.h"

namespace sonitor {

namespace {

constexpr int kIdle = 0;
constexpr int kArmed = 1;
constexpr int kWriting = 2;

// A quarter of 16-bit full scale on the internal scale: the 0 dB mark of the
// record meter, which leaves 12 dB of headroom above it.
constexpr double kPeakReference = 131072.0;

// Writing resumes this far after the last loud buffer when a pause is cut,
// and a stopped take keeps this much after it.
constexpr int32_t kPauseKeptMs = 450;
constexpr int32_t kTailKeptMs = 50;

constexpr int kStartWaitMs = 1500;
constexpr int kRestartWaitMs = 700;
constexpr int kStopWaitMs = 5000;
constexpr int kBufferWaitMs = 1000;

RecorderListener& SilentListener() {
    static RecorderListener listener;
    return listener;
}

int ClampDecibels(int value) {
    return std::clamp(value, -127, 127);
}

// The loudest of the first two channels (the only one for mono), from the
// per-channel peaks of `frames` frames.
int8_t BufferLevel(const int32_t* samples, int32_t frames, int channels, int8_t* perChannel) {
    int8_t level = kDecibelSilence;
    for (int c = 0; c < channels; ++c) {
        int64_t peak = 0;
        for (int32_t f = 0; f < frames; ++f) {
            const int64_t v =
                std::llabs(static_cast<int64_t>(samples[static_cast<size_t>(f) * channels + c]));
            peak = std::max(peak, v);
        }
        const int8_t l = PeakLevel(static_cast<int32_t>(std::min<int64_t>(peak, INT32_MAX)));
        if (perChannel) perChannel[c] = l;
        if (c < 2) level = std::max(level, l);
    }
    return level;
}

}  // namespace

int8_t PeakLevel(int32_t peak) {
    if (peak <= 0) return kDecibelSilence;
    const double db = 20.0 * std::log10(peak / kPeakReference);
    const double rounded = peak >= 131072 ? db + 0.5 : db - 0.5;
    if (rounded >= 127.0) return 127;
    if (rounded <= -127.0) return kDecibelSilence;
    return static_cast<int8_t>(static_cast<int>(rounded));
}

int32_t RecorderBufferFrames(int32_t sampleRate) {
    return std::clamp(sampleRate / 10, 32, 8192);
}

class SoundRecorder::Impl {
public:
    Impl(SoundRecorder& owner, AudioBackend& backend) : owner_(owner), backend_(backend) {
        for (auto& level : levels_)
            level.store(kDecibelSilence, std::memory_order_relaxed);
    }

    ~Impl() {
        // No listener calls here: the listener may already be gone.
        JoinCapture();
        sink_.Reset();
        recording_ = false;
        state_.store(kIdle);
    }

    bool Start(Ref<AudioSink> sink, int32_t timeLimitMs, int threshold, int32_t silenceLimitMs);
    bool Restart();
    void Stop();

    int State() const { return state_.load(std::memory_order_acquire); }
    int32_t LastLoud() const { return lastLoudMs_.load(std::memory_order_acquire); }

private:
    class CaptureThread final : public WorkerThread {
    public:
        explicit CaptureThread(Impl& impl) : impl_(impl) {}

    protected:
        void Run() override { impl_.Capture(*this); }

    private:
        Impl& impl_;
    };

    RecorderListener& Listener() const { return owner_.listener_ ? *owner_.listener_ : SilentListener(); }

    // Starts the capture thread and waits for it to have the device open
    // (or to have failed); true unless it failed.
    bool LaunchCapture(int waitMs);
    // The capture thread is joined before anything it uses is touched or
    // freed, even when it takes longer than the usual bound.
    void JoinCapture();
    void ClearFlags();
    void OnNotify();

    void Capture(WorkerThread& self);
    void Write(AudioSink& sink, const int32_t* samples, int32_t frames);

    SoundRecorder& owner_;
    AudioBackend& backend_;

    // User-interface thread only (read by the capture thread only while it
    // runs, and never changed then).
    Ref<AudioSink> sink_;
    bool recording_ = false;
    int device_ = 0;
    int32_t timeLimitMs_ = 0;
    int threshold_ = kDecibelSilence;
    int release_ = kDecibelSilence;
    int32_t silenceLimitMs_ = 0;

    // Shared with the capture thread.
    std::atomic<int> state_{kIdle};
    std::atomic<int32_t> lastLoudMs_{0};
    std::atomic<bool> limitReached_{false};
    std::atomic<bool> bufferProcessed_{false};
    std::atomic<bool> stateChanged_{false};
    std::atomic<bool> deviceFailed_{false};
    std::atomic<int> levelChannels_{0};
    std::array<std::atomic<int8_t>, 256> levels_;
    ManualResetEvent started_;
    ManualResetEvent go_;

    Notifier notifier_{[this] { OnNotify(); }};
    CaptureThread thread_{*this};
};

// ---------------------------------------------------------------------------
// User-interface thread

bool SoundRecorder::Impl::Start(Ref<AudioSink> sink, int32_t timeLimitMs, int threshold,
                                int32_t silenceLimitMs) {
    if (recording_) Stop();
    if (!sink || sink->Failed() || sink->Closed()) return false;

    sink_ = std::move(sink);
    device_ = owner_.device_;
    timeLimitMs_ = timeLimitMs;
    threshold_ = ClampDecibels(threshold);
    release_ = ClampDecibels(threshold_ - 4);
    silenceLimitMs_ = silenceLimitMs;
    lastLoudMs_.store(0);
    levelChannels_.store(sink_->Channels());
    if (!LaunchCapture(kStartWaitMs)) {
        sink_.Reset();
        return false;
    }
    recording_ = true;
    Listener().Armed();
    Listener().RecordedTime(LastLoud());
    return true;
}

bool SoundRecorder::Impl::Restart() {
    if (!recording_) return false;
    JoinCapture();
    sink_->Truncate(0);
    lastLoudMs_.store(0);
    if (!LaunchCapture(kRestartWaitMs)) {
        sink_.Reset();
        recording_ = false;
        Listener().RecordingStopped();
        return false;
    }
    Listener().Armed();
    Listener().RecordedTime(LastLoud());
    return true;
}

void SoundRecorder::Impl::Stop() {
    if (!recording_) return;
    JoinCapture();
    const int32_t keep = LastLoud() + kTailKeptMs;
    lastLoudMs_.store(keep);
    const int32_t rate = sink_->SampleRate();
    if (MillisecondsFromFrames(sink_->FramesWritten(), rate) > keep)
        sink_->Truncate(FramesFromMilliseconds(keep, rate));
    sink_.Reset();
    recording_ = false;
    state_.store(kIdle);
    Listener().RecordingStopped();
}

bool SoundRecorder::Impl::LaunchCapture(int waitMs) {
    ClearFlags();
    state_.store(kArmed);
    // Reset before the thread exists: a start event left set by an earlier
    // run would make a failed open look like a working one.
    started_.Reset();
    go_.Set();
    thread_.Start(ThreadPriority::Normal);
    started_.WaitFor(waitMs);
    if (State() != kIdle) return true;
    // The open failed: the thread has ended or is about to.
    JoinCapture();
    ClearFlags();
    return false;
}

void SoundRecorder::Impl::JoinCapture() {
    while (!thread_.Stop(kStopWaitMs)) {
    }
}

void SoundRecorder::Impl::ClearFlags() {
    limitReached_.store(false);
    bufferProcessed_.store(false);
    stateChanged_.store(false);
    deviceFailed_.store(false);
}

void SoundRecorder::Impl::OnNotify() {
    if (!recording_) return;
    const bool failed = deviceFailed_.exchange(false);
    if (limitReached_.exchange(false) || failed) {
        Stop();
        return;
    }
    if (bufferProcessed_.exchange(false)) {
        Listener().RecordedTime(LastLoud());
        std::array<int8_t, 256> levels{};
        const int channels = levelChannels_.load();
        for (int c = 0; c < channels; ++c)
            levels[static_cast<size_t>(c)] = levels_[static_cast<size_t>(c)].load();
        Listener().RecordLevels(levels.data(), channels);
    }
    if (stateChanged_.exchange(false)) {
        if (State() == kArmed) {
            Listener().Armed();
        } else if (State() == kWriting) {
            Listener().Writing();
        }
    }
}

// ---------------------------------------------------------------------------
// Capture thread

void SoundRecorder::Impl::Write(AudioSink& sink, const int32_t* samples, int32_t frames) {
    if (frames > 0) sink.Write(samples, frames);
}

void SoundRecorder::Impl::Capture(WorkerThread& self) {
    // Our own reference: the sink stays alive for as long as this thread
    // runs, whatever the other side does.
    const Ref<AudioSink> sinkRef = sink_;
    AudioSink& sink = *sinkRef;
    const int channels = std::max(1, sink.Channels());
    const int32_t rate = sink.SampleRate();
    const int32_t bufferFrames = RecorderBufferFrames(rate);
    const size_t bufferSamples = static_cast<size_t>(bufferFrames) * channels;

    // Declared before the device so that they outlive it.
    ManualResetEvent done;
    std::vector<int16_t> block(bufferSamples * kBuffers);
    std::array<WaveHeader, kBuffers> headers;

    const DeviceFormat format{rate, channels};
    std::unique_ptr<WaveIn> device = backend_.OpenIn(device_, format, done, false);
    if (!device) device = backend_.OpenIn(device_, format, done, true);
    bool ok = device != nullptr;
    for (int i = 0; ok && i < kBuffers; ++i) {
        WaveHeader& h = headers[static_cast<size_t>(i)];
        h.data = block.data() + bufferSamples * static_cast<size_t>(i);
        h.bufferBytes = static_cast<uint32_t>(bufferSamples * 2);
        h.bytes = 0;
        h.flags.store(0);
        ok = device->AddBuffer(h);
    }
    if (ok) {
        // Both StartRecording and RestartRecording give the go before the
        // thread starts; the wait is there for a caller that holds it back.
        while (!self.WaitForEventOrStop(go_, kBufferWaitMs)) {
        }
        if (!self.StopRequested()) {
            self.SetPriority(ThreadPriority::Highest);
            ok = device->Start();
        }
    }
    if (!ok) {
        if (device) device->Reset();
        device.reset();
        state_.store(kIdle);
        // Tell the other side in case it has stopped waiting for the start.
        deviceFailed_.store(true);
        started_.Set();
        notifier_.Notify();
        return;
    }
    started_.Set();

    std::vector<int32_t> work(bufferSamples);
    std::vector<int32_t> previous(bufferSamples);
    int32_t previousFrames = 0;
    bool havePrevious = false;
    std::array<int8_t, 256> channelLevels{};

    // One-pole high-pass of about 8 Hz against DC offset: a = acc / 4096
    // follows the input with the coefficient k / 4096. The accumulator is 64
    // bits wide because a full-scale offset takes it to 2^31. k is capped at
    // 4096 so that very low rates (below 47 Hz) stay stable.
    const int64_t k = rate > 0 ? std::min<int64_t>(192000 / rate + 1, 4096) : 1;
    std::vector<int64_t> acc(static_cast<size_t>(channels), 0);

    // Takes a finished buffer into `work`: 16-bit to internal samples, then
    // the high-pass. Returns the frames it held.
    const auto takeBuffer = [&](WaveHeader& h) {
        const int32_t frames = std::min<int32_t>(
            static_cast<int32_t>(h.bytes / 2 / static_cast<uint32_t>(channels)), bufferFrames);
        const size_t count = static_cast<size_t>(frames) * channels;
        for (size_t i = 0; i < count; ++i) {
            const int64_t s = static_cast<int64_t>(h.data[i]) * 16;
            int64_t& a = acc[i % static_cast<size_t>(channels)];
            const int64_t y = s - (a >> 12);
            work[i] = static_cast<int32_t>(y);
            a += y * k;
        }
        return frames;
    };
    const auto publishLevels = [&](int32_t frames) {
        const int8_t level = BufferLevel(work.data(), frames, channels, channelLevels.data());
        for (int c = 0; c < channels; ++c)
            levels_[static_cast<size_t>(c)].store(channelLevels[static_cast<size_t>(c)],
                                                  std::memory_order_relaxed);
        return level;
    };
    const auto keepAsPrevious = [&](int32_t frames) {
        std::copy(work.begin(), work.begin() + static_cast<std::ptrdiff_t>(frames) * channels,
                  previous.begin());
        previousFrames = frames;
        havePrevious = true;
    };
    const auto writtenMs = [&] { return MillisecondsFromFrames(sink.FramesWritten(), rate); };

    int ring = 0;
    while (!self.StopRequested()) {
        WaveHeader& h = headers[static_cast<size_t>(ring)];
        done.Reset();
        if ((h.flags.load(std::memory_order_acquire) & kHeaderDone) == 0) {
            self.WaitForEventOrStop(done, kBufferWaitMs);
            continue;
        }
        const int32_t frames = takeBuffer(h);
        h.bytes = 0;
        h.flags.store(0, std::memory_order_release);
        // A device that refuses its buffer back has gone away: this buffer
        // is still taken, then the take ends with what it holds.
        const bool requeued = device->AddBuffer(h);
        ring = (ring + 1) % kBuffers;

        const int8_t level = publishLevels(frames);
        if (state_.load() == kArmed) {
            if (level < threshold_) {
                keepAsPrevious(frames);
            } else {
                // Sound in the first half too: its onset may lie just before
                // this buffer, so the end of the previous one goes first.
                const int32_t half = frames / 2;
                if (havePrevious && BufferLevel(work.data(), half, channels, nullptr) >= threshold_) {
                    const int32_t tail = previousFrames - previousFrames / 2;
                    Write(sink, previous.data() + static_cast<size_t>(previousFrames / 2) * channels, tail);
                }
                Write(sink, work.data(), frames);
                // This buffer is loud: without this the silence limit and
                // the stop cut would count from the take's beginning and
                // throw the new sound away.
                lastLoudMs_.store(writtenMs());
                state_.store(kWriting);
                stateChanged_.store(true);
            }
        } else {
            Write(sink, work.data(), frames);
            const int32_t t = writtenMs();
            const int32_t lastLoud = lastLoudMs_.load();
            if (level >= release_) {
                lastLoudMs_.store(t);
            } else if (static_cast<int64_t>(t) - lastLoud > silenceLimitMs_) {
                sink.Truncate(FramesFromMilliseconds(static_cast<int64_t>(lastLoud) + kPauseKeptMs, rate));
                state_.store(kArmed);
                keepAsPrevious(frames);
                stateChanged_.store(true);
            }
            if (timeLimitMs_ > 0 && t > timeLimitMs_) limitReached_.store(true);
        }
        bufferProcessed_.store(true);
        if (!requeued) deviceFailed_.store(true);
        notifier_.Notify();
        if (!requeued) break;
    }

    device->Reset();
    if (state_.load() == kWriting) {
        // What the device had captured when it was reset: the buffers it
        // handed back, in order, up to the first empty one.
        for (int i = 0; i < kBuffers; ++i) {
            WaveHeader& h = headers[static_cast<size_t>((ring + i) % kBuffers)];
            if ((h.flags.load(std::memory_order_acquire) & kHeaderDone) == 0 || h.bytes == 0) break;
            const int32_t frames = takeBuffer(h);
            Write(sink, work.data(), frames);
            if (publishLevels(frames) >= release_) lastLoudMs_.store(writtenMs());
        }
    }
    device.reset();
}

// ---------------------------------------------------------------------------

SoundRecorder::SoundRecorder(AudioBackend& backend) : impl_(std::make_unique<Impl>(*this, backend)) {}

SoundRecorder::~SoundRecorder() = default;

bool SoundRecorder::StartRecording(Ref<AudioSink> sink, int32_t timeLimitMs, int threshold,
                                   int32_t silenceLimitMs) {
    return impl_->Start(std::move(sink), timeLimitMs, threshold, silenceLimitMs);
}

bool SoundRecorder::RestartRecording() {
    return impl_->Restart();
}

void SoundRecorder::StopRecording() {
    impl_->Stop();
}

SoundRecorder::State SoundRecorder::CurrentState() const {
    switch (impl_->State()) {
        case kArmed:
            return State::Armed;
        case kWriting:
            return State::Writing;
        default:
            return State::Idle;
    }
}

int32_t SoundRecorder::LastLoudMilliseconds() const {
    return impl_->LastLoud();
}

}  // namespace sonitor
