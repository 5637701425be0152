#include "formats/raw/GsmFile.h"

#include <gsm.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "formats/raw/RawCodings.h"
#include "formats/raw/RawIo.h"

// The codec's pre-emphasis, offset compensation and de-emphasis are the ones
// inside gsm_encode/gsm_decode: the library offers no way to run its core
// without them, and adding our own on top would filter twice. So the codec
// sees 16-bit samples ((x + 8) >> 4), and decoded 16-bit samples, clipped by
// the library, come back times 16 with the 16-bit full scale.
namespace sonitor {

namespace {

constexpr int kFramesPerChunk = kMaxTransferFrames / kGsmFrameSamples + 1;

// Owns a libgsm coder state.
class GsmHandle {
public:
    GsmHandle() : g_(gsm_create()) {}
    ~GsmHandle() {
        if (g_) gsm_destroy(g_);
    }
    GsmHandle(const GsmHandle&) = delete;
    GsmHandle& operator=(const GsmHandle&) = delete;

    gsm Get() const { return g_; }
    // A fresh state, as at the start of a file.
    void Reset() {
        if (g_) gsm_destroy(g_);
        g_ = gsm_create();
    }

private:
    gsm g_;
};

// The first nibble of a frame is a signature that carries no sound. The
// library refuses frames without it; we do not check it, so it is put back.
void DecodeFrame(const GsmHandle& coder, const uint8_t* bytes, int32_t* out) {
    gsm_byte frame[kGsmFrameBytes];
    std::memcpy(frame, bytes, kGsmFrameBytes);
    frame[0] = static_cast<gsm_byte>((frame[0] & 0x0F) | (GSM_MAGIC << 4));
    gsm_signal pcm[kGsmFrameSamples];
    gsm_decode(coder.Get(), frame, pcm);
    for (int i = 0; i < kGsmFrameSamples; ++i)
        out[i] = pcm[i] * 16;
}

class GsmSource final : public AudioSource {
public:
    explicit GsmSource(UniqueFd file) : AudioSource(kGsmSampleRate, kFullScale16, 1), file_(std::move(file)) {
        length_ = rawio::ClampFrames(rawio::SizeOf(file_.Get()) / kGsmFrameBytes * kGsmFrameSamples);
        if (!coder_.Get()) SetStatus(kSourceUnusable);
    }

    void Read(int32_t* buffer, int32_t frames) override {
        if (frames <= 0) return;
        const int64_t start = position_;
        position_ += frames;
        std::memset(buffer, 0, static_cast<size_t>(frames) * sizeof(int32_t));
        if (!coder_.Get()) return;
        const int64_t first = std::max<int64_t>(start, 0);
        const int64_t last = std::min<int64_t>(start + frames, length_);
        if (first >= last) return;
        if (next_ != first) Restart(first);
        int32_t* out = buffer + (first - start);
        int64_t count = last - first;

        // What is left of the frame in the buffer first.
        const int64_t fromBuffer = std::min<int64_t>(count, kGsmFrameSamples - index_);
        std::copy_n(frame_.data() + index_, fromBuffer, out);
        index_ += static_cast<int>(fromBuffer);
        out += fromBuffer;
        count -= fromBuffer;
        next_ += fromBuffer;

        // Whole frames straight into the caller's buffer.
        while (count >= kGsmFrameSamples) {
            const int64_t whole = std::min<int64_t>(count / kGsmFrameSamples, kFramesPerChunk);
            const int64_t got = ReadFrames(whole);
            for (int64_t i = 0; i < got; ++i) {
                DecodeFrame(coder_, bytes_.data() + i * kGsmFrameBytes, out);
                out += kGsmFrameSamples;
            }
            count -= got * kGsmFrameSamples;
            next_ += got * kGsmFrameSamples;
            if (got < whole) return;  // the file was cut short: the rest stays silent
        }

        // One more frame into the buffer for a partial remainder.
        if (count > 0) {
            if (ReadFrames(1) != 1) return;
            DecodeFrame(coder_, bytes_.data(), frame_.data());
            std::copy_n(frame_.data(), count, out);
            index_ = static_cast<int>(count);
            next_ += count;
        }
    }

