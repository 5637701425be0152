// MPEG Layer III frames in a WAV data chunk (format tag 0x55), decoded with
// our frame decoder to 16-bit PCM.

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "formats/Endian.h"
#include "formats/WavCodecs.h"
#include "formats/mp3/Mp3FrameDecoder.h"
#include "formats/mp3/Mp3Header.h"

namespace sonitor {

namespace {

constexpr uint32_t kMaxFrameSamples = 1152;
// Larger than any Layer III frame with a bitrate index (1441 bytes at
// 320 kbit/s and 32 kHz, 1441 at 160 kbit/s and 8 kHz).
constexpr uint32_t kMaxFrameBytes = 1441;
constexpr uint32_t kMinFrameBytes = 24;  // 8 kbit/s at 24 kHz
// A seek starts this far back: the bit reservoir reaches up to 511 bytes
// into earlier frames, and the filter banks need a frame or two to settle.
constexpr uint32_t kSeekLeadBytes = 4 * kMaxFrameBytes;

class Mp3InWavDecoder final : public CodecStream {
public:
    explicit Mp3InWavDecoder(uint32_t channels)
        : channels_(channels),
          samples_(kMaxFrameSamples * 2),
          pending_(size_t{kMaxFrameSamples} * channels * 2) {}

    uint32_t SourceBytesFor(uint32_t destinationBytes) const override {
        // Room for a few frames at least, so that a frame never straddles
        // the end of a full buffer.
        const uint64_t frames = destinationBytes / (uint64_t{kMaxFrameSamples} * channels_ * 2) + 1;
        return static_cast<uint32_t>(std::max<uint64_t>(frames * kMaxFrameBytes, 4 * kMaxFrameBytes));
    }

    uint32_t DestinationBytesFor(uint32_t sourceBytes) const override {
        const uint64_t frames = sourceBytes / kMinFrameBytes + 1;
        const uint64_t bytes = frames * kMaxFrameSamples * channels_ * 2;
        return static_cast<uint32_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max()));
    }

    uint32_t SeekLeadBytes() const override { return kSeekLeadBytes; }

    SyncPoint FindSyncPoint(const uint8_t* data, uint32_t size) const override {
        const Scan scan = FindFrame(data, size, true);
        if (!scan.header) return {size, 0};
        return {scan.offset, static_cast<uint32_t>(scan.header->SamplesPerFrame())};
    }

    CodecStatus Convert(CodecBuffers& b, unsigned flags) override {
        b.sourceUsed = 0;
        b.destinationUsed = 0;
        if (flags & kCodecStart) {
            decoder_.Reset();
            pendingBegin_ = pendingEnd_ = 0;
            firstFrame_ = true;
        }
        const bool end = (flags & kCodecEnd) != 0;
        for (;;) {
            if (pendingBegin_ < pendingEnd_) {
                const uint32_t k =
                    std::min(pendingEnd_ - pendingBegin_, b.destinationLength - b.destinationUsed);
                std::memcpy(b.destination + b.destinationUsed, pending_.data() + pendingBegin_, k);
                b.destinationUsed += k;
                pendingBegin_ += k;
                if (pendingBegin_ < pendingEnd_) return CodecStatus::kOk;
            }
            if (b.destinationUsed == b.destinationLength) return CodecStatus::kOk;
            const uint8_t* in = b.source + b.sourceUsed;
            const uint32_t available = b.sourceLength - b.sourceUsed;
            const Scan scan = FindFrame(in, available, end);
            b.sourceUsed += scan.offset;  // junk before the frame
            if (!scan.header) return CodecStatus::kOk;
            const Mp3Header& h = *scan.header;
            const uint32_t frameBytes = static_cast<uint32_t>(h.FrameBytes());
            const uint8_t* frame = in + scan.offset;
            b.sourceUsed += frameBytes;
            if (firstFrame_) {
                firstFrame_ = false;
                // An information frame (Xing, Info, VBRI) carries no audio.
                if (ParseMp3InfoFrame(h, frame, frameBytes).present) continue;
            }
            const uint32_t frames = static_cast<uint32_t>(h.SamplesPerFrame());
            // A frame that cannot be decoded still stands for its stretch of
            // time; the decoder leaves silence for it.
            decoder_.DecodeFrame(h, frame, frameBytes, samples_.data());
            const uint32_t bytes = frames * channels_ * 2;
            uint8_t* out = b.destination + b.destinationUsed;
            if (b.destinationLength - b.destinationUsed >= bytes) {
                Store(h.Channels(), frames, out);
                b.destinationUsed += bytes;
            } else {
                Store(h.Channels(), frames, pending_.data());
                pendingBegin_ = 0;
                pendingEnd_ = bytes;
            }
        }
    }

private:
    struct Scan {
        uint32_t offset = 0;  // bytes before the frame (or junk to drop)
        std::optional<Mp3Header> header;
    };

    // The next whole frame in data whose successor's header confirms it (or
    // that ends the input when `end` is set). Without a frame, offset is the
    // junk that can be dropped: everything but a tail that may still become
    // a frame once more data arrives.
    static Scan FindFrame(const uint8_t* data, uint32_t size, bool end) {
        Scan scan;
        for (uint32_t i = 0; i + 4 <= size; ++i) {
            if (data[i] != 0xFF) continue;
            const std::optional<Mp3Header> h = ParseMp3Header(data + i);
            if (!h) continue;
            const uint32_t next = i + static_cast<uint32_t>(h->FrameBytes());
            if (next + 4 <= size) {
                const std::optional<Mp3Header> h2 = ParseMp3Header(data + next);
                if (!h2 || !h2->SameStream(*h)) continue;
            } else if (!end) {
                scan.offset = i;  // wait for the rest of this frame
                return scan;
            } else if (next > size) {
                continue;  // a cut last frame
            }
            scan.offset = i;
            scan.header = h;
            return scan;
        }
        scan.offset = end ? size : (size > 3 ? size - 3 : 0);
        return scan;
    }

    // Internal samples to 16 bits, with the frame's channels fitted to the
    // file's: mono is copied to every channel, stereo is averaged for mono.
    void Store(int frameChannels, uint32_t frames, uint8_t* out) const {
        for (uint32_t f = 0; f < frames; ++f) {
            const int32_t* s = samples_.data() + size_t{f} * frameChannels;
            for (uint32_t c = 0; c < channels_; ++c) {
                int64_t x;
                if (frameChannels == 1) {
                    x = s[0];
                } else if (channels_ == 1) {
                    x = (int64_t{s[0]} + s[1]) / 2;
                } else {
                    x = s[std::min<uint32_t>(c, 1)];
                }
                const int64_t v = std::clamp<int64_t>((x + 8) >> 4, -32768, 32767);
                StoreLE16(out + (size_t{f} * channels_ + c) * 2, static_cast<uint16_t>(v));
            }
        }
    }

    uint32_t channels_;
    Mp3FrameDecoder decoder_;
    std::vector<int32_t> samples_;
    std::vector<uint8_t> pending_;
    uint32_t pendingBegin_ = 0;
    uint32_t pendingEnd_ = 0;
    bool firstFrame_ = true;
};

}  // namespace

CodecStatus MakeMpegLayer3Decoder(const WaveFormat& format, std::unique_ptr<CodecStream>* stream) {
    if (stream) *stream = std::make_unique<Mp3InWavDecoder>(format.channels);
    return CodecStatus::kOk;
}

}  // namespace sonitor
