#include "formats/WavCodecs.h"

#include <gsm.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "formats/Endian.h"
#include "formats/G711.h"

namespace sonitor {

// ---------------------------------------------------------------------------
// BlockCodecStream

BlockCodecStream::BlockCodecStream(uint32_t inBlock, uint32_t outBlock)
    : inBlock_(inBlock), outBlock_(outBlock), pending_(outBlock) {}

uint32_t BlockCodecStream::SourceBytesFor(uint32_t destinationBytes) const {
    const uint64_t blocks = std::max<uint64_t>(1, destinationBytes / outBlock_);
    const uint64_t bytes = blocks * inBlock_;
    const uint64_t limit = std::numeric_limits<uint32_t>::max() / inBlock_ * inBlock_;
    return static_cast<uint32_t>(std::min(bytes, limit));
}

uint32_t BlockCodecStream::DestinationBytesFor(uint32_t sourceBytes) const {
    const uint64_t blocks = std::max<uint64_t>(1, (uint64_t{sourceBytes} + inBlock_ - 1) / inBlock_);
    const uint64_t bytes = blocks * outBlock_;
    const uint64_t limit = std::numeric_limits<uint32_t>::max() / outBlock_ * outBlock_;
    return static_cast<uint32_t>(std::min(bytes, limit));
}

CodecStatus BlockCodecStream::Convert(CodecBuffers& b, unsigned flags) {
    b.sourceUsed = 0;
    b.destinationUsed = 0;
    if (flags & kCodecStart) {
        Reset();
        pendingBegin_ = pendingEnd_ = 0;
    }
    for (;;) {
        if (pendingBegin_ < pendingEnd_) {
            const uint32_t k = std::min(pendingEnd_ - pendingBegin_, b.destinationLength - b.destinationUsed);
            std::memcpy(b.destination + b.destinationUsed, pending_.data() + pendingBegin_, k);
            b.destinationUsed += k;
            pendingBegin_ += k;
            if (pendingBegin_ < pendingEnd_) return CodecStatus::kOk;
        }
        const uint32_t available = b.sourceLength - b.sourceUsed;
        const uint32_t room = b.destinationLength - b.destinationUsed;
        const uint8_t* in = b.source + b.sourceUsed;
        uint8_t* out = b.destination + b.destinationUsed;
        if (room == 0) return CodecStatus::kOk;
        if (const uint32_t blocks = std::min(available / inBlock_, room / outBlock_); blocks > 0) {
            ConvertBlocks(in, blocks, out);
            b.sourceUsed += blocks * inBlock_;
            b.destinationUsed += blocks * outBlock_;
            continue;
        }
        if (available >= inBlock_) {
            // Less room than one block: keep the block's output for later.
            ConvertBlocks(in, 1, pending_.data());
            b.sourceUsed += inBlock_;
            pendingBegin_ = 0;
            pendingEnd_ = outBlock_;
            continue;
        }
        if ((flags & kCodecEnd) && available > 0) {
            if (room >= outBlock_) {
                b.destinationUsed += ConvertPartial(in, available, out);
            } else {
                pendingBegin_ = 0;
                pendingEnd_ = ConvertPartial(in, available, pending_.data());
            }
            b.sourceUsed += available;
            continue;
        }
        return CodecStatus::kOk;
    }
}

namespace {

void StoreSamples16(const int16_t* samples, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i)
        StoreLE16(out + 2 * i, static_cast<uint16_t>(samples[i]));
}

void LoadSamples16(const uint8_t* in, size_t count, int16_t* samples) {
    for (size_t i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(LoadLE16(in + 2 * i));
}

// ---------------------------------------------------------------------------
// G.711

class G711Decoder final : public BlockCodecStream {
public:
    G711Decoder(bool aLaw, uint32_t channels) : BlockCodecStream(channels, 2 * channels) {
        for (int code = 0; code < 256; ++code) {
            const uint8_t c = static_cast<uint8_t>(code);
            // Expansions are 16-bit values times 16, so the division is exact.
            table_[code] = static_cast<int16_t>((aLaw ? ALawToInternal(c) : MuLawToInternal(c)) / 16);
        }
    }

    uint32_t CompressedBlockBytes() const override { return InBlock(); }
    uint32_t CompressedBlockFrames() const override { return 1; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        const size_t n = size_t{blocks} * InBlock();
        for (size_t i = 0; i < n; ++i)
            StoreLE16(out + 2 * i, static_cast<uint16_t>(table_[in[i]]));
    }
    // A frame cut short at the end of the file is dropped.
    uint32_t ConvertPartial(const uint8_t*, uint32_t, uint8_t*) override { return 0; }

private:
    int16_t table_[256];
};

class G711Encoder final : public BlockCodecStream {
public:
    G711Encoder(bool aLaw, uint32_t channels) : BlockCodecStream(2 * channels, channels), aLaw_(aLaw) {}

    uint32_t CompressedBlockBytes() const override { return OutBlock(); }
    uint32_t CompressedBlockFrames() const override { return 1; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        const size_t n = size_t{blocks} * OutBlock();
        for (size_t i = 0; i < n; ++i) {
            const int32_t x = static_cast<int16_t>(LoadLE16(in + 2 * i)) * 16;
            out[i] = aLaw_ ? InternalToALaw(x) : InternalToMuLaw(x);
        }
    }
    uint32_t ConvertPartial(const uint8_t*, uint32_t, uint8_t*) override { return 0; }

private:
    bool aLaw_;
};

// ---------------------------------------------------------------------------
// IEEE float, 32 or 64 bits: 1.0 is 32768, rounded to nearest and saturated.

class FloatDecoder final : public BlockCodecStream {
public:
    FloatDecoder(uint32_t bytesPerSample, uint32_t channels)
        : BlockCodecStream(bytesPerSample * channels, 2 * channels), bytes_(bytesPerSample) {}

    uint32_t CompressedBlockBytes() const override { return InBlock(); }
    uint32_t CompressedBlockFrames() const override { return 1; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        const size_t n = size_t{blocks} * (OutBlock() / 2);
        for (size_t i = 0; i < n; ++i) {
            double v;
            if (bytes_ == 4) {
                const uint32_t bits = LoadLE32(in + 4 * i);
                float f;
                std::memcpy(&f, &bits, sizeof f);
                v = f;
            } else {
                const uint64_t bits = uint64_t{LoadLE32(in + 8 * i)} | uint64_t{LoadLE32(in + 8 * i + 4)}
                                                                           << 32;
                std::memcpy(&v, &bits, sizeof v);
            }
            StoreLE16(out + 2 * i, static_cast<uint16_t>(FloatTo16(v)));
        }
    }
    uint32_t ConvertPartial(const uint8_t*, uint32_t, uint8_t*) override { return 0; }

private:
    static int16_t FloatTo16(double v) {
        if (std::isnan(v)) return 0;
        const double scaled = std::nearbyint(v * 32768.0);
        return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    }

    uint32_t bytes_;
};

// ---------------------------------------------------------------------------
// IMA ADPCM

class ImaDecoder final : public BlockCodecStream {
public:
    ImaDecoder(uint32_t blockAlign, uint32_t channels, uint32_t frames)
        : BlockCodecStream(blockAlign, frames * channels * 2),
          channels_(channels),
          frames_(frames),
          samples_(size_t{frames} * channels) {}

    uint32_t CompressedBlockBytes() const override { return InBlock(); }
    uint32_t CompressedBlockFrames() const override { return frames_; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        for (uint32_t k = 0; k < blocks; ++k) {
            // A whole block always yields frames_ frames.
            DecodeImaAdpcmBlock(in + size_t{k} * InBlock(), InBlock(), channels_, frames_, samples_.data());
            StoreSamples16(samples_.data(), samples_.size(), out + size_t{k} * OutBlock());
        }
    }
    uint32_t ConvertPartial(const uint8_t* in, uint32_t bytes, uint8_t* out) override {
        const uint32_t n = DecodeImaAdpcmBlock(in, bytes, channels_, frames_, samples_.data());
        StoreSamples16(samples_.data(), size_t{n} * channels_, out);
        return n * channels_ * 2;
    }

private:
    uint32_t channels_;
    uint32_t frames_;
    std::vector<int16_t> samples_;
};

class ImaEncoder final : public BlockCodecStream {
public:
    ImaEncoder(uint32_t blockAlign, uint32_t channels, uint32_t frames)
        : BlockCodecStream(frames * channels * 2, blockAlign),
          channels_(channels),
          frames_(frames),
          samples_(size_t{frames} * channels),
          stepIndex_(channels, 0) {}

    uint32_t CompressedBlockBytes() const override { return OutBlock(); }
    uint32_t CompressedBlockFrames() const override { return frames_; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        for (uint32_t k = 0; k < blocks; ++k) {
            LoadSamples16(in + size_t{k} * InBlock(), samples_.size(), samples_.data());
            EncodeImaAdpcmBlock(samples_.data(), channels_, frames_, OutBlock(), stepIndex_.data(),
                                out + size_t{k} * OutBlock());
        }
    }
    uint32_t ConvertPartial(const uint8_t* in, uint32_t bytes, uint8_t* out) override {
        const size_t frames = bytes / (2 * channels_);
        if (frames == 0) return 0;
        // The last block is completed with silence.
        std::fill(samples_.begin(), samples_.end(), int16_t{0});
        LoadSamples16(in, frames * channels_, samples_.data());
        EncodeImaAdpcmBlock(samples_.data(), channels_, frames_, OutBlock(), stepIndex_.data(), out);
        return OutBlock();
    }
    void Reset() override { std::fill(stepIndex_.begin(), stepIndex_.end(), uint8_t{0}); }

private:
    uint32_t channels_;
    uint32_t frames_;
    std::vector<int16_t> samples_;
    std::vector<uint8_t> stepIndex_;
};

// ---------------------------------------------------------------------------
// MS ADPCM

class MsDecoder final : public BlockCodecStream {
public:
    MsDecoder(uint32_t blockAlign, uint32_t channels, uint32_t frames, MsAdpcmCoefficients coefficients)
        : BlockCodecStream(blockAlign, frames * channels * 2),
          channels_(channels),
          frames_(frames),
          coefficients_(std::move(coefficients)),
          samples_(size_t{frames} * channels) {}

    uint32_t CompressedBlockBytes() const override { return InBlock(); }
    uint32_t CompressedBlockFrames() const override { return frames_; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        for (uint32_t k = 0; k < blocks; ++k) {
            DecodeMsAdpcmBlock(in + size_t{k} * InBlock(), InBlock(), channels_, frames_, coefficients_,
                               samples_.data());
            StoreSamples16(samples_.data(), samples_.size(), out + size_t{k} * OutBlock());
        }
    }
    uint32_t ConvertPartial(const uint8_t* in, uint32_t bytes, uint8_t* out) override {
        const uint32_t n = DecodeMsAdpcmBlock(in, bytes, channels_, frames_, coefficients_, samples_.data());
        StoreSamples16(samples_.data(), size_t{n} * channels_, out);
        return n * channels_ * 2;
    }

private:
    uint32_t channels_;
    uint32_t frames_;
    MsAdpcmCoefficients coefficients_;
    std::vector<int16_t> samples_;
};

class MsEncoder final : public BlockCodecStream {
public:
    MsEncoder(uint32_t blockAlign, uint32_t channels, uint32_t frames)
        : BlockCodecStream(frames * channels * 2, blockAlign),
          channels_(channels),
          frames_(frames),
          samples_(size_t{frames} * channels) {}

    uint32_t CompressedBlockBytes() const override { return OutBlock(); }
    uint32_t CompressedBlockFrames() const override { return frames_; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        for (uint32_t k = 0; k < blocks; ++k) {
            LoadSamples16(in + size_t{k} * InBlock(), samples_.size(), samples_.data());
            EncodeMsAdpcmBlock(samples_.data(), channels_, frames_, OutBlock(), out + size_t{k} * OutBlock());
        }
    }
    uint32_t ConvertPartial(const uint8_t* in, uint32_t bytes, uint8_t* out) override {
        const size_t frames = bytes / (2 * channels_);
        if (frames == 0) return 0;
        std::fill(samples_.begin(), samples_.end(), int16_t{0});
        LoadSamples16(in, frames * channels_, samples_.data());
        EncodeMsAdpcmBlock(samples_.data(), channels_, frames_, OutBlock(), out);
        return OutBlock();
    }

private:
    uint32_t channels_;
    uint32_t frames_;
    std::vector<int16_t> samples_;
};

// ---------------------------------------------------------------------------
// GSM 6.10 in WAV: two frames of 160 samples in 65 bytes, packed by libgsm's
// WAV49 option (the first frame takes 32.5 bytes, the second the rest).

constexpr uint32_t kGsmBlockBytes = 65;
constexpr uint32_t kGsmBlockFrames = 320;
constexpr uint32_t kGsmFrameSamples = 160;
constexpr uint32_t kGsmFirstFrameBytes = 33;  // what the decoder reads for the first frame
constexpr uint32_t kGsmFirstCodeBytes = 32;   // where the encoder puts the second frame

class GsmHandle {
public:
    GsmHandle() { Recreate(); }
    ~GsmHandle() {
        if (h_) gsm_destroy(h_);
    }
    GsmHandle(const GsmHandle&) = delete;
    GsmHandle& operator=(const GsmHandle&) = delete;

    // A fresh coder; the WAV49 packing alternates between the two halves of
    // a block, so the state must start on a block boundary.
    void Recreate() {
        if (h_) gsm_destroy(h_);
        h_ = gsm_create();
        if (h_) {
            int one = 1;
            gsm_option(h_, GSM_OPT_WAV49, &one);
        }
    }
    bool Valid() const { return h_ != nullptr; }
    gsm Get() const { return h_; }

private:
    gsm h_ = nullptr;
};

class GsmDecoder final : public BlockCodecStream {
public:
    GsmDecoder() : BlockCodecStream(kGsmBlockBytes, kGsmBlockFrames * 2) {}
    bool Valid() const { return gsm_.Valid(); }

    uint32_t CompressedBlockBytes() const override { return kGsmBlockBytes; }
    uint32_t CompressedBlockFrames() const override { return kGsmBlockFrames; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        for (uint32_t k = 0; k < blocks; ++k) {
            uint8_t block[kGsmBlockBytes];
            std::memcpy(block, in + size_t{k} * kGsmBlockBytes, kGsmBlockBytes);
            DecodeFrame(block, samples_);
            DecodeFrame(block + kGsmFirstFrameBytes, samples_ + kGsmFrameSamples);
            StoreSamples16(samples_, kGsmBlockFrames, out + size_t{k} * OutBlock());
        }
    }
    uint32_t ConvertPartial(const uint8_t* in, uint32_t bytes, uint8_t* out) override {
        // Only a whole first frame can be decoded from a cut block.
        if (bytes < kGsmFirstFrameBytes) return 0;
        uint8_t block[kGsmBlockBytes] = {};
        std::memcpy(block, in, bytes);
        DecodeFrame(block, samples_);
        StoreSamples16(samples_, kGsmFrameSamples, out);
        gsm_.Recreate();
        return kGsmFrameSamples * 2;
    }
    void Reset() override { gsm_.Recreate(); }

private:
    void DecodeFrame(uint8_t* frame, int16_t* samples) {
        if (gsm_decode(gsm_.Get(), frame, samples) != 0) std::fill_n(samples, kGsmFrameSamples, int16_t{0});
    }

    GsmHandle gsm_;
    int16_t samples_[kGsmBlockFrames];
};

class GsmEncoder final : public BlockCodecStream {
public:
    GsmEncoder() : BlockCodecStream(kGsmBlockFrames * 2, kGsmBlockBytes) {}
    bool Valid() const { return gsm_.Valid(); }

    uint32_t CompressedBlockBytes() const override { return kGsmBlockBytes; }
    uint32_t CompressedBlockFrames() const override { return kGsmBlockFrames; }

protected:
    void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) override {
        for (uint32_t k = 0; k < blocks; ++k) {
            LoadSamples16(in + size_t{k} * InBlock(), kGsmBlockFrames, samples_);
            EncodeBlock(out + size_t{k} * kGsmBlockBytes);
        }
    }
    uint32_t ConvertPartial(const uint8_t* in, uint32_t bytes, uint8_t* out) override {
        const size_t frames = bytes / 2;
        if (frames == 0) return 0;
        std::fill_n(samples_, kGsmBlockFrames, int16_t{0});
        LoadSamples16(in, frames, samples_);
        EncodeBlock(out);
        return kGsmBlockBytes;
    }
    void Reset() override { gsm_.Recreate(); }

private:
    void EncodeBlock(uint8_t* out) {
        // The second call writes 33 bytes from offset 32, completing the
        // byte the first frame left half-filled.
        uint8_t block[kGsmBlockBytes] = {};
        gsm_encode(gsm_.Get(), samples_, block);
        gsm_encode(gsm_.Get(), samples_ + kGsmFrameSamples, block + kGsmFirstCodeBytes);
        std::memcpy(out, block, kGsmBlockBytes);
    }

    GsmHandle gsm_;
    int16_t samples_[kGsmBlockFrames];
};

// ---------------------------------------------------------------------------
// Format checks

constexpr uint32_t kMaxChannels = 255;

uint16_t ExtraWord(const WaveFormat& f, size_t offset) {
    return f.extra.size() >= offset + 2 ? LoadLE16(f.extra.data() + offset) : 0;
}

// The coefficient table of an MS ADPCM record (after samples per block and
// the count); empty when the record carries none.
MsAdpcmCoefficients RecordCoefficients(const WaveFormat& f) {
    MsAdpcmCoefficients table;
    if (f.tag != kWaveTagMsAdpcm || f.extra.size() < 4) return table;
    const size_t count = ExtraWord(f, 2);
    if (count == 0 || f.extra.size() < 4 + 4 * count) return table;
    for (size_t i = 0; i < count; ++i) {
        table.push_back(
            {static_cast<int16_t>(ExtraWord(f, 4 + 4 * i)), static_cast<int16_t>(ExtraWord(f, 6 + 4 * i))});
    }
    return table;
}

// Frames per block: what the block can hold, or fewer when the record says
// so (the rest of each block is then padding).
uint32_t DecodeFramesPerBlock(const WaveFormat& f, uint32_t capacity, uint16_t ownTag) {
    const uint32_t declared = f.tag == ownTag ? ExtraWord(f, 0) : 0;
    return declared >= 1 && declared < capacity ? declared : capacity;
}

template <class T>
CodecStatus Deliver(std::unique_ptr<CodecStream>* stream, std::unique_ptr<T> made) {
    if (stream) *stream = std::move(made);
    return CodecStatus::kOk;
}

}  // namespace

