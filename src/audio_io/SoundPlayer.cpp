#include "audio_io/SoundPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "audio_io/AudioDevice.h"
#include "foundation/Numbers.h"
#include "foundation/PeakLimiter.h"

namespace sonitor {
namespace {

constexpr uint16_t kStateOpen = 1;
constexpr uint16_t kStateScrubbing = 4;
constexpr uint32_t kLoopForever = 0x7FFFFFFF;
// Every wait is bounded so that a stop request is noticed.
constexpr int kWaitMs = 1000;
constexpr int kStopWaitMs = 5000;
// The mean square of a full-scale sine after the >> 5 of ChannelLevel.
constexpr int64_t kLevelReference = 0x800012;
constexpr uint32_t kVolumeStep = 1424;

int16_t Saturate16(int32_t sample) {
    const int64_t v = (int64_t{sample} + 8) >> 4;
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

void ConvertTo16(const int32_t* in, int16_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out[i] = Saturate16(in[i]);
}

void ComputeLevels(const int32_t* samples, int32_t frames, int channels, LevelSet& levels) {
    levels.channels = static_cast<uint8_t>(channels);
    for (int c = 0; c < channels; ++c)
        levels.levels[static_cast<size_t>(c)] = ChannelLevel(samples, frames, channels, c);
}

// Joins a worker however long it takes: its buffers and source must not be
// freed while it may still touch them. Every wait inside the workers is
// bounded, so only a source stuck in Read can make this slow.
void StopAndJoin(WorkerThread& thread) {
    while (!thread.Stop(kStopWaitMs) && thread.Running()) {
    }
}

}  // namespace

int8_t ChannelLevel(const int32_t* samples, int32_t frames, int channels, int channel) {
    if (frames <= 0 || channels <= 0 || channel < 0 || channel >= channels) return kDecibelSilence;
    // The floor of the mean kept as quotient and remainder, so that the sum
    // of squares (each up to 2^52) never has to fit anywhere. Chunks of 4095
    // squares do fit 64 bits, which keeps the divisions out of the loop.
    constexpr int32_t kChunk = 4095;
    const uint64_t n = static_cast<uint64_t>(frames);
    uint64_t quotient = 0;
    uint64_t remainder = 0;
    for (int32_t first = 0; first < frames; first += kChunk) {
        const int32_t last = std::min(frames, first + kChunk);
        uint64_t sum = 0;
        for (int32_t f = first; f < last; ++f) {
            const int64_t q = samples[static_cast<size_t>(f) * channels + channel] >> 5;
            sum += static_cast<uint64_t>(q * q);
        }
        quotient += sum / n;
        remainder += sum % n;
        if (remainder >= n) {
            quotient += remainder / n;
            remainder %= n;
        }
    }
    const int64_t mean = static_cast<int64_t>(quotient);
    if (mean == 0) return kDecibelSilence;
    double level = 10.0 * std::log10(static_cast<double>(mean) / static_cast<double>(kLevelReference));
    level += mean >= kLevelReference ? 0.5 : -0.5;
    return static_cast<int8_t>(std::clamp<int64_t>(static_cast<int64_t>(level), -127, 127));
}

int32_t PlayerBufferFrames(int32_t sampleRate) {
    return std::clamp(sampleRate / 10, 20, 8192);
}

uint32_t VolumeLevelFromDecibels(int decibels) {
    if (decibels <= -36) return 0;
    return static_cast<uint32_t>(std::min<int64_t>((int64_t{decibels} + 36) * kVolumeStep, 65535));
}

int DecibelsFromVolumeLevel(uint32_t level) {
    return std::clamp(static_cast<int>(level / kVolumeStep) - 36, -127, 127);
}

class SoundPlayer::Impl {
public:
    Impl(SoundPlayer& owner, AudioBackend& backend) : owner_(owner), backend_(backend) {}

    bool Start(Ref<AudioSource> source);
    void Stop();
    void Seek(int32_t frame);
    void EnterScrub();
    void LeaveScrub();

    bool Idle() const { return state_.load() == 0; }
    bool Scrubbing() const { return (state_.load() & kStateScrubbing) != 0; }
    int32_t Position() const { return position_.load(); }
    Ref<AudioSource> Source() const { return source_; }
    AudioBackend& Backend() { return backend_; }

private:
    struct Buffer {
        WaveHeader header;
        LevelSet levels;
        std::atomic<bool> free{true};
        uint32_t capacity = 0;
    };

    class Feeder final : public WorkerThread {
    public:
        explicit Feeder(Impl& player) : player_(player) {}
        ~Feeder() override { StopAndJoin(*this); }

