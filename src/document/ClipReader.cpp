#include "document/ClipReader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include <fcntl.h>

namespace sonitor {

// Working files hold little-endian samples; they are read straight into the
// caller's buffer.
static_assert(std::endian::native == std::endian::little);

namespace {

// Multipliers in (-512, 512] cannot overflow: with s = hi * 512 + lo and
// 0 <= lo < 512, (s * m) >> 9 == hi * m + ((lo * m) >> 9), all in 32 bits.
// The fixed trip count lets the compiler vectorise the loop at -O2.
constexpr size_t kGainChunk = 64;

void ScaleChunk32(int32_t* s, int32_t m) {
    for (size_t i = 0; i < kGainChunk; ++i) {
        const int32_t v = s[i];
        s[i] = (v >> 9) * m + (((v & 511) * m) >> 9);
    }
}

}  // namespace

void ApplyReaderGain(int32_t* samples, size_t count, int32_t multiplier) {
    if (multiplier <= -512 || multiplier > 512) {
        for (size_t i = 0; i < count; ++i)
            samples[i] = ApplyReaderGain(samples[i], multiplier);
        return;
    }
    size_t i = 0;
    for (; i + kGainChunk <= count; i += kGainChunk)
        ScaleChunk32(samples + i, multiplier);
    for (; i < count; ++i) {
        const int32_t v = samples[i];
        samples[i] = (v >> 9) * multiplier + (((v & 511) * multiplier) >> 9);
    }
}

ClipReader::ClipReader(const AudioClip& clip)
    : AudioSource(
          static_cast<int32_t>(std::min<uint32_t>(clip.SampleRate(), std::numeric_limits<int32_t>::max())),
          kFullScaleHeadroom, clip.Channels()),
      clip_(clip),
      length_(clip.Length()) {}

void ClipReader::EnterSegment(size_t index, int32_t offset) {
    const ClipSegment& seg = clip_.Segments()[index];
    next_ = index + 1;
    framesLeft_ = seg.frames - offset;
    multiplier_ = seg.gain >> 15;
    silent_ = seg.IsSilence();
    if (silent_) return;
    // Neighbouring segments often share a file: keep it open.
    if (seg.fileId != fileId_) {
        fileId_ = seg.fileId;
        file_.Reset(::open(WorkingFileTable::AudioPath(seg.fileId).c_str(), O_RDONLY | O_CLOEXEC));
    }
    // A file that cannot be opened reads as silence.
    silent_ = !file_.Valid();
    fileOffset_ = (int64_t{seg.firstFrame} + offset) * Channels() * int64_t{sizeof(int32_t)};
}

void ClipReader::Seek(int32_t position) {
    position_ = position;
    next_ = 0;
    framesLeft_ = 0;
    if (position <= 0) return;
    const std::vector<ClipSegment>& segs = clip_.Segments();
    int32_t rest = position;
    for (size_t i = 0; i < segs.size(); ++i) {
        if (rest < segs[i].frames) {
            EnterSegment(i, rest);
            return;
        }
        rest -= segs[i].frames;
    }
    next_ = segs.size();
}

void ClipReader::Read(int32_t* buffer, int32_t frames) {
    if (frames <= 0) return;
    const size_t channels = static_cast<size_t>(Channels());
    const size_t frameBytes = channels * sizeof(int32_t);
    int32_t done = 0;
    if (position_ < 0) {
        done = static_cast<int32_t>(std::min<int64_t>(-int64_t{position_}, frames));
        std::memset(buffer, 0, static_cast<size_t>(done) * frameBytes);
    }
    const size_t segmentCount = clip_.Segments().size();
    while (done < frames) {
        if (framesLeft_ == 0) {
            if (next_ >= segmentCount) {
                std::memset(buffer + static_cast<size_t>(done) * channels, 0,
                            static_cast<size_t>(frames - done) * frameBytes);
                break;
            }
            EnterSegment(next_, 0);
            continue;
        }
        const int32_t k = std::min(framesLeft_, frames - done);
        int32_t* out = buffer + static_cast<size_t>(done) * channels;
        const size_t bytes = static_cast<size_t>(k) * frameBytes;
        if (silent_) {
            std::memset(out, 0, bytes);
        } else {
            int64_t got = ReadAt(file_.Get(), out, bytes, fileOffset_);
            // Missing or short data reads as silence, whole samples at a time.
            got = got < 0 ? 0 : got - got % static_cast<int64_t>(sizeof(int32_t));
            if (static_cast<size_t>(got) < bytes) {
                std::memset(reinterpret_cast<char*>(out) + got, 0, bytes - static_cast<size_t>(got));
            }
            fileOffset_ += static_cast<int64_t>(bytes);
            if (multiplier_ != 512) ApplyReaderGain(out, static_cast<size_t>(k) * channels, multiplier_);
        }
        framesLeft_ -= k;
        done += k;
    }
    position_ = static_cast<int32_t>(
        std::min<int64_t>(int64_t{position_} + frames, std::numeric_limits<int32_t>::max()));
}

Ref<ClipReader> OpenClipReader(const AudioClip& clip) {
    return MakeRef<ClipReader>(clip);
}

}  // namespace sonitor
