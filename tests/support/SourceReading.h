#pragma once

// Reading whole stretches of an AudioSource in the usual ways.
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "foundation/AudioSource.h"

namespace sonitor::test {

// `frames` frames from the current position, in transfer-sized pieces.
inline std::vector<int32_t> ReadFrames(AudioSource& source, int64_t frames) {
    std::vector<int32_t> out(static_cast<size_t>(frames) * static_cast<size_t>(source.Channels()));
    ReadInPieces(source, out.data(), frames);
    return out;
}

// From the current position to the end, for sources whose length is an
// estimate until the data run out (it may move while reading): reads
// pieces of up to `piece` frames while the position is below the length,
// and keeps what lies below the length as it stands after each read.
inline std::vector<int32_t> ReadToEnd(AudioSource& source, int32_t piece = kMaxTransferFrames) {
    const size_t channels = static_cast<size_t>(source.Channels());
    std::vector<int32_t> all, block(static_cast<size_t>(piece) * channels);
    while (source.Position() < source.Length()) {
        const int32_t before = source.Position();
        const int32_t n = std::min(piece, source.Length() - before);
        source.Read(block.data(), n);
        const int32_t valid = std::clamp(source.Length() - before, 0, n);
        all.insert(all.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(valid * channels));
    }
    return all;
}

// `frames` frames in pieces of random length, 1 to maxPiece frames: a
// source must not depend on how its reader cuts the stream.
inline std::vector<int32_t> ReadInRandomPieces(AudioSource& source, int64_t frames, std::mt19937& rng,
                                               int32_t maxPiece) {
    std::vector<int32_t> out(static_cast<size_t>(frames) * static_cast<size_t>(source.Channels()));
    for (int64_t done = 0; done < frames;) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(frames - done, 1 + rng() % maxPiece));
        source.Read(out.data() + done * source.Channels(), n);
        done += n;
    }
    return out;
}

}  // namespace sonitor::test
