#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/WavCodec.h"

// The codecs behind OpenCodecStream, and the block coders they are built
// from (exposed for tests).
namespace sonitor {

// A stream that converts fixed blocks of inBlock bytes into blocks of
// outBlock bytes. Output that does not fit the caller's buffer is kept and
// handed out first on the next call, so any destination size works.
class BlockCodecStream : public CodecStream {
public:
    BlockCodecStream(uint32_t inBlock, uint32_t outBlock);

    uint32_t SourceBytesFor(uint32_t destinationBytes) const override;
    uint32_t DestinationBytesFor(uint32_t sourceBytes) const override;
    CodecStatus Convert(CodecBuffers& buffers, unsigned flags) override;

protected:
    // Converts `blocks` whole blocks; writes exactly blocks * outBlock bytes.
    virtual void ConvertBlocks(const uint8_t* in, uint32_t blocks, uint8_t* out) = 0;
    // The final partial block (bytes < inBlock) at the end of the input;
    // returns the output bytes (at most outBlock).
    virtual uint32_t ConvertPartial(const uint8_t* in, uint32_t bytes, uint8_t* out) = 0;
    // Forgets the history of earlier blocks.
    virtual void Reset() {}

    uint32_t InBlock() const { return inBlock_; }
    uint32_t OutBlock() const { return outBlock_; }

private:
    uint32_t inBlock_;
    uint32_t outBlock_;
    std::vector<uint8_t> pending_;  // one converted block waiting for room
    uint32_t pendingBegin_ = 0;
    uint32_t pendingEnd_ = 0;
};

// Streams from a compressed format to 16-bit PCM and back. The PCM side has
// the rate and channel count of `format`; the caller has checked that.
CodecStatus MakeWavDecoder(const WaveFormat& format, std::unique_ptr<CodecStream>* stream);
CodecStatus MakeWavEncoder(const WaveFormat& format, std::unique_ptr<CodecStream>* stream);
// MPEG Layer III in WAV (tag 0x55), decoding only.
CodecStatus MakeMpegLayer3Decoder(const WaveFormat& format, std::unique_ptr<CodecStream>* stream);

// --- IMA ADPCM, WAV layout -------------------------------------------------
// Per channel a 4-byte header (first sample, step index, reserved byte),
// then 4-byte groups of eight 4-bit codes per channel in turn, low nibble
// first.

// Frames a block of blockAlign bytes holds; 0 when it cannot hold a header.
uint32_t ImaAdpcmFramesPerBlock(uint32_t blockAlign, uint32_t channels);
// Decodes the first `bytes` bytes of a block (a final block may be short)
// into at most `frames` interleaved frames; returns the frames decoded.
uint32_t DecodeImaAdpcmBlock(const uint8_t* block, uint32_t bytes, uint32_t channels, uint32_t frames,
                             int16_t* out);
// Encodes `frames` frames (ImaAdpcmFramesPerBlock of blockAlign) into one
// block; stepIndex holds one step index per channel, carried from block to
// block.
void EncodeImaAdpcmBlock(const int16_t* in, uint32_t channels, uint32_t frames, uint32_t blockAlign,
                         uint8_t* stepIndex, uint8_t* block);

// --- MS ADPCM -----------------------------------------------------------------
// Per channel in turn: predictor index (u8), then delta, second and first
// sample (i16 each, one field for every channel before the next field),
// then 4-bit codes, high nibble first, channels interleaved.

using MsAdpcmCoefficients = std::vector<std::array<int16_t, 2>>;
// The seven standard predictor pairs every MS ADPCM record starts with.
const MsAdpcmCoefficients& StandardMsAdpcmCoefficients();

uint32_t MsAdpcmFramesPerBlock(uint32_t blockAlign, uint32_t channels);
uint32_t DecodeMsAdpcmBlock(const uint8_t* block, uint32_t bytes, uint32_t channels, uint32_t frames,
                            const MsAdpcmCoefficients& coefficients, int16_t* out);
// Encodes with the standard predictors, picking per block and channel the
// one with the smallest squared error.
void EncodeMsAdpcmBlock(const int16_t* in, uint32_t channels, uint32_t frames, uint32_t blockAlign,
                        uint8_t* block);

// --- Format records of the codings we write -------------------------------------
WaveFormat MakeG711WaveFormat(uint16_t tag, uint32_t sampleRate, uint16_t channels);
// Block align 256 bytes per channel up to 11025 Hz, doubled at 22050 Hz and
// so on, as other software expects.
WaveFormat MakeImaAdpcmWaveFormat(uint32_t sampleRate, uint16_t channels);
WaveFormat MakeMsAdpcmWaveFormat(uint32_t sampleRate, uint16_t channels);
// Mono, 65-byte blocks of 320 samples.
WaveFormat MakeGsm610WaveFormat(uint32_t sampleRate);

}  // namespace sonitor