CodecStatus MakeWavDecoder(const WaveFormat& f, std::unique_ptr<CodecStream>* stream) {
    const uint32_t ch = f.channels;
    if (ch == 0 || ch > kMaxChannels) return CodecStatus::kBadFormat;
    switch (EffectiveWaveTag(f)) {
        case kWaveTagALaw:
        case kWaveTagMuLaw:
            if (f.bitsPerSample != 8) return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            return Deliver(stream, std::make_unique<G711Decoder>(EffectiveWaveTag(f) == kWaveTagALaw, ch));
        case kWaveTagIeeeFloat:
            if (f.bitsPerSample != 32 && f.bitsPerSample != 64) return CodecStatus::kNotSupported;
            if (!stream) return CodecStatus::kOk;
            return Deliver(stream, std::make_unique<FloatDecoder>(f.bitsPerSample / 8u, ch));
        case kWaveTagImaAdpcm: {
            if (f.bitsPerSample != 4) return CodecStatus::kNotSupported;
            const uint32_t capacity = ImaAdpcmFramesPerBlock(f.blockAlign, ch);
            if (capacity == 0) return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            return Deliver(stream,
                           std::make_unique<ImaDecoder>(f.blockAlign, ch,
                                                        DecodeFramesPerBlock(f, capacity, kWaveTagImaAdpcm)));
        }
        case kWaveTagMsAdpcm: {
            if (f.bitsPerSample != 4) return CodecStatus::kNotSupported;
            const uint32_t capacity = MsAdpcmFramesPerBlock(f.blockAlign, ch);
            if (capacity == 0) return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            return Deliver(stream, std::make_unique<MsDecoder>(
                                       f.blockAlign, ch, DecodeFramesPerBlock(f, capacity, kWaveTagMsAdpcm),
                                       RecordCoefficients(f)));
        }
        case kWaveTagGsm610: {
            if (ch != 1 || f.blockAlign != kGsmBlockBytes) return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            auto decoder = std::make_unique<GsmDecoder>();
            if (!decoder->Valid()) return CodecStatus::kError;
            return Deliver(stream, std::move(decoder));
        }
        case kWaveTagMpegLayer3:
            return MakeMpegLayer3Decoder(f, stream);
        default:
            return CodecStatus::kNotSupported;
    }
}

