#include "formats/WavSink.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "formats/Endian.h"
#include "formats/WavCodec.h"
#include "foundation/AudioSource.h"
#include "foundation/FileUtil.h"

namespace sonitor {

std::vector<uint8_t> MakeWavHeader(const WaveFormat& format, uint64_t dataBytes) {
    const std::vector<uint8_t> record = format.Serialize();
    const size_t fmtBytes = record.size() + (record.size() & 1);
    std::vector<uint8_t> h(12 + 8 + fmtBytes + 8, 0);
    const uint64_t riff = dataBytes == kWavSizeOpen ? kWavSizeOpen : dataBytes + h.size() - 8;
    std::memcpy(&h[0], "RIFF", 4);
    StoreLE32(&h[4], static_cast<uint32_t>(std::min<uint64_t>(riff, 0xFFFFFFFFu)));
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    StoreLE32(&h[16], static_cast<uint32_t>(record.size()));
    std::memcpy(&h[20], record.data(), record.size());
    const size_t data = 20 + fmtBytes;
    std::memcpy(&h[data], "data", 4);
    StoreLE32(&h[data + 4], static_cast<uint32_t>(std::min<uint64_t>(dataBytes, 0xFFFFFFFFu)));
    return h;
}

namespace {

bool WriteHeaderAt0(int fd, const WaveFormat& format, uint64_t dataBytes) {
    const std::vector<uint8_t> h = MakeWavHeader(format, dataBytes);
    return ::pwrite(fd, h.data(), h.size(), 0) == static_cast<ssize_t>(h.size());
}

// Bytes of sample data in the file: what lies after the header.
uint64_t DataBytesOnDisk(int fd, size_t headerBytes) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    return end > static_cast<off_t>(headerBytes) ? static_cast<uint64_t>(end) - headerBytes : 0;
}

int32_t Saturate(int64_t v, int32_t lo, int32_t hi) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, lo, hi));
}

// Internal sample to 16 bits: (x + 8) >> 4, saturated.
int16_t To16(int32_t x) {
    return static_cast<int16_t>(Saturate((int64_t{x} + 8) >> 4, -32768, 32767));
}

// ---------------------------------------------------------------------------

class WavPcmSink final : public AudioSink {
public:
    WavPcmSink(const std::string& path, int32_t sampleRate, int bits, int channels)
        : AudioSink(sampleRate, channels) {
        bytesPerSample_ = bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 24 ? 3 : 4;
        bytesPerFrame_ = bytesPerSample_ * Channels();
        format_ =
            MakePcmWaveFormat(static_cast<uint32_t>(sampleRate), static_cast<uint16_t>(8 * bytesPerSample_),
                              static_cast<uint16_t>(Channels()));
        if (bits < 1 || sampleRate <= 0) SetFailed();
        if (Failed()) return;
        fd_ = OpenFileWithRetry(path, FileAccess::ReadWrite, FileShare::ReadWrite,
                                FileDisposition::OpenAlways, 0);
        headerBytes_ = MakeWavHeader(format_, 0).size();
        if (!fd_ || !WriteHeaderAt0(fd_.Get(), format_, kWavSizeOpen) ||
            ::ftruncate(fd_.Get(), static_cast<off_t>(headerBytes_)) != 0 ||
            ::lseek(fd_.Get(), static_cast<off_t>(headerBytes_), SEEK_SET) < 0) {
            fd_.Reset();
            SetFailed();
            return;
        }
        raw_.resize(static_cast<size_t>(kMaxTransferFrames) * bytesPerFrame_);
    }

    ~WavPcmSink() override { Close(); }

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override {
        if (!fd_ || Failed()) return;
        while (frames > 0) {
            const int32_t piece = std::min(frames, kMaxTransferFrames);
            const size_t samples = static_cast<size_t>(piece) * Channels();
            Pack(buffer, samples);
            const size_t bytes = samples * bytesPerSample_;
            if (!WriteAll(fd_.Get(), raw_.data(), bytes)) {
                SetFailed();
                dataBytes_ = DataBytesOnDisk(fd_.Get(), headerBytes_);
                return;
            }
            dataBytes_ += bytes;
            buffer += samples;
            frames -= piece;
        }
    }

