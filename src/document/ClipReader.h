#pragma once

#include <cstddef>
#include <cstdint>

#include "document/AudioClip.h"
#include "foundation/AudioSource.h"
#include "foundation/FileUtil.h"

namespace sonitor {

// Reads a snapshot of a clip as a stream of internal samples. Later edits of
// the clip do not disturb it. Reports the clip's rate and channels and a
// full scale of 2,097,152, since gains above 1.0 can exceed 16-bit full
// scale. A missing or short working file reads as silence.
class ClipReader final : public AudioSource {
public:
    explicit ClipReader(const AudioClip& clip);

    void Read(int32_t* buffer, int32_t frames) override;
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return length_; }
    void Seek(int32_t position) override;

private:
    // Makes segment index current with `offset` frames of it already used.
    void EnterSegment(size_t index, int32_t offset);

    AudioClip clip_;
    int32_t length_;
    int32_t position_ = 0;
    size_t next_ = 0;           // index of the segment after the open one
    int32_t framesLeft_ = 0;    // frames left in the open segment
    bool silent_ = true;        // the open segment is silence (or unreadable)
    int32_t multiplier_ = 512;  // segment gain >> 15; 512 is unity
    UniqueFd file_;
    uint16_t fileId_ = kSilenceFileId;  // the working file file_ has open
    int64_t fileOffset_ = 0;            // byte offset of the next frame in file_
};

Ref<ClipReader> OpenClipReader(const AudioClip& clip);

// The reader's gain step on one sample: (sample * multiplier) >> 9,
// saturated to the 32-bit range.
inline int32_t ApplyReaderGain(int32_t sample, int32_t multiplier) {
    const int64_t v = (static_cast<int64_t>(sample) * multiplier) >> 9;
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// ApplyReaderGain over a buffer, in place.
void ApplyReaderGain(int32_t* samples, size_t count, int32_t multiplier);

}  // namespace sonitor
