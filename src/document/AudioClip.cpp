#include "document/AudioClip.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace sonitor {

namespace {

constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();

using Segments = std::vector<ClipSegment>;

ClipSegment Silence(int64_t frames) {
    return ClipSegment{kSilenceFileId, static_cast<int32_t>(frames), kUnityGain, 0};
}

void AddRefsOf(const ClipSegment* first, size_t count) {
    if (count > 0) WorkingFileTable::Instance().AddRefs(&first->fileId, count, sizeof(ClipSegment));
}

void ReleasesOf(const ClipSegment* first, size_t count) {
    if (count > 0) WorkingFileTable::Instance().Releases(&first->fileId, count, sizeof(ClipSegment));
}

// Length of a clip of `length` frames after `count` frames are inserted at
// `position` by the rules of ClipInsert.
int64_t LengthAfterInsert(int64_t length, int64_t position, int64_t count) {
    if (position < 0) return count - position + length;
    return std::max(position, length) + count;
}

// Frames ClipDeleteRange(start, end) removes from a clip of `length` frames.
int64_t FramesDeleted(int64_t length, int64_t start, int64_t end) {
    if (start > end || end < 0) return 0;
    return std::max<int64_t>(0, std::min(end, length) - std::max<int64_t>(start, 0));
}

int32_t ClampToFrames(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), kMaxFrames));
}

}  // namespace

// The operations below edit the segment vector directly; the clip's length
// and references are kept right by each of them.
struct ClipAccess {
    static Segments& Segs(AudioClip& clip) { return clip.segments_; }
    static void SetLength(AudioClip& clip, int64_t length) { clip.length_ = static_cast<int32_t>(length); }

    // Makes `position` (0..length) a segment boundary and returns the index
    // of the first segment at or after it. A split-off tail is a new
    // reference to the same file.
    static size_t SplitAt(AudioClip& clip, int32_t position) {
        Segments& segs = clip.segments_;
        int64_t p = 0;
        size_t i = 0;
        for (; i < segs.size(); ++i) {
            if (position < p + segs[i].frames) break;
            p += segs[i].frames;
        }
        if (i == segs.size() || position == p) return i;
        const int32_t head = static_cast<int32_t>(position - p);
        ClipSegment tail = segs[i];
        if (!tail.IsSilence()) tail.firstFrame += head;
        tail.frames -= head;
        segs[i].frames = head;
        segs.insert(segs.begin() + static_cast<ptrdiff_t>(i) + 1, tail);
        WorkingFileTable::Instance().AddRef(tail.fileId);
        return i + 1;
    }

    // Drops segments [first, last), releasing their files.
    static void Erase(AudioClip& clip, size_t first, size_t last) {
        Segments& segs = clip.segments_;
        ReleasesOf(segs.data() + first, last - first);
        segs.erase(segs.begin() + static_cast<ptrdiff_t>(first), segs.begin() + static_cast<ptrdiff_t>(last));
    }

    // Links in segments whose references are already held, at `position`
    // by the rules of ClipInsert; for a position before 0 the block must
    // already end with its -position frames of silence.
    static void Place(AudioClip& clip, int32_t position, const Segments& block, int64_t newLength) {
        Segments& segs = clip.segments_;
        if (position < 0) {
            segs.insert(segs.begin(), block.begin(), block.end());
        } else if (position >= clip.length_) {
            if (position > clip.length_) segs.push_back(Silence(position - int64_t{clip.length_}));
            segs.insert(segs.end(), block.begin(), block.end());
        } else {
            const size_t at = SplitAt(clip, position);
            segs.insert(segs.begin() + static_cast<ptrdiff_t>(at), block.begin(), block.end());
        }
        SetLength(clip, newLength);
    }

    // The segments covering [start, end) of src (0 <= start < end <= length),
    // with references added.
    static void CopyRange(const AudioClip& src, int32_t start, int32_t end, Segments& out) {
        const size_t first = out.size();
        int64_t p = 0;
        for (const ClipSegment& seg : src.segments_) {
            const int64_t segEnd = p + seg.frames;
            if (segEnd > start) {
                if (p >= end) break;
                ClipSegment piece = seg;
                const int64_t from = std::max<int64_t>(start, p);
                const int64_t to = std::min<int64_t>(end, segEnd);
                if (!piece.IsSilence()) piece.firstFrame += static_cast<int32_t>(from - p);
                piece.frames = static_cast<int32_t>(to - from);
                out.push_back(piece);
            }
            p = segEnd;
        }
        AddRefsOf(out.data() + first, out.size() - first);
    }

