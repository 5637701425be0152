#pragma once

#include <cstdint>
#include <vector>

#include "document/WorkingFileTable.h"

namespace sonitor {

// Gain of a segment: signed 8.24 fixed point.
inline constexpr int32_t kUnityGain = 0x1000000;
inline constexpr int32_t kMaxGain = 0x7FFFFFFF;

// One piece of a clip: a stretch of a working file, or of silence, with its
// own gain.
struct ClipSegment {
    uint16_t fileId = kSilenceFileId;  // kSilenceFileId: silence, no file
    int32_t frames = 0;
    int32_t gain = kUnityGain;
    int32_t firstFrame = 0;  // frame of the working file at which the segment begins

    bool IsSilence() const { return fileId == kSilenceFileId; }
    friend bool operator==(const ClipSegment&, const ClipSegment&) = default;
};

// The sound of a document: an ordered list of segments over immutable
// working files. A value type: copying copies the list and adds a reference
// to every working file it names; destruction releases them.
//
// Segments always have at least one frame, and the total length never
// exceeds 2^31 - 1 frames: operations that would pass it refuse (false).
class AudioClip {
public:
    AudioClip() = default;
    AudioClip(uint32_t sampleRate, uint8_t channels) : sampleRate_(sampleRate), channels_(channels) {}
    AudioClip(const AudioClip& o);
    AudioClip(AudioClip&& o) noexcept;
    AudioClip& operator=(const AudioClip& o);
    AudioClip& operator=(AudioClip&& o) noexcept;
    ~AudioClip();

    uint32_t SampleRate() const { return sampleRate_; }
    uint8_t Channels() const { return channels_; }
    void SetFormat(uint32_t sampleRate, uint8_t channels) {
        sampleRate_ = sampleRate;
        channels_ = channels;
    }
    const std::vector<ClipSegment>& Segments() const { return segments_; }
    int32_t Length() const { return length_; }
    bool Empty() const { return segments_.empty(); }

    // Takes over a segment whose reference the caller already holds (the
    // clip writer hands over its file this way). False, and the reference
    // released, when the clip would pass 2^31 - 1 frames.
    bool AppendOwnedSegment(const ClipSegment& segment);

private:
    friend struct ClipAccess;
    uint32_t sampleRate_ = 44100;
    uint8_t channels_ = 1;
    int32_t length_ = 0;
    std::vector<ClipSegment> segments_;
};

// Clip operations. Positions are frames; to insert at a position means that
// the inserted material begins there.

int32_t ClipLength(const AudioClip& clip);
// Drops all segments, releasing their files.
void ClipClear(AudioClip& clip);
// dest becomes rate, channels and a copy of the segment list of src.
void ClipCopy(AudioClip& dest, const AudioClip& src);
// Removes [start, end); start below 0 counts as 0; nothing happens when
// start > end or end < 0.
void ClipDeleteRange(AudioClip& clip, int32_t start, int32_t end);
// ClipDeleteRange(clip, 0, n) when n > 0.
void ClipTrimStart(AudioClip& clip, int32_t n);
// ClipDeleteRange(clip, from, length).
void ClipTrimEnd(AudioClip& clip, int32_t from);
// Keeps only [start, end).
void ClipCrop(AudioClip& clip, int32_t start, int32_t end);
// dest becomes exactly end - start frames: [start, end) of src with silence
// where the range lies before 0 or past the end. Nothing when start > end.
bool ClipExtract(AudioClip& dest, const AudioClip& src, int32_t start, int32_t end);
// ClipExtract, then ClipDeleteRange(src, start, end).
bool ClipCut(AudioClip& dest, AudioClip& src, int32_t start, int32_t end);
// Inserts a copy of other at position. Past the end, silence fills the gap
// first; before 0, other begins -position frames before the clip, with
// silence between.
bool ClipInsert(AudioClip& clip, int32_t position, const AudioClip& other);
// Inserts count frames of silence at position; before 0 only the part from
// 0 on is inserted; past the end the silence is lengthened by the gap.
bool ClipInsertSilence(AudioClip& clip, int32_t count, int32_t position);
// ClipDeleteRange(clip, start, end), then ClipInsert(clip, start, other).
bool ClipReplaceRange(AudioClip& clip, int32_t start, int32_t end, const AudioClip& other);
// Inserts [start, end) `times` times at start, so that the range then occurs
// times + 1 times in a row.
bool ClipRepeat(AudioClip& clip, int32_t start, int32_t end, int32_t times);
// Multiplies the gain of every segment in [start, end) by percent / 100;
// nothing when percent is 100 or start > end.
void ClipScaleRange(AudioClip& clip, int32_t start, int32_t end, int32_t percent);

// The gain that ClipScaleRange gives a segment gain: at or above
// 0x7FFFFFFF / percent * 100 (computed in 64 bits; 0x7FFFFFFF when percent
// is not positive) it becomes 0x7FFFFFFF, else gain / 100 * percent.
int32_t ScaledGain(int32_t gain, int32_t percent);

}  // namespace sonitor