    int32_t Position() const override {
        return static_cast<int32_t>(std::clamp<int64_t>(position_, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    }
    int32_t Length() const override { return length_; }

    void Seek(int32_t position) override {
        position_ = position;
        Restart(position);
    }

private:
    // Places the decoder, fresh, at sample f: the frame holding f is
    // decoded into the buffer and reading continues inside it.
    void Restart(int64_t f) {
        coder_.Reset();
        index_ = kGsmFrameSamples;
        if (f <= 0) {
            fileOffset_ = 0;
            next_ = 0;
            return;
        }
        if (f >= length_) {
            fileOffset_ = static_cast<int64_t>(length_ / kGsmFrameSamples) * kGsmFrameBytes;
            next_ = length_;
            return;
        }
        fileOffset_ = f / kGsmFrameSamples * kGsmFrameBytes;
        next_ = f;
        if (!coder_.Get() || ReadFrames(1) != 1) {
            frame_.fill(0);
        } else {
            DecodeFrame(coder_, bytes_.data(), frame_.data());
        }
        index_ = static_cast<int>(f % kGsmFrameSamples);
    }

    // Reads up to n whole frames into bytes_ at the file offset and
    // advances it; returns the frames read.
    int64_t ReadFrames(int64_t n) {
        const int64_t got =
            ReadAt(file_.Get(), bytes_.data(), static_cast<size_t>(n * kGsmFrameBytes), fileOffset_);
        const int64_t whole = got > 0 ? got / kGsmFrameBytes : 0;
        fileOffset_ += whole * kGsmFrameBytes;
        return whole;
    }

    UniqueFd file_;
    GsmHandle coder_;
    std::array<int32_t, kGsmFrameSamples> frame_{};
    int index_ = kGsmFrameSamples;  // next unread sample of frame_; 160 = empty
    int64_t position_ = 0;
    int64_t next_ = 0;  // the sample the decoder delivers next
    int64_t fileOffset_ = 0;
    int32_t length_ = 0;
    std::array<uint8_t, static_cast<size_t>(kFramesPerChunk) * kGsmFrameBytes> bytes_{};
};

class GsmSink final : public AudioSink {
public:
    explicit GsmSink(const std::string& path) : AudioSink(kGsmSampleRate, 1) {
        if (!coder_.Get()) {
            SetFailed();
            return;
        }
        file_ = rawio::CreateForWriting(path, true);
        if (!file_) SetFailed();
    }
    ~GsmSink() override { Close(); }

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override {
        if (!file_ || Failed()) return;
        int out = 0;
        for (int32_t i = 0; i < frames; ++i) {
            pcm_[static_cast<size_t>(fill_++)] = InternalTo16(buffer[i]);
            if (fill_ < kGsmFrameSamples) continue;
            gsm_encode(coder_.Get(), pcm_.data(), bytes_.data() + out * kGsmFrameBytes);
            fill_ = 0;
            if (++out == kFramesPerChunk && !Flush(out)) return;
        }
        Flush(out);
    }

    void TruncateTo(int32_t frames) override {
        if (!file_ || Failed()) return;
        const int64_t flushedSamples = framesInFile_ * kGsmFrameSamples;
        if (frames >= flushedSamples) {
            // The cut lies in the samples not yet encoded.
            fill_ = std::min<int>(fill_, static_cast<int>(frames - flushedSamples));
            return;
        }
        // Frames already encoded cannot be taken apart: keep the whole ones
        // before the cut and put the decoded start of the cut frame back in
        // the buffer. The encoder starts afresh from there.
        const int64_t keep = frames / kGsmFrameSamples;
        const int partial = static_cast<int>(frames % kGsmFrameSamples);
        if (partial > 0) {
            GsmHandle decoder;
            std::array<int32_t, kGsmFrameSamples> decoded{};
            for (int64_t i = 0; i <= keep; ++i) {
                if (!decoder.Get() || ReadAt(file_.Get(), bytes_.data(), kGsmFrameBytes,
                                             i * kGsmFrameBytes) != kGsmFrameBytes) {
                    SetFailed();
                    return;
                }
                DecodeFrame(decoder, bytes_.data(), decoded.data());
            }
            for (int i = 0; i < partial; ++i)
                pcm_[static_cast<size_t>(i)] = InternalTo16(decoded[i]);
        }
        fill_ = partial;
        framesInFile_ = keep;
        coder_.Reset();
        if (!coder_.Get() || ::ftruncate(file_.Get(), static_cast<off_t>(keep * kGsmFrameBytes)) != 0) {
            SetFailed();
        }
    }

    bool Finish() override {
        if (!file_) return !Failed();
        if (fill_ > 0 && !Failed()) {
            std::fill(pcm_.begin() + fill_, pcm_.end(), 0);
            gsm_encode(coder_.Get(), pcm_.data(), bytes_.data());
            fill_ = 0;
            int one = 1;
            Flush(one);
        }
        return rawio::CloseChecked(file_) && !Failed();
    }

private:
    bool Flush(int& count) {
        if (count == 0) return true;
        const size_t size = static_cast<size_t>(count) * kGsmFrameBytes;
        count = 0;
        if (!rawio::WriteAllAt(file_.Get(), bytes_.data(), size, framesInFile_ * kGsmFrameBytes)) {
            SetFailed();
            return false;
        }
        framesInFile_ += static_cast<int64_t>(size / kGsmFrameBytes);
        return true;
    }

    UniqueFd file_;
    GsmHandle coder_;
    std::array<gsm_signal, kGsmFrameSamples> pcm_{};
    int fill_ = 0;
    int64_t framesInFile_ = 0;
    std::array<uint8_t, static_cast<size_t>(kFramesPerChunk) * kGsmFrameBytes> bytes_{};
};

}  // namespace

Ref<AudioSource> OpenGsmSource(const std::string& path) {
    UniqueFd file = rawio::OpenForReading(path);
    if (!file) return MakeNullSource(kSourceCannotOpen);
    return MakeRef<GsmSource>(std::move(file));
}

Ref<AudioSink> CreateGsmSink(const std::string& path) {
    return MakeRef<GsmSink>(path);
}

}  // namespace sonitor
