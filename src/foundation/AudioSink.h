#pragma once

#include <cstdint>

#include "foundation/RefCounted.h"

namespace sonitor {

// Accepts interleaved frames of signed 32-bit internal samples.
//
// Write() and Truncate() keep the frame count; implementations provide the
// storage side through WriteFrames() and TruncateTo(). Close() finalises the
// output and says whether it succeeded; the destructor of every
// implementation must call it when the owner has not.
class AudioSink : public RefCounted {
public:
    // A channel count of 0 becomes 1 and marks the sink failed.
    AudioSink(int32_t sampleRate, int channels);

    // Appends frames and adds them to FramesWritten().
    void Write(const int32_t* buffer, int32_t frames);
    // When frames is not greater than FramesWritten(), the output is cut back
    // to max(frames, 0) frames and later writes continue from there. A larger
    // count does nothing.
    void Truncate(int32_t frames);
    // Finalises the output; true when nothing has failed. Further calls
    // return the same answer.
    bool Close();

    int32_t FramesWritten() const noexcept { return framesWritten_; }
    int32_t SampleRate() const noexcept { return sampleRate_; }
    int Channels() const noexcept { return channels_; }
    bool Failed() const noexcept { return (flags_ & kFailedFlag) != 0; }
    bool Closed() const noexcept { return closed_; }

protected:
    static constexpr uint8_t kFailedFlag = 1;
    // Set by sinks that drop everything: Write and Truncate leave the count.
    static constexpr uint8_t kDiscardFlag = 0x80;

    virtual void WriteFrames(const int32_t* buffer, int32_t frames) = 0;
    virtual void TruncateTo(int32_t frames) = 0;
    // Called once by Close(); returns false when finalising failed.
    virtual bool Finish() { return true; }

    void SetFailed() noexcept { flags_ |= kFailedFlag; }
    void SetDiscarding() noexcept { flags_ |= kDiscardFlag; }

private:
    int32_t framesWritten_ = 0;
    int32_t sampleRate_;
    uint8_t channels_;
    uint8_t flags_ = 0;
    bool closed_ = false;
};

// Stands in when a sink cannot be created: 44100 Hz mono, failed, and every
// write is dropped.
class NullSink final : public AudioSink {
public:
    NullSink();
    ~NullSink() override;

protected:
    void WriteFrames(const int32_t*, int32_t) override {}
    void TruncateTo(int32_t) override {}
};

Ref<AudioSink> MakeNullSink();

}  // namespace sonitor