CodecStatus MakeWavEncoder(const WaveFormat& f, std::unique_ptr<CodecStream>* stream) {
    const uint32_t ch = f.channels;
    if (ch == 0 || ch > kMaxChannels) return CodecStatus::kBadFormat;
    switch (f.tag) {
        case kWaveTagALaw:
        case kWaveTagMuLaw:
            if (f.bitsPerSample != 8 || f.blockAlign != ch) return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            return Deliver(stream, std::make_unique<G711Encoder>(f.tag == kWaveTagALaw, ch));
        case kWaveTagImaAdpcm: {
            // Whole 4-byte groups per channel, and a record that agrees.
            if (f.bitsPerSample != 4 || f.blockAlign <= 4 * ch || f.blockAlign % (4 * ch) != 0)
                return CodecStatus::kBadFormat;
            const uint32_t frames = ImaAdpcmFramesPerBlock(f.blockAlign, ch);
            if (f.extra.size() >= 2 && ExtraWord(f, 0) != frames) return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            return Deliver(stream, std::make_unique<ImaEncoder>(f.blockAlign, ch, frames));
        }
        case kWaveTagMsAdpcm: {
            if (f.bitsPerSample != 4 || f.blockAlign <= 7 * ch || (f.blockAlign - 7 * ch) * 2 % ch != 0)
                return CodecStatus::kBadFormat;
            const uint32_t frames = MsAdpcmFramesPerBlock(f.blockAlign, ch);
            // Decoders take the predictors from the record, so it must carry
            // the standard ones we encode with.
            const MsAdpcmCoefficients table = RecordCoefficients(f);
            const MsAdpcmCoefficients& standard = StandardMsAdpcmCoefficients();
            if (ExtraWord(f, 0) != frames || table.size() < standard.size() ||
                !std::equal(standard.begin(), standard.end(), table.begin()))
                return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            return Deliver(stream, std::make_unique<MsEncoder>(f.blockAlign, ch, frames));
        }
        case kWaveTagGsm610: {
            if (ch != 1 || f.blockAlign != kGsmBlockBytes) return CodecStatus::kBadFormat;
            if (f.extra.size() >= 2 && ExtraWord(f, 0) != kGsmBlockFrames) return CodecStatus::kBadFormat;
            if (!stream) return CodecStatus::kOk;
            auto encoder = std::make_unique<GsmEncoder>();
            if (!encoder->Valid()) return CodecStatus::kError;
            return Deliver(stream, std::move(encoder));
        }
        default:
            return CodecStatus::kNotSupported;
    }
}

