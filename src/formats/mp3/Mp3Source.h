#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/mp3/Mp3FrameDecoder.h"
#include "formats/mp3/Mp3Header.h"
#include "foundation/AudioSource.h"
#include "foundation/FileUtil.h"
#include "foundation/RefCounted.h"

namespace sonitor {

// Frames decoded and thrown away before the frame a seek lands in, so that
// the bit reservoir and the filter history are filled again. Mp3Source goes
// further back when a frame's data begin earlier still.
inline int64_t Mp3SeekPreroll(int64_t frameIndex) {
    return frameIndex < 4 ? (frameIndex > 0 ? frameIndex : 0) : 4;
}

// An MPEG-1/2/2.5 Layer III file as a source of internal samples (full
// scale 2097152: decoded samples are not clipped). Made by OpenMp3Source.
class Mp3Source final : public AudioSource {
public:
    void Read(int32_t* buffer, int32_t frames) override;
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return length_; }
    void Seek(int32_t position) override;

    const Mp3Header& FirstHeader() const noexcept { return first_; }
    // A Xing, Info or VBRI frame was found (it is not played).
    bool HasInfoFrame() const noexcept { return infoFrame_; }
    // Frame count from the information frame; 0 when it gives none.
    uint32_t InfoFrameCount() const noexcept { return frameCount_; }
    // Bits per second over the first frames (or the first header's rate
    // when the information frame gives a frame count).
    double AverageBitrate() const noexcept { return averageBitrate_; }
    double AverageFrameBytes() const noexcept { return averageFrameBytes_; }
    int SamplesPerFrame() const noexcept { return samplesPerFrame_; }
    // Frames decoded ahead of the target by the last Seek.
    int64_t LastSeekPreroll() const noexcept { return lastPreroll_; }

    // Use OpenMp3Source.
    Mp3Source(UniqueFd fd, int64_t fileSize);

private:
    friend Ref<AudioSource> OpenMp3Source(const std::string& path);

    // Finds the stream and sets the format and length; returns the status.
    uint8_t Open();

    // Up to n bytes at offset through the read buffer; nullptr unless all n
    // are in the file.
    const uint8_t* Bytes(int64_t offset, size_t n);
    // The header of a frame of this stream that ends within the audio data.
    bool FrameAt(int64_t offset, Mp3Header* header);
    // Extends the frame index through frame `index`; false when the stream
    // ends first.
    bool Locate(int64_t index);
    // Decodes frame nextFrame_ into out and moves on; false at the end of the
    // stream or on a damaged frame.
    bool DecodeNext(int32_t* out);
    void Reestimate(int64_t frameStart);
    // Main-data bytes of frame `index` and how far before them its data
    // begin (main_data_begin).
    bool MainData(int64_t index, int* bytes, int* reach);
    // Where decoding starts for a seek into frame `index`: Mp3SeekPreroll
    // frames before it, or more when the bit reservoir reaches further.
    int64_t FirstPrerollFrame(int64_t index);

    UniqueFd fd_;
    int64_t fileSize_;
    int64_t dataBytes_ = 0;  // from the first audio frame to audioEnd_
    int64_t audioEnd_ = 0;   // frames must end here: before an ID3v1 tag, else at the end of the file
    Mp3Header first_;
    bool infoFrame_ = false;
    uint32_t frameCount_ = 0;
    double averageBitrate_ = 0;
    double averageFrameBytes_ = 1;
    int samplesPerFrame_ = 1152;
    int64_t bytesLeft_ = 0;

    Mp3FrameDecoder decoder_;
    std::vector<int32_t> frame_;
    int32_t frameFill_ = 0;
    int32_t readIndex_ = 0;
    int32_t position_ = 0;
    int32_t length_ = 0;
    int64_t lastPreroll_ = 0;

    // Offsets of the audio frames found so far, so that seeks land on the
    // exact frame; scanEnd_ is where the next one must begin.
    std::vector<int64_t> offsets_;
    int64_t scanEnd_ = 0;
    int64_t nextFrame_ = 0;

    std::vector<uint8_t> buffer_;
    int64_t bufferStart_ = 0;
    size_t bufferBytes_ = 0;
};

// Opens an MP3 file. Status 4 when the file cannot be opened, 3 when no
// Layer III frame header is found among the first 65536 positions after any
// leading ID3v2 tags.
Ref<AudioSource> OpenMp3Source(const std::string& path);

}  // namespace sonitor
