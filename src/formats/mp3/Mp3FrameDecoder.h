#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/mp3/Mp3Header.h"

namespace sonitor {

// Decodes MPEG-1, MPEG-2 and MPEG-2.5 Layer III frames, one at a time, into
// interleaved internal samples (a 16-bit value v is v * 16; a full-scale
// sine peaks near 2^19). Decoded values are not clipped short of the int32
// range, so declare the full scale 2097152 for them.
//
// The decoder keeps the state that ties frames together: the bit reservoir
// (a frame's data may begin in earlier frames), the IMDCT overlap and the
// synthesis filter history. Feed the frames of one stream in order, and call
// Reset() after jumping to another place in it. Typical use, for example by
// a codec for MPEG Layer III data inside a WAV file (format tag 0x55):
//
//     int64_t at = FindMp3FrameHeader(data, size);
//     Mp3FrameDecoder decoder;
//     while (at >= 0 && size - at >= 4) {
//         auto header = ParseMp3Header(data + at);
//         if (!header || size - at < size_t(header->FrameBytes())) break;
//         std::vector<int32_t> pcm(header->SamplesPerFrame() * header->Channels());
//         if (decoder.DecodeFrame(*header, data + at, header->FrameBytes(), pcm.data()) ==
//             Mp3FrameDecoder::Result::kDamaged) break;
//         at += header->FrameBytes();
//     }
class Mp3FrameDecoder {
public:
    enum class Result : uint8_t {
        kDecoded,      // out holds the frame's samples
        kNoReservoir,  // the frame's data begins in bytes not fed since the last Reset(); out holds silence
        kDamaged,      // the frame cannot be decoded; out holds silence
    };

    Mp3FrameDecoder();
    ~Mp3FrameDecoder();
    Mp3FrameDecoder(const Mp3FrameDecoder&) = delete;
    Mp3FrameDecoder& operator=(const Mp3FrameDecoder&) = delete;

    // frame points at the header of a frame that `header` describes and
    // holds size bytes (at least header.FrameBytes()). Writes
    // header.SamplesPerFrame() frames of header.Channels() samples to out.
    Result DecodeFrame(const Mp3Header& header, const uint8_t* frame, size_t size, int32_t* out);

    // Forgets the reservoir, overlap and filter history.
    void Reset();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace sonitor