// ---------------------------------------------------------------------------
// Records of the codings we write

WaveFormat MakeG711WaveFormat(uint16_t tag, uint32_t sampleRate, uint16_t channels) {
    WaveFormat f;
    f.tag = tag;
    f.channels = channels;
    f.samplesPerSec = sampleRate;
    f.avgBytesPerSec = sampleRate * channels;
    f.blockAlign = channels;
    f.bitsPerSample = 8;
    return f;
}

namespace {

uint16_t AdpcmBlockAlign(uint32_t sampleRate, uint16_t channels) {
    const uint32_t scale = std::max<uint32_t>(1, sampleRate / 11025);
    return static_cast<uint16_t>(std::min<uint32_t>(256u * channels * scale, 0x8000));
}

uint32_t AverageBytes(uint32_t sampleRate, uint32_t blockAlign, uint32_t framesPerBlock) {
    return static_cast<uint32_t>((uint64_t{sampleRate} * blockAlign + framesPerBlock / 2) / framesPerBlock);
}

}  // namespace

WaveFormat MakeImaAdpcmWaveFormat(uint32_t sampleRate, uint16_t channels) {
    WaveFormat f;
    f.tag = kWaveTagImaAdpcm;
    f.channels = channels;
    f.samplesPerSec = sampleRate;
    f.blockAlign = AdpcmBlockAlign(sampleRate, channels);
    f.bitsPerSample = 4;
    const uint32_t frames = ImaAdpcmFramesPerBlock(f.blockAlign, channels);
    f.avgBytesPerSec = AverageBytes(sampleRate, f.blockAlign, frames);
    f.extra.resize(2);
    StoreLE16(f.extra.data(), static_cast<uint16_t>(frames));
    return f;
}

