#include "formats/raw/RawSampleSource.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "formats/raw/RawCodings.h"
#include "formats/raw/RawIo.h"

namespace sonitor {

RawSampleSource::RawSampleSource(UniqueFd file, int64_t dataStart, int64_t dataBytes, int32_t coding,
                                 int32_t sampleRate, int channels)
    : AudioSource(sampleRate, RawFullScale(coding), channels),
      file_(std::move(file)),
      dataStart_(std::max<int64_t>(dataStart, 0)),
      coding_(coding),
      bytesPerFrame_(RawBytesPerSample(coding) * Channels()),
      length_(-1) {
    if (bytesPerFrame_ <= 0) {
        // Keeps the arithmetic below defined; the source reads silence.
        SetStatus(kSourceUnusable);
        bytesPerFrame_ = 2;
        length_ = 0;
    } else if (dataBytes >= 0) {
        const int64_t present = std::max<int64_t>(rawio::SizeOf(file_.Get()) - dataStart_, 0);
        length_ = rawio::ClampFrames(std::min(dataBytes, present) / bytesPerFrame_);
    }
    raw_.resize(static_cast<size_t>(kMaxTransferFrames) * static_cast<size_t>(bytesPerFrame_));
}

int32_t RawSampleSource::Position() const {
    return static_cast<int32_t>(std::clamp<int64_t>(position_, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int32_t RawSampleSource::Length() const {
    if (length_ >= 0) return static_cast<int32_t>(length_);
    const int64_t size = rawio::SizeOf(file_.Get());
    return rawio::ClampFrames((size - dataStart_) / bytesPerFrame_);
}

void RawSampleSource::Read(int32_t* buffer, int32_t frames) {
    if (frames <= 0) return;
    const int channels = Channels();
    const int64_t start = position_;
    position_ += frames;
    std::memset(buffer, 0, static_cast<size_t>(frames) * channels * sizeof(int32_t));
    if (!Ok()) return;

    const int64_t first = std::max<int64_t>(start, 0);
    const int64_t last = std::min<int64_t>(start + frames, Length());
    for (int64_t f = first; f < last;) {
        const int64_t n = std::min<int64_t>(last - f, kMaxTransferFrames);
        const int64_t got = ReadAt(file_.Get(), raw_.data(), static_cast<size_t>(n * bytesPerFrame_),
                                   dataStart_ + f * bytesPerFrame_);
        // A file cut short since Length() was measured: what is missing,
        // including a partial last frame, stays silent.
        const int64_t whole = got > 0 ? got / bytesPerFrame_ : 0;
        DecodeRawSamples(coding_, raw_.data(), static_cast<size_t>(whole * channels),
                         buffer + static_cast<size_t>(f - start) * channels);
        if (whole < n) break;
        f += n;
    }
}

}  // namespace sonitor