    protected:
        void Run() override { player_.FeedLoop(*this); }

    private:
        Impl& player_;
    };

    class Completion final : public WorkerThread {
    public:
        explicit Completion(Impl& player) : player_(player) {}
        ~Completion() override { StopAndJoin(*this); }

    protected:
        void Run() override { player_.CompletionLoop(*this); }

    private:
        Impl& player_;
    };

    void FeedLoop(Feeder& self);
    void CompletionLoop(Completion& self);
    void HandleNotification();
    void StopFeeder();
    void WriteScrubSnippet();
    void ReportPosition(int32_t frames);
    PlayerListener* Listener() const { return owner_.listener_; }

    SoundPlayer& owner_;
    AudioBackend& backend_;

    ManualResetEvent bufferEvent_;  // set by the device whenever a buffer is done
    ManualResetEvent slotFreed_;    // set by the completion thread when a buffer is free again
    std::atomic<int32_t> position_{0};
    std::atomic<uint16_t> state_{0};
    std::atomic<bool> ended_{false};
    std::atomic<bool> bufferDone_{false};
    std::atomic<bool> failed_{false};  // the device refused a buffer
    std::atomic<bool> feederBoosted_{false};
    std::atomic<int> completedSinceWait_{0};

    Ref<AudioSource> source_;
    std::mutex levelsLock_;
    LevelSet current_;
    std::vector<int32_t> work_;
    // The 16-bit data of all buffers, left uninitialised: every buffer is
    // filled before it is written, and clearing a megabyte would double the
    // time to the first sound.
    std::unique_ptr<int16_t[]> block_;
    std::unique_ptr<WaveOut> device_;
    int32_t frames_ = 0;
    int channels_ = 1;
    std::array<Buffer, kBuffers> buffers_;