WaveFormat MakeMsAdpcmWaveFormat(uint32_t sampleRate, uint16_t channels) {
    WaveFormat f;
    f.tag = kWaveTagMsAdpcm;
    f.channels = channels;
    f.samplesPerSec = sampleRate;
    f.blockAlign = AdpcmBlockAlign(sampleRate, channels);
    f.bitsPerSample = 4;
    const uint32_t frames = MsAdpcmFramesPerBlock(f.blockAlign, channels);
    f.avgBytesPerSec = AverageBytes(sampleRate, f.blockAlign, frames);
    const MsAdpcmCoefficients& table = StandardMsAdpcmCoefficients();
    f.extra.resize(4 + 4 * table.size());
    StoreLE16(&f.extra[0], static_cast<uint16_t>(frames));
    StoreLE16(&f.extra[2], static_cast<uint16_t>(table.size()));
    for (size_t i = 0; i < table.size(); ++i) {
        StoreLE16(&f.extra[4 + 4 * i], static_cast<uint16_t>(table[i][0]));
        StoreLE16(&f.extra[6 + 4 * i], static_cast<uint16_t>(table[i][1]));
    }
    return f;
}

WaveFormat MakeGsm610WaveFormat(uint32_t sampleRate) {
    WaveFormat f;
    f.tag = kWaveTagGsm610;
    f.channels = 1;
    f.samplesPerSec = sampleRate;
    f.blockAlign = kGsmBlockBytes;
    f.bitsPerSample = 0;
    f.avgBytesPerSec = AverageBytes(sampleRate, kGsmBlockBytes, kGsmBlockFrames);
    f.extra.resize(2);
    StoreLE16(f.extra.data(), static_cast<uint16_t>(kGsmBlockFrames));
    return f;
}

}  // namespace sonitor
