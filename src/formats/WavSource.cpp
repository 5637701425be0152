#include "formats/WavSource.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <sys/stat.h>

#include "formats/Endian.h"
#include "formats/WavCodec.h"
#include "foundation/FileUtil.h"
#include "foundation/Numbers.h"

namespace sonitor {

namespace {

constexpr uint32_t kMinFmtBytes = 16;
constexpr uint32_t kMaxFmtBytes = 8192;
constexpr uint32_t kMaxSampleRate = 196000;
constexpr uint32_t kMaxChannels = 255;
constexpr int64_t kMaxFrames = std::numeric_limits<int32_t>::max();

bool IsId(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

bool ReadExactly(int fd, void* data, size_t size, int64_t offset) {
    return ReadAt(fd, data, size, offset) == static_cast<int64_t>(size);
}

int32_t ClampFrames(int64_t frames) {
    return static_cast<int32_t>(std::clamp<int64_t>(frames, std::numeric_limits<int32_t>::min(), kMaxFrames));
}

// ---------------------------------------------------------------------------
// Integer PCM, read directly

class WavPcmSource final : public AudioSource {
public:
    WavPcmSource(UniqueFd fd, const WavLayout& layout, uint32_t bytesPerSample)
        : AudioSource(static_cast<int32_t>(layout.format.samplesPerSec), kFullScale16,
                      layout.format.channels),
          fd_(std::move(fd)),
          dataStart_(layout.dataStart),
          bytesPerSample_(bytesPerSample),
          bytesPerFrame_(bytesPerSample * layout.format.channels),
          // The header's block align is not trusted; frames are packed.
          length_(std::min<int64_t>(layout.dataBytes / bytesPerFrame_, kMaxFrames)),
          raw_(static_cast<size_t>(kMaxTransferFrames) * bytesPerFrame_) {}

    void Read(int32_t* buffer, int32_t frames) override {
        if (frames <= 0) return;
        const int ch = Channels();
        int64_t first = position_;
        position_ += frames;
        int64_t count = frames;
        if (first < 0) {
            const int64_t silent = std::min<int64_t>(count, -first);
            ZeroFrames(buffer, silent, ch);
            buffer += silent * ch;
            count -= silent;
            first = 0;
        }
        while (count > 0) {
            const int64_t piece = std::min<int64_t>(count, kMaxTransferFrames);
            const int64_t take = std::clamp<int64_t>(length_ - first, 0, piece);
            int64_t samples = 0;
            if (take > 0) {
                const int64_t got = ReadAt(fd_.Get(), raw_.data(), static_cast<size_t>(take * bytesPerFrame_),
                                           dataStart_ + first * bytesPerFrame_);
                if (got > 0) samples = got / bytesPerSample_;
                Convert(raw_.data(), static_cast<size_t>(samples), buffer);
            }
            std::fill(buffer + samples, buffer + piece * ch, 0);
            buffer += piece * ch;
            first += piece;
            count -= piece;
        }
    }

    int32_t Position() const override { return ClampFrames(position_); }
    int32_t Length() const override { return static_cast<int32_t>(length_); }
    void Seek(int32_t position) override { position_ = position; }

private:
    void Convert(const uint8_t* in, size_t samples, int32_t* out) const {
        switch (bytesPerSample_) {
            case 1:
                for (size_t i = 0; i < samples; ++i)
                    out[i] = (int32_t{in[i]} - 128) * 4096;
                break;
            case 2:
                for (size_t i = 0; i < samples; ++i)
                    out[i] = static_cast<int16_t>(LoadLE16(in + 2 * i)) * 16;
                break;
            case 3:
                for (size_t i = 0; i < samples; ++i)
                    out[i] = SignExtend24(LoadLE24(in + 3 * i)) >> 4;
                break;
            default:
                // In 64 bits: adding the rounding offset to the largest
                // 32-bit samples would overflow.
                for (size_t i = 0; i < samples; ++i) {
                    const int64_t s = static_cast<int32_t>(LoadLE32(in + 4 * i));
                    out[i] = static_cast<int32_t>((s + 2048) >> 12);
                }
                break;
        }
    }

    UniqueFd fd_;
    int64_t dataStart_;
    uint32_t bytesPerSample_;
    uint32_t bytesPerFrame_;
    int64_t length_;
    int64_t position_ = 0;
    std::vector<uint8_t> raw_;
};

// ---------------------------------------------------------------------------
// Everything else, decoded to 16-bit PCM by the codec layer

class WavCodecSource final : public AudioSource {
public:
    WavCodecSource(UniqueFd fd, const WavLayout& layout)
        : AudioSource(static_cast<int32_t>(layout.format.samplesPerSec), kFullScale16,
                      layout.format.channels),
          fd_(std::move(fd)),
          dataStart_(layout.dataStart),
          dataBytes_(layout.dataBytes),
          rate_(layout.format.samplesPerSec),
          avgBytes_(layout.format.avgBytesPerSec != 0 ? layout.format.avgBytesPerSec : rate_),
          blockAlign_(layout.format.blockAlign) {
        const CodecStatus status = OpenCodecStream(layout.format, Pcm16FormatFor(layout.format), &codec_);
        if (status != CodecStatus::kOk) {
            codec_.reset();
            SetStatus(status == CodecStatus::kBadFormat ? kSourceUnusable : kSourceNoCodec);
            return;
        }
        blockBytes_ = codec_->CompressedBlockBytes();
        blockFrames_ = codec_->CompressedBlockFrames();
        if (blockBytes_ == 0 || blockFrames_ == 0) blockBytes_ = blockFrames_ = 0;
        dst_.resize(static_cast<size_t>(kMaxTransferFrames) * FrameBytes());
        const uint32_t sourceBytes = codec_->SourceBytesFor(static_cast<uint32_t>(dst_.size()));
        if (sourceBytes == 0) {
            codec_.reset();
            SetStatus(kSourceNoCodec);
            return;
        }
        src_.resize(sourceBytes);
    }

    void Read(int32_t* buffer, int32_t frames) override {
        if (frames <= 0) return;
        const int ch = Channels();
        int64_t first = position_;
        position_ += frames;
        int64_t need = frames;
        if (!codec_) {
            ZeroFrames(buffer, need, ch);
            return;
        }
        if (first < 0) {
            const int64_t silent = std::min<int64_t>(need, -first);
            ZeroFrames(buffer, silent, ch);
            buffer += silent * ch;
            need -= silent;
        }
        const uint32_t frameBytes = FrameBytes();
        while (need > 0) {
            if (const uint32_t ready = dstLength_ / frameBytes; ready > 0) {
                const uint32_t take = static_cast<uint32_t>(std::min<int64_t>(ready, need));
                const size_t samples = size_t{take} * ch;
                for (size_t i = 0; i < samples; ++i) {
                    buffer[i] = static_cast<int16_t>(LoadLE16(&dst_[2 * i])) * 16;
                }
                buffer += samples;
                need -= take;
                const uint32_t used = take * frameBytes;
                std::memmove(dst_.data(), dst_.data() + used, dstLength_ - used);
                dstLength_ -= used;
                continue;
            }
            if (knownLength_ >= 0) {
                ZeroFrames(buffer, need, ch);
                break;
            }
            if (!Decode()) knownLength_ = std::max<int64_t>(position_ - need, 0);
        }
    }

    int32_t Position() const override { return ClampFrames(position_); }

    int32_t Length() const override {
        if (knownLength_ >= 0) return ClampFrames(knownLength_);
        if (!codec_) return 0;
        const int64_t waiting = dstLength_ / FrameBytes();
        const int64_t unread = dataBytes_ - dataRead_ + srcLength_;
        return ClampFrames(std::max<int64_t>(position_, 0) + waiting + BytesToFrames(unread));
    }

    void Seek(int32_t position) override {
        if (!codec_) {
            position_ = position;
            return;
        }
        CodecBuffers reset;
        codec_->Convert(reset, kCodecStart);
        srcLength_ = 0;
        dstLength_ = 0;
        knownLength_ = -1;
        dataRead_ = 0;
        if (position <= 0) {
            position_ = position;
            return;
        }
        const int64_t target = FramesToBytes(position);
        if (target > dataBytes_) {
            dataRead_ = dataBytes_;
            knownLength_ = BytesToFrames(dataBytes_);
            position_ = position;
            return;
        }
        // Start a little earlier so that decoders with memory settle.
        const int64_t unit = blockBytes_ != 0 ? blockBytes_ : blockAlign_;
        const int64_t lead = std::max<int64_t>({2 * int64_t{blockAlign_}, 256, codec_->SeekLeadBytes()});
        int64_t start = std::max<int64_t>(target - lead, 0);
        if (unit > 0) start -= start % unit;
        uint32_t unitFrames = 0;
        if (blockBytes_ == 0 && start > 0) {
            // Without fixed blocks, begin where a unit (an MPEG frame)
            // begins: its position is then a whole number of units, which
            // absorbs the rounding of the average byte rate.
            const int64_t window = std::min<int64_t>(src_.size(), dataBytes_ - start);
            const int64_t got =
                ReadAt(fd_.Get(), src_.data(), static_cast<size_t>(window), dataStart_ + start);
            if (got > 0) {
                const CodecStream::SyncPoint sync =
                    codec_->FindSyncPoint(src_.data(), static_cast<uint32_t>(got));
                start += sync.offset;
                unitFrames = sync.unitFrames;
            }
        }
        dataRead_ = start;
        position_ = BytesToFrames(start);
        if (unitFrames > 0) position_ = (position_ + unitFrames / 2) / unitFrames * unitFrames;
        if (position_ < position) {
            std::vector<int32_t> scratch(static_cast<size_t>(kMaxTransferFrames) * Channels());
            while (position_ < position) {
                Read(scratch.data(),
                     static_cast<int32_t>(std::min<int64_t>(position - position_, kMaxTransferFrames)));
            }
        }
        position_ = position;
    }

private:
    uint32_t FrameBytes() const { return 2u * static_cast<uint32_t>(Channels()); }

    // Exact for codecs in fixed blocks, otherwise by the average byte rate.
    int64_t BytesToFrames(int64_t bytes) const {
        if (blockBytes_ != 0) {
            return bytes / blockBytes_ * blockFrames_ + bytes % blockBytes_ * blockFrames_ / blockBytes_;
        }
        return bytes / avgBytes_ * rate_ + bytes % avgBytes_ * rate_ / avgBytes_;
    }
    int64_t FramesToBytes(int64_t frames) const {
        if (blockBytes_ != 0) return frames / blockFrames_ * blockBytes_;
        return frames / rate_ * avgBytes_ + frames % rate_ * avgBytes_ / rate_;
    }

    // One round of decoding into the free part of the PCM buffer; false when
    // the end of the stream is reached.
    bool Decode() {
        const uint32_t want =
            static_cast<uint32_t>(std::min<int64_t>(src_.size() - srcLength_, dataBytes_ - dataRead_));
        if (want > 0) {
            const int64_t got = ReadAt(fd_.Get(), src_.data() + srcLength_, want, dataStart_ + dataRead_);
            if (got > 0) {
                srcLength_ += static_cast<uint32_t>(got);
                dataRead_ += got;
            }
        }
        const bool full = srcLength_ == src_.size();
        CodecBuffers b;
        b.source = src_.data();
        b.sourceLength = srcLength_;
        b.destination = dst_.data() + dstLength_;
        b.destinationLength = static_cast<uint32_t>(dst_.size()) - dstLength_;
        const CodecStatus status = codec_->Convert(b, kCodecBlockAlign);
        uint32_t used = b.sourceUsed;
        uint32_t produced = b.destinationUsed;
        bool more = true;
        if (status == CodecStatus::kError && used < srcLength_) {
            // Skip a quarter of what is buffered so decoding recovers further on.
            used += (srcLength_ - used + 3) / 4;
        } else if (produced == 0) {
            if (!full) {
                // The file has run dry: let the codec finish what it holds.
                CodecBuffers e;
                e.source = src_.data() + used;
                e.sourceLength = srcLength_ - used;
                e.destination = b.destination;
                e.destinationLength = b.destinationLength;
                codec_->Convert(e, kCodecEnd);
                used += e.sourceUsed;
                produced = e.destinationUsed;
                more = produced > 0;
            } else if (used == 0) {
                // A full buffer the codec makes nothing of: no progress is
                // possible, so the stream ends here.
                more = false;
            }
        }
        dstLength_ += produced;
        std::memmove(src_.data(), src_.data() + used, srcLength_ - used);
        srcLength_ -= used;
        return more;
    }

    UniqueFd fd_;
    int64_t dataStart_;
    int64_t dataBytes_;
    int64_t dataRead_ = 0;
    uint32_t rate_;
    uint32_t avgBytes_;
    uint32_t blockAlign_;
    uint32_t blockBytes_ = 0;
    uint32_t blockFrames_ = 0;
    std::unique_ptr<CodecStream> codec_;
    std::vector<uint8_t> src_;
    uint32_t srcLength_ = 0;
    std::vector<uint8_t> dst_;
    uint32_t dstLength_ = 0;
    int64_t position_ = 0;
    int64_t knownLength_ = -1;
};

uint32_t PcmBytesPerSample(uint16_t bits) {
    if (bits <= 8) return 1;
    if (bits <= 16) return 2;
    if (bits <= 24) return 3;
    return 4;
}

}  // namespace

uint8_t ReadWavLayout(int fd, int64_t fileSize, WavLayout& layout) {
    uint8_t head[12];
    int64_t offset = 0;
    if (!ReadExactly(fd, head, sizeof head, offset)) return kSourceUnusable;
    // Step over whatever precedes the RIFF/WAVE header.
    while (!(IsId(head, "RIFF") || IsId(head, "RF64")) || !IsId(head + 8, "WAVE")) {
        uint64_t size = LoadLE32(head + 4);
        size += size & 1;
        if (size <= 4) return kSourceUnusable;
        offset += 8 + static_cast<int64_t>(size);
        if (!ReadExactly(fd, head, sizeof head, offset)) return kSourceUnusable;
    }
    offset += 12;

    // Finds the next chunk called id; the offset is left at its body.
    const auto findChunk = [&](const char* id, uint32_t& size) {
        for (;;) {
            uint8_t chunk[8];
            if (!ReadExactly(fd, chunk, sizeof chunk, offset)) return false;
            offset += 8;
            size = LoadLE32(chunk + 4);
            if (IsId(chunk, id)) return true;
            if (size >= 0x80000000u) return false;
            offset += int64_t{size} + (size & 1);
        }
    };

    uint32_t size = 0;
    if (!findChunk("fmt ", size)) return kSourceUnusable;
    if (size < kMinFmtBytes || size > kMaxFmtBytes) return kSourceUnusable;
    uint8_t fmt[kMaxFmtBytes];
    if (!ReadExactly(fd, fmt, size, offset)) return kSourceUnusable;
    std::optional<WaveFormat> format = WaveFormat::Parse(fmt, size);
    if (!format) return kSourceUnusable;
    offset += int64_t{size} + (size & 1);

    if (!findChunk("data", size)) return kSourceUnusable;
    if (format->channels < 1 || format->channels > kMaxChannels) return kSourceUnusable;
    if (format->samplesPerSec < 1 || format->samplesPerSec > kMaxSampleRate) return kSourceUnusable;

    layout.format = std::move(*format);
    layout.dataStart = offset;
    // A damaged size must not turn a small file into hours of silence.
    const int64_t present = std::max<int64_t>(fileSize - offset, 0);
    layout.dataBytes = size == 0xFFFFFFFFu ? present : std::min<int64_t>(size, present);
    return kSourceOk;
}

Ref<AudioSource> OpenWavSource(const std::string& path) {
    UniqueFd fd =
        OpenFileWithRetry(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting, 0);
    if (!fd) return MakeNullSource(kSourceCannotOpen);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return MakeNullSource(kSourceCannotOpen);
    WavLayout layout;
    if (const uint8_t status = ReadWavLayout(fd.Get(), st.st_size, layout); status != kSourceOk) {
        return MakeNullSource(status);
    }
    if (EffectiveWaveTag(layout.format) == kWaveTagPcm) {
        if (layout.format.bitsPerSample == 0) return MakeNullSource(kSourceUnusable);
        return MakeRef<WavPcmSource>(std::move(fd), layout, PcmBytesPerSample(layout.format.bitsPerSample));
    }
    return MakeRef<WavCodecSource>(std::move(fd), layout);
}

}  // namespace sonitor