    void TruncateTo(int32_t frames) override {
        if (!fd_) return;
        const uint64_t bytes = std::min<uint64_t>(uint64_t(frames) * bytesPerFrame_, dataBytes_);
        const off_t end = static_cast<off_t>(headerBytes_ + bytes);
        if (::ftruncate(fd_.Get(), end) != 0 || ::lseek(fd_.Get(), end, SEEK_SET) != end) {
            SetFailed();
            return;
        }
        dataBytes_ = bytes;
    }

    bool Finish() override {
        if (!fd_) return false;
        const bool ok = WriteHeaderAt0(fd_.Get(), format_, dataBytes_);
        fd_.Reset();
        return ok;
    }

private:
    void Pack(const int32_t* in, size_t samples) {
        uint8_t* out = raw_.data();
        switch (bytesPerSample_) {
            case 1:
                // Near positive full scale the rounding reaches 256, which
                // would wrap to the most negative code.
                for (size_t i = 0; i < samples; ++i)
                    out[i] = static_cast<uint8_t>(Saturate(((int64_t{in[i]} + 2048) >> 12) + 128, 0, 255));
                break;
            case 2:
                for (size_t i = 0; i < samples; ++i)
                    StoreLE16(out + 2 * i, static_cast<uint16_t>(To16(in[i])));
                break;
            case 3:
                for (size_t i = 0; i < samples; ++i)
                    StoreLE24(out + 3 * i,
                              static_cast<uint32_t>(Saturate(int64_t{in[i]} * 16, -8388608, 8388607)));
                break;
            default:
                for (size_t i = 0; i < samples; ++i)
                    StoreLE32(out + 4 * i,
                              static_cast<uint32_t>(Saturate(int64_t{in[i]} * 4096, INT32_MIN, INT32_MAX)));
                break;
        }
    }

    UniqueFd fd_;
    WaveFormat format_;
    uint32_t bytesPerSample_ = 2;
    uint32_t bytesPerFrame_ = 2;
    size_t headerBytes_ = 0;
    uint64_t dataBytes_ = 0;
    std::vector<uint8_t> raw_;
};

// ---------------------------------------------------------------------------

class WavCodecSink final : public AudioSink {
public:
    WavCodecSink(const std::string& path, const WaveFormat& format)
        : AudioSink(static_cast<int32_t>(format.samplesPerSec), format.channels), format_(format) {
        if (Failed()) return;
        // The codec first, so that a format we cannot write leaves an
        // existing file untouched.
        if (OpenCodecStream(Pcm16FormatFor(format_), format_, &codec_) != CodecStatus::kOk || !codec_) {
            codec_.reset();
            SetFailed();
            return;
        }
        blockBytes_ = codec_->CompressedBlockBytes();
        blockFrames_ = codec_->CompressedBlockFrames();
        src_.resize(static_cast<size_t>(kMaxTransferFrames) * FrameBytes());
        const uint32_t dstBytes = codec_->DestinationBytesFor(static_cast<uint32_t>(src_.size()));
        if (dstBytes == 0) {
            SetFailed();
            return;
        }
        dst_.resize(dstBytes);
        fd_ = OpenFileWithRetry(path, FileAccess::Write, FileShare::Read, FileDisposition::CreateAlways, 0);
        headerBytes_ = MakeWavHeader(format_, 0).size();
        if (!fd_ || !WriteAll(fd_.Get(), MakeWavHeader(format_, kWavSizeOpen).data(), headerBytes_)) {
            fd_.Reset();
            SetFailed();
        }
    }

    ~WavCodecSink() override { Close(); }

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override {
        if (!fd_ || Failed()) return;
        const uint32_t frameBytes = FrameBytes();
        const uint32_t capacity = static_cast<uint32_t>(src_.size());
        size_t samples = static_cast<size_t>(frames) * Channels();
        while (samples > 0) {
            const size_t k = std::min<size_t>(samples, (capacity - srcLength_) / 2);
            for (size_t i = 0; i < k; ++i)
                StoreLE16(&src_[srcLength_ + 2 * i], static_cast<uint16_t>(To16(buffer[i])));
            srcLength_ += static_cast<uint32_t>(2 * k);
            buffer += k;
            samples -= k;
            CodecBuffers b;
            b.source = src_.data();
            b.sourceLength = srcLength_ / frameBytes * frameBytes;
            b.destination = dst_.data();
            b.destinationLength = static_cast<uint32_t>(dst_.size());
            if (codec_->Convert(b, kCodecBlockAlign) != CodecStatus::kOk) {
                SetFailed();
                return;
            }
            if (b.sourceUsed == 0 && b.destinationUsed == 0 && srcLength_ == capacity) {
                // The codec takes nothing from a full buffer; everything
                // after this point would be lost.
                SetFailed();
                return;
            }
            if (!Emit(b.destinationUsed)) return;
            std::memmove(src_.data(), src_.data() + b.sourceUsed, srcLength_ - b.sourceUsed);
            srcLength_ -= b.sourceUsed;
        }
    }

