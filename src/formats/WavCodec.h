#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "formats/WaveFormat.h"

// Our codec layer for compressed WAV files: a stream converts between one
// wave format and 16-bit PCM of the same rate and channel count, in either
// direction. The WAV reader and writer only use what is declared here.
namespace sonitor {

enum CodecFlags : unsigned {
    // Convert whole blocks only; a partial block stays in the source.
    kCodecBlockAlign = 1u << 0,
    // Forget everything from earlier conversions (after a seek).
    kCodecStart = 1u << 1,
    // The input is complete: a partial block is converted as well (encoders
    // pad it with silence) and buffered output is flushed.
    kCodecEnd = 1u << 2,
};

enum class CodecStatus {
    kOk,
    kNotSupported,  // no codec for this pair of formats
    kBadFormat,     // a codec exists but the format record is inconsistent
    kError,         // the data could not be converted
};

// One conversion call: Convert reads from source[0, sourceLength) and writes
// to destination[0, destinationLength), and reports what it used.
struct CodecBuffers {
    const uint8_t* source = nullptr;
    uint32_t sourceLength = 0;
    uint32_t sourceUsed = 0;
    uint8_t* destination = nullptr;
    uint32_t destinationLength = 0;
    uint32_t destinationUsed = 0;
};

class CodecStream {
public:
    virtual ~CodecStream() = default;

    // Source bytes to offer so that the output fits in destinationBytes; at
    // least one block, since streams keep the rest of a block that does not
    // fit and hand it out on the next call.
    virtual uint32_t SourceBytesFor(uint32_t destinationBytes) const = 0;
    // Largest output that sourceBytes can produce, end of input included.
    virtual uint32_t DestinationBytesFor(uint32_t sourceBytes) const = 0;

    // Converts as much as fits. On kError the counts cover what was
    // converted before the fault; the caller decides how much to skip.
    virtual CodecStatus Convert(CodecBuffers& buffers, unsigned flags) = 0;

    // The compressed side in fixed blocks: bytes and PCM frames per block,
    // both 0 when blocks vary (MPEG). Used for exact seeking.
    virtual uint32_t CompressedBlockBytes() const { return 0; }
    virtual uint32_t CompressedBlockFrames() const { return 0; }

    // For seeking in compressed data without fixed blocks: how far before
    // the target to start so that the decoder has settled when it gets
    // there (0: the reader's default), and where in `data` the first unit
    // that decoding can start from begins (size when there is none), with
    // the PCM frames each unit stands for (0 when unknown).
    struct SyncPoint {
        uint32_t offset = 0;
        uint32_t unitFrames = 0;
    };
    virtual uint32_t SeekLeadBytes() const { return 0; }
    virtual SyncPoint FindSyncPoint(const uint8_t*, uint32_t) const { return {}; }
};

// Opens a stream from `from` to `to`. One of them must be 16-bit integer PCM
// with the other's rate and channel count. With `stream` null only asks
// whether the stream could be opened.
CodecStatus OpenCodecStream(const WaveFormat& from, const WaveFormat& to,
                            std::unique_ptr<CodecStream>* stream);

// Codecs for format tags the built-in ones do not handle. Each factory
// checks the coded format (the PCM side is checked already) and, when
// `stream` is not null, creates the stream. A later registration for the
// same tag replaces the earlier one; an empty factory refuses.
using CodecFactory =
    std::function<CodecStatus(const WaveFormat& coded, std::unique_ptr<CodecStream>* stream)>;
void RegisterWavCodec(uint16_t tag, CodecFactory decoder, CodecFactory encoder);

// 16-bit PCM with the format's rate and channels (0 channels taken as 1).
WaveFormat Pcm16FormatFor(const WaveFormat& format);

}  // namespace sonitor