    Completion completion_{*this};
    Feeder feeder_{*this};
    // Last, so that it goes first: no handler runs on a half-destroyed player.
    Notifier notifier_{[this] { HandleNotification(); }};
};

bool SoundPlayer::Impl::Start(Ref<AudioSource> source) {
    Stop();
    if (!source || !source->Ok()) return false;
    Ref<AudioSource> held = LimitPeaks(std::move(source), kLimiterCeiling);
    channels_ = held->Channels();
    const int32_t rate = held->SampleRate();

    const DeviceFormat format{.sampleRate = rate, .channels = channels_};
    device_ = backend_.OpenOut(owner_.device_, format, bufferEvent_, false);
    if (!device_) device_ = backend_.OpenOut(owner_.device_, format, bufferEvent_, true);
    if (!device_) return false;

    frames_ = PlayerBufferFrames(rate);
    const size_t samplesPerBuffer = static_cast<size_t>(channels_) * static_cast<size_t>(frames_);
    work_.assign(samplesPerBuffer, 0);
    block_ = std::make_unique_for_overwrite<int16_t[]>(samplesPerBuffer * kBuffers);
    for (size_t k = 0; k < buffers_.size(); ++k) {
        Buffer& b = buffers_[k];
        b.capacity = static_cast<uint32_t>(samplesPerBuffer * sizeof(int16_t));
        b.header.data = block_.get() + k * samplesPerBuffer;
        b.header.bufferBytes = b.capacity;
        b.header.bytes = b.capacity;
        b.header.user = 0;
        b.header.loops = 0;
        b.header.flags.store(0);
        b.levels = LevelSet{};
        b.free.store(true);
    }
    {
        std::lock_guard lock(levelsLock_);
        current_ = LevelSet{};
    }

    source_ = std::move(held);
    state_.store(kStateOpen);
    ended_.store(false);
    bufferDone_.store(false);
    failed_.store(false);
    position_.store(source_->Position());
    feeder_.Start(ThreadPriority::Normal);

    if (PlayerListener* listener = Listener()) {
        listener->PlayStarted();
        ReportPosition(position_.load());
    }
    return true;
}

void SoundPlayer::Impl::StopFeeder() {
    StopAndJoin(feeder_);
    device_->Reset();
}

void SoundPlayer::Impl::Stop() {
    if (Idle()) return;
    StopFeeder();
    // Reset has returned every buffer, so the device can close and the
    // memory go.
    device_.reset();
    for (Buffer& b : buffers_) {
        b.header.data = nullptr;
        b.header.bytes = b.capacity;
        b.free.store(true);
    }
    block_.reset();
    work_ = {};
    source_.Reset();
    state_.store(0);
    ended_.store(false);
    bufferDone_.store(false);
    failed_.store(false);
    position_.store(0);
    if (PlayerListener* listener = Listener()) listener->PlayStopped();
}

void SoundPlayer::Impl::Seek(int32_t frame) {
    if (Idle()) return;
    StopFeeder();
    source_->Seek(frame);
    position_.store(source_->Position());
    ended_.store(false);
    bufferDone_.store(false);
    if (Scrubbing()) {
        WriteScrubSnippet();
    } else {
        feeder_.Start(ThreadPriority::Normal);
    }
    ReportPosition(position_.load());
}

void SoundPlayer::Impl::EnterScrub() {
    if (Idle() || Scrubbing()) return;
    // What is still queued has not been heard: drop it and go back to the
    // last frame that was.
    StopFeeder();
    source_->Seek(position_.load());
    position_.store(source_->Position());
    WriteScrubSnippet();
    state_.store(kStateOpen | kStateScrubbing);
    ended_.store(false);
    bufferDone_.store(false);
    if (PlayerListener* listener = Listener()) listener->ScrubStarted();
    ReportPosition(position_.load());
}

void SoundPlayer::Impl::LeaveScrub() {
    if (Idle()) return;
    if (Scrubbing()) {
        device_->Reset();
        state_.store(kStateOpen);
        feeder_.Start(ThreadPriority::Normal);
    }
    if (PlayerListener* listener = Listener()) listener->PlayStarted();
}

// A quarter buffer repeated four times (the last copy cut short) and looped
// by the device until the next reset: a short stretch heard over and over.
void SoundPlayer::Impl::WriteScrubSnippet() {
    Buffer& b = buffers_[0];
    const int32_t q = (frames_ + 3) / 4;
    const size_t ch = static_cast<size_t>(channels_);
    source_->Read(work_.data(), q);
    int16_t* data = b.header.data;
    ConvertTo16(work_.data(), data, static_cast<size_t>(q) * ch);
    for (int k = 1; k <= 2; ++k)
        std::memcpy(data + k * q * ch, data, static_cast<size_t>(q) * ch * sizeof(int16_t));
    std::memcpy(data + 3 * q * ch, data, static_cast<size_t>(frames_ - 3 * q) * ch * sizeof(int16_t));
    ComputeLevels(work_.data(), q, channels_, b.levels);

    b.header.flags.store(kHeaderBeginLoop | kHeaderEndLoop);
    b.header.user = static_cast<uint32_t>(source_->Position());
    b.header.bytes = b.capacity;
    b.header.loops = kLoopForever;
    b.free.store(false);
    if (!device_->Write(b.header)) b.free.store(true);
    if (PlayerListener* listener = Listener()) listener->LevelsChanged(b.levels);
}

void SoundPlayer::Impl::ReportPosition(int32_t frames) {
    if (PlayerListener* listener = Listener())
        listener->PositionReport(MillisecondsFromFrames(frames, source_ ? source_->SampleRate() : 0));
}

void SoundPlayer::Impl::FeedLoop(Feeder& self) {
    constexpr uint32_t kClearBits = ~uint32_t{kHeaderDone | kHeaderBeginLoop | kHeaderEndLoop};
    for (Buffer& b : buffers_) {
        b.header.flags.fetch_and(kClearBits);
        b.free.store(true);
    }
    completion_.Start(ThreadPriority::Normal);
    size_t i = 0;
    feederBoosted_.store(false);
    completedSinceWait_.store(0);
    bool completionBoosted = false;
    bool reachedEnd = false;
    const size_t ch = static_cast<size_t>(channels_);

    while (!self.StopRequested()) {
        slotFreed_.Reset();
        Buffer& b = buffers_[i];
        if (!b.free.load()) {
            // The ring is full: the device is well fed. Make sure finished
            // buffers are noticed at once, and stop hurrying if we had been.
            completedSinceWait_.store(0);
            if (!completionBoosted) {
                completion_.SetPriority(ThreadPriority::TimeCritical);
                completionBoosted = true;
            }
            if (feederBoosted_.exchange(false)) self.SetPriority(ThreadPriority::BelowNormal);
            self.WaitForEventOrStop(slotFreed_, kWaitMs);
            continue;
        }
        const int32_t p = source_->Position();
        const int64_t left = int64_t{source_->Length()} - p;
        if (left < 1) {
            reachedEnd = true;
            break;
        }
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(left, frames_));
        source_->Read(work_.data(), n);
        ConvertTo16(work_.data(), b.header.data, static_cast<size_t>(n) * ch);
        ComputeLevels(work_.data(), n, channels_, b.levels);

        b.header.flags.fetch_and(kClearBits);
        b.header.bytes = static_cast<uint32_t>(static_cast<size_t>(n) * ch * sizeof(int16_t));
        b.header.user =
            static_cast<uint32_t>(static_cast<int32_t>(std::min<int64_t>(int64_t{p} + n, INT32_MAX)));
        b.header.loops = 0;
        b.free.store(false);
        if (!device_->Write(b.header)) {
            // The device has gone away: stop rather than wait for a buffer
            // that will never finish.
            b.free.store(true);
            failed_.store(true);
            notifier_.Notify();
            break;
        }
        i = (i + 1) % kBuffers;
    }