    static void ReplaceSegments(AudioClip& clip, Segments&& segs, int64_t length) {
        ReleasesOf(clip.segments_.data(), clip.segments_.size());
        clip.segments_ = std::move(segs);
        SetLength(clip, length);
    }
};

// ---------------------------------------------------------------------------
// Value semantics

AudioClip::AudioClip(const AudioClip& o)
    : sampleRate_(o.sampleRate_), channels_(o.channels_), length_(o.length_), segments_(o.segments_) {
    AddRefsOf(segments_.data(), segments_.size());
}

AudioClip::AudioClip(AudioClip&& o) noexcept
    : sampleRate_(o.sampleRate_),
      channels_(o.channels_),
      length_(std::exchange(o.length_, 0)),
      segments_(std::move(o.segments_)) {
    o.segments_.clear();
}

AudioClip& AudioClip::operator=(const AudioClip& o) {
    if (this != &o) *this = AudioClip(o);
    return *this;
}

AudioClip& AudioClip::operator=(AudioClip&& o) noexcept {
    if (this != &o) {
        ReleasesOf(segments_.data(), segments_.size());
        sampleRate_ = o.sampleRate_;
        channels_ = o.channels_;
        length_ = std::exchange(o.length_, 0);
        segments_ = std::move(o.segments_);
        o.segments_.clear();
    }
    return *this;
}

AudioClip::~AudioClip() {
    ReleasesOf(segments_.data(), segments_.size());
}

bool AudioClip::AppendOwnedSegment(const ClipSegment& segment) {
    if (segment.frames <= 0 || length_ + int64_t{segment.frames} > kMaxFrames) {
        WorkingFileTable::Instance().Release(segment.fileId);
        return segment.frames <= 0;
    }
    segments_.push_back(segment);
    length_ += segment.frames;
    return true;
}

// ---------------------------------------------------------------------------
// Operations

int32_t ClipLength(const AudioClip& clip) {
    return clip.Length();
}

void ClipClear(AudioClip& clip) {
    ClipAccess::ReplaceSegments(clip, {}, 0);
}

void ClipCopy(AudioClip& dest, const AudioClip& src) {
    dest = src;
}

void ClipDeleteRange(AudioClip& clip, int32_t start, int32_t end) {
    if (start > end || end < 0) return;
    start = std::max(start, 0);
    end = std::min(end, clip.Length());
    if (start >= end) return;
    const size_t first = ClipAccess::SplitAt(clip, start);
    const size_t last = ClipAccess::SplitAt(clip, end);
    ClipAccess::Erase(clip, first, last);
    ClipAccess::SetLength(clip, clip.Length() - (end - start));
}

void ClipTrimStart(AudioClip& clip, int32_t n) {
    if (n > 0) ClipDeleteRange(clip, 0, n);
}

void ClipTrimEnd(AudioClip& clip, int32_t from) {
    ClipDeleteRange(clip, from, clip.Length());
}

void ClipCrop(AudioClip& clip, int32_t start, int32_t end) {
    if (start > 0) ClipDeleteRange(clip, 0, start);
    ClipDeleteRange(clip, ClampToFrames(int64_t{end} - start), clip.Length());
}

bool ClipExtract(AudioClip& dest, const AudioClip& src, int32_t start, int32_t end) {
    if (start > end) return true;
    const int64_t total = int64_t{end} - start;
    if (total > kMaxFrames) return false;
    const int64_t lead = std::max<int64_t>(0, std::min<int64_t>(end, 0) - start);
    const int32_t from = std::max(start, 0);
    const int32_t to = std::min(end, src.Length());
    Segments out;
    if (lead > 0) out.push_back(Silence(lead));
    if (from < to) ClipAccess::CopyRange(src, from, to, out);
    const int64_t trail = total - lead - std::max(0, to - from);
    if (trail > 0) out.push_back(Silence(trail));
    // src may be dest itself: its format is read before it is replaced.
    const uint32_t rate = src.SampleRate();
    const uint8_t channels = src.Channels();
    ClipAccess::ReplaceSegments(dest, std::move(out), total);
    dest.SetFormat(rate, channels);
    return true;
}

