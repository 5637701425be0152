#include "formats/raw/RawSampleSink.h"

#include <unistd.h>

#include <algorithm>

#include "formats/raw/RawCodings.h"
#include "formats/raw/RawIo.h"
#include "foundation/AudioSource.h"

namespace sonitor {

RawSampleSink::RawSampleSink(const std::string& path, int32_t coding, int32_t sampleRate, int channels,
                             RawHeaderWriter header)
    : AudioSink(sampleRate, channels),
      coding_(coding),
      bytesPerFrame_(RawBytesPerSample(coding) * Channels()),
      header_(std::move(header)) {
    if (Failed() || bytesPerFrame_ <= 0) {
        SetFailed();
        return;
    }
    file_ = rawio::CreateForWriting(path);
    if (!file_) {
        SetFailed();
        return;
    }
    const std::string head = Header(false);
    dataStart_ = static_cast<int64_t>(head.size());
    if (!head.empty() && !rawio::WriteAllAt(file_.Get(), head.data(), head.size(), 0)) SetFailed();
    raw_.resize(static_cast<size_t>(kMaxTransferFrames) * static_cast<size_t>(bytesPerFrame_));
}

RawSampleSink::~RawSampleSink() {
    Close();
}

std::string RawSampleSink::Header(bool final) const {
    if (!header_) return {};
    RawHeaderInfo info;
    info.sampleRate = SampleRate();
    info.channels = Channels();
    info.frames = FramesWritten();
    info.dataBytes = static_cast<int64_t>(FramesWritten()) * bytesPerFrame_;
    info.final = final;
    return header_(info);
}

void RawSampleSink::WriteFrames(const int32_t* buffer, int32_t frames) {
    // After a failure the rest is not written: a file with a hole in the
    // middle would be worse than one cut short.
    if (!file_ || Failed()) return;
    const int channels = Channels();
    int64_t offset = dataStart_ + static_cast<int64_t>(FramesWritten()) * bytesPerFrame_;
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min(frames - done, kMaxTransferFrames);
        EncodeRawSamples(coding_, buffer + static_cast<size_t>(done) * channels,
                         static_cast<size_t>(n) * channels, raw_.data());
        const size_t bytes = static_cast<size_t>(n) * bytesPerFrame_;
        if (!rawio::WriteAllAt(file_.Get(), raw_.data(), bytes, offset)) {
            SetFailed();
            return;
        }
        offset += static_cast<int64_t>(bytes);
        done += n;
    }
}

void RawSampleSink::TruncateTo(int32_t frames) {
    if (!file_) return;
    if (::ftruncate(file_.Get(),
                    static_cast<off_t>(dataStart_ + static_cast<int64_t>(frames) * bytesPerFrame_)) != 0) {
        SetFailed();
    }
}

bool RawSampleSink::Finish() {
    if (!file_) return !Failed();
    bool ok = true;
    if (header_) {
        const std::string head = Header(true);
        ok = rawio::WriteAllAt(file_.Get(), head.data(), head.size(), 0);
    }
    ok = rawio::CloseChecked(file_) && ok;
    return ok && !Failed();
}

}  // namespace sonitor