    // End of data: done once the last buffer written has been heard.
    const size_t last = (i + kBuffers - 1) % kBuffers;
    while (reachedEnd && !self.StopRequested()) {
        slotFreed_.Reset();
        if (buffers_[last].free.load()) {
            ended_.store(true);
            notifier_.Notify();
            break;
        }
        self.WaitForEventOrStop(slotFreed_, kWaitMs);
    }

    StopAndJoin(completion_);
    device_->Reset();
}

void SoundPlayer::Impl::CompletionLoop(Completion& self) {
    constexpr uint32_t kClearBits = ~uint32_t{kHeaderDone | kHeaderBeginLoop | kHeaderEndLoop};
    size_t k = 0;
    while (!self.StopRequested()) {
        bufferEvent_.Reset();
        Buffer& b = buffers_[k];
        if ((b.header.flags.load() & kHeaderDone) == 0) {
            self.WaitForEventOrStop(bufferEvent_, kWaitMs);
            continue;
        }
        position_.store(static_cast<int32_t>(b.header.user));
        {
            std::lock_guard lock(levelsLock_);
            current_ = b.levels;
        }
        b.header.flags.fetch_and(kClearBits);
        b.free.store(true);
        slotFreed_.Set();
        // Many buffers finished in a row without the feeder ever finding the
        // ring full: it is falling behind, so let it run first.
        if (completedSinceWait_.fetch_add(1) > 32 && !feederBoosted_.load()) {
            feeder_.SetPriority(ThreadPriority::TimeCritical);
            feederBoosted_.store(true);
        }
        bufferDone_.store(true);
        notifier_.Notify();
        k = (k + 1) % kBuffers;
    }
}

void SoundPlayer::Impl::HandleNotification() {
    if (Idle()) return;
    if (failed_.load()) {
        Stop();
        return;
    }
    PlayerListener* listener = Listener();
    if (ended_.load()) {
        if (listener) ReportPosition(source_->Length());
        // The listener may have sought or restarted meanwhile.
        if (ended_.load()) Stop();
    } else if (bufferDone_.exchange(false)) {
        if (!listener) return;
        ReportPosition(position_.load());
        LevelSet levels;
        {
            std::lock_guard lock(levelsLock_);
            levels = current_;
        }
        // The listener may have stopped playback in the position report.
        if (!Idle()) listener->LevelsChanged(levels);
    }
}

SoundPlayer::SoundPlayer(AudioBackend& backend) : impl_(std::make_unique<Impl>(*this, backend)) {}

SoundPlayer::~SoundPlayer() {
    impl_->Stop();
}

bool SoundPlayer::StartPlayback(Ref<AudioSource> source) {
    return impl_->Start(std::move(source));
}

void SoundPlayer::StopPlayback() {
    impl_->Stop();
}

void SoundPlayer::SeekPlayback(int32_t frame) {
    impl_->Seek(frame);
}

void SoundPlayer::EnterScrub() {
    impl_->EnterScrub();
}

void SoundPlayer::LeaveScrub() {
    impl_->LeaveScrub();
}

bool SoundPlayer::SetOutputVolume(int decibels) {
    const uint32_t level = VolumeLevelFromDecibels(decibels);
    return impl_->Backend().SetOutVolume(device_, level | (level << 16));
}

int SoundPlayer::GetOutputVolume() {
    uint32_t level = 0x8000;
    if (!impl_->Backend().GetOutVolume(device_, level)) level = 0x8000;
    return DecibelsFromVolumeLevel(level & 0xFFFF);
}

bool SoundPlayer::Idle() const {
    return impl_->Idle();
}

bool SoundPlayer::Scrubbing() const {
    return impl_->Scrubbing();
}

int32_t SoundPlayer::Position() const {
    return impl_->Position();
}

Ref<AudioSource> SoundPlayer::Source() const {
    return impl_->Source();
}

}  // namespace sonitor