    // Compressed data can only be cut at block boundaries: the blocks before
    // the cut stay, the PCM after them is gone and the coder starts afresh.
    void TruncateTo(int32_t frames) override {
        if (!fd_ || blockFrames_ == 0) return;
        const int64_t fileFrames = static_cast<int64_t>(compressedBytes_ / blockBytes_) * blockFrames_;
        if (frames >= fileFrames) {
            const uint64_t keep = static_cast<uint64_t>(frames - fileFrames) * FrameBytes();
            srcLength_ = static_cast<uint32_t>(std::min<uint64_t>(srcLength_, keep));
            return;
        }
        const uint64_t bytes = uint64_t(frames / blockFrames_) * blockBytes_;
        const off_t end = static_cast<off_t>(headerBytes_ + bytes);
        if (::ftruncate(fd_.Get(), end) != 0 || ::lseek(fd_.Get(), end, SEEK_SET) != end) {
            SetFailed();
            return;
        }
        compressedBytes_ = bytes;
        srcLength_ = 0;
        CodecBuffers reset;
        codec_->Convert(reset, kCodecStart);
    }

    bool Finish() override {
        if (!fd_) return false;
        if (!Failed()) {
            // Flush the partial last block and anything the codec holds.
            uint32_t offset = 0;
            for (int round = 0; round < 1024; ++round) {
                CodecBuffers b;
                b.source = src_.data() + offset;
                b.sourceLength = srcLength_ / FrameBytes() * FrameBytes() - offset;
                b.destination = dst_.data();
                b.destinationLength = static_cast<uint32_t>(dst_.size());
                if (codec_->Convert(b, kCodecEnd) != CodecStatus::kOk) SetFailed();
                offset += b.sourceUsed;
                if (b.destinationUsed == 0 || !Emit(b.destinationUsed)) break;
            }
            srcLength_ = 0;
        }
        const bool ok = WriteHeaderAt0(fd_.Get(), format_, compressedBytes_);
        fd_.Reset();
        return ok;
    }

private:
    uint32_t FrameBytes() const { return 2u * static_cast<uint32_t>(Channels()); }

    bool Emit(uint32_t bytes) {
        if (bytes == 0) return true;
        if (!WriteAll(fd_.Get(), dst_.data(), bytes)) {
            SetFailed();
            compressedBytes_ = DataBytesOnDisk(fd_.Get(), headerBytes_);
            return false;
        }
        compressedBytes_ += bytes;
        return true;
    }

    UniqueFd fd_;
    WaveFormat format_;
    std::unique_ptr<CodecStream> codec_;
    uint32_t blockBytes_ = 0;
    uint32_t blockFrames_ = 0;
    size_t headerBytes_ = 0;
    std::vector<uint8_t> src_;
    uint32_t srcLength_ = 0;
    std::vector<uint8_t> dst_;
    uint64_t compressedBytes_ = 0;
};

}  // namespace

Ref<AudioSink> CreatePcmWavSink(const std::string& path, int32_t sampleRate, int bits, int channels) {
    return MakeRef<WavPcmSink>(path, sampleRate, bits, channels);
}

Ref<AudioSink> CreateWavSink(const std::string& path, const WaveFormat& format) {
    if (EffectiveWaveTag(format) == kWaveTagPcm) {
        return CreatePcmWavSink(path, static_cast<int32_t>(format.samplesPerSec), format.bitsPerSample,
                                format.channels);
    }
    return MakeRef<WavCodecSink>(path, format);
}

}  // namespace sonitor
