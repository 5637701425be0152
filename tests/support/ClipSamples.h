#pragma once

// Clips made from and read back into plain sample vectors, for tests of the
// edit operations and the effects.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"

namespace sonitor::test {

// A clip holding the interleaved samples, written through the clip writer.
inline AudioClip ClipFromSamples(const std::vector<int32_t>& samples, int channels, int32_t rate = 44100) {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, rate, channels);
    writer->Write(samples.data(), static_cast<int32_t>(samples.size() / static_cast<size_t>(channels)));
    EXPECT_TRUE(writer->Close());
    return clip;
}

// Every sample of the clip, as a reader delivers them.
inline std::vector<int32_t> ClipSamples(const AudioClip& clip) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    std::vector<int32_t> out(static_cast<size_t>(clip.Length()) * static_cast<size_t>(reader->Channels()));
    ReadInPieces(*reader, out.data(), clip.Length());
    return out;
}

}  // namespace sonitor::test
