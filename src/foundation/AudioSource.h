#pragma once

#include <cstdint>

#include "foundation/RefCounted.h"

namespace sonitor {

// Largest number of frames a file reader or writer moves in one call; callers
// split larger transfers.
inline constexpr int32_t kMaxTransferFrames = 8192;

// Full scale of 16-bit material on the internal scale (v * 16).
inline constexpr int32_t kFullScale16 = 524272;
// Full scale declared by sources whose samples may carry headroom.
inline constexpr int32_t kFullScaleHeadroom = 2097152;

// Status byte of a source. Any other non-zero value is a generic failure.
enum SourceStatus : uint8_t {
    kSourceOk = 0,
    kSourceUnusable = 3,     // bad or missing chunk, out-of-range parameter
    kSourceCannotOpen = 4,   // the input could not be opened
    kSourceNoCodec = 5,      // no codec can decode the input's format
};

// Delivers interleaved frames of signed 32-bit internal samples on request.
class AudioSource : public RefCounted {
public:
    // A rate of 0 or less becomes 44100 and a channel count of 0 becomes 1;
    // either marks the source unusable.
    AudioSource(int32_t sampleRate, int32_t fullScale, int channels, uint8_t status = kSourceOk);

    // Fills exactly frames * Channels() samples (silence where there is no
    // data) and advances the position by frames.
    virtual void Read(int32_t* buffer, int32_t frames) = 0;
    // Frame index of the next frame Read delivers; may be negative.
    virtual int32_t Position() const = 0;
    virtual int32_t Length() const = 0;
    // Any value is accepted; positions before 0 and at or past Length() read
    // as silence.
    virtual void Seek(int32_t position) = 0;

    int32_t SampleRate() const noexcept { return sampleRate_; }
    int32_t FullScale() const noexcept { return fullScale_; }
    int Channels() const noexcept { return channels_; }
    uint8_t Status() const noexcept { return status_; }
    bool Ok() const noexcept { return status_ == kSourceOk; }

protected:
    void SetStatus(uint8_t status) noexcept { status_ = status; }
    void SetFullScale(int32_t fullScale) noexcept { fullScale_ = fullScale; }
    void SetFormat(int32_t sampleRate, int channels) noexcept;

private:
    int32_t sampleRate_;
    int32_t fullScale_;
    uint8_t channels_;
    uint8_t status_;
};

// Stands in when a source cannot be opened: 11025 Hz mono silence of length 0.
class NullSource final : public AudioSource {
public:
    explicit NullSource(uint8_t status);
    void Read(int32_t* buffer, int32_t frames) override;
    int32_t Position() const override { return 0; }
    int32_t Length() const override { return 0; }
    void Seek(int32_t) override {}
};

Ref<AudioSource> MakeNullSource(uint8_t status);

// Reads `frames` frames in pieces of at most kMaxTransferFrames.
void ReadInPieces(AudioSource& source, int32_t* buffer, int64_t frames);

}  // namespace sonitor