bool ClipCut(AudioClip& dest, AudioClip& src, int32_t start, int32_t end) {
    if (!ClipExtract(dest, src, start, end)) return false;
    ClipDeleteRange(src, start, end);
    return true;
}

bool ClipInsert(AudioClip& clip, int32_t position, const AudioClip& other) {
    const int64_t newLength = LengthAfterInsert(clip.Length(), position, other.Length());
    if (newLength > kMaxFrames) return false;
    // Copied before the clip changes: other may be the clip itself.
    Segments block = other.Segments();
    AddRefsOf(block.data(), block.size());
    if (position < 0) block.push_back(Silence(-int64_t{position}));
    ClipAccess::Place(clip, position, block, newLength);
    return true;
}

bool ClipInsertSilence(AudioClip& clip, int32_t count, int32_t position) {
    int64_t frames = count;
    int64_t at = position;
    if (at < 0) {
        frames += at;
        at = 0;
    }
    if (frames <= 0) return true;
    const int64_t newLength = LengthAfterInsert(clip.Length(), at, frames);
    if (newLength > kMaxFrames) return false;
    // Past the end, the gap goes into the same silence segment.
    if (at > clip.Length()) {
        frames += at - clip.Length();
        at = clip.Length();
    }
    ClipAccess::Place(clip, static_cast<int32_t>(at), {Silence(frames)}, newLength);
    return true;
}

bool ClipReplaceRange(AudioClip& clip, int32_t start, int32_t end, const AudioClip& other) {
    const int64_t remaining = clip.Length() - FramesDeleted(clip.Length(), start, end);
    if (LengthAfterInsert(remaining, start, other.Length()) > kMaxFrames) return false;
    if (&other == &clip) {
        const AudioClip copy(other);
        ClipDeleteRange(clip, start, end);
        return ClipInsert(clip, start, copy);
    }
    ClipDeleteRange(clip, start, end);
    return ClipInsert(clip, start, other);
}

bool ClipRepeat(AudioClip& clip, int32_t start, int32_t end, int32_t times) {
    if (times <= 0 || start >= end) return true;
    const int64_t piece = int64_t{end} - start;
    if (piece > kMaxFrames) return false;
    // Inserting the piece `times` times at start comes to one insertion of
    // the repeated block: before 0 each copy is followed by -start frames of
    // silence, from 0 on the copies lie back to back.
    const int64_t perCopy = start < 0 ? piece - start : piece;
    const int64_t newLength = std::max<int64_t>(clip.Length(), std::max(start, 0)) + times * perCopy;
    if (newLength > kMaxFrames) return false;
    AudioClip extract;
    ClipExtract(extract, clip, start, end);
    const Segments& one = extract.Segments();
    Segments block;
    block.reserve(static_cast<size_t>(times) * (one.size() + (start < 0)));
    for (int32_t t = 0; t < times; ++t) {
        block.insert(block.end(), one.begin(), one.end());
        if (start < 0) block.push_back(Silence(-int64_t{start}));
    }
    AddRefsOf(block.data(), block.size());
    ClipAccess::Place(clip, start, block, newLength);
    return true;
}

int32_t ScaledGain(int32_t gain, int32_t percent) {
    const int64_t limit = percent > 0 ? int64_t{kMaxGain} / percent * 100 : int64_t{kMaxGain};
    if (gain >= limit) return kMaxGain;
    const int64_t scaled = int64_t{gain / 100} * percent;
    return static_cast<int32_t>(std::clamp<int64_t>(scaled, std::numeric_limits<int32_t>::min(), kMaxGain));
}

void ClipScaleRange(AudioClip& clip, int32_t start, int32_t end, int32_t percent) {
    if (percent == 100 || start > end) return;
    // A gain change never changes the length: the part of the range outside
    // the clip has no sound to scale, and cutting it out and putting it back
    // would pad the clip with silence.
    start = std::max(start, 0);
    end = std::min(end, clip.Length());
    if (start >= end) return;
    AudioClip temp;
    ClipCut(temp, clip, start, end);
    for (ClipSegment& seg : ClipAccess::Segs(temp))
        seg.gain = ScaledGain(seg.gain, percent);
    ClipInsert(clip, start, temp);
}

}  // namespace sonitor
