#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "foundation/AudioSink.h"
#include "foundation/FileUtil.h"

namespace sonitor {

// Writes new samples into a fresh pair of working files, producing the peak
// overview in the same pass. When closed (or destroyed) the target clip is
// replaced by exactly one segment over the new file: first frame 0, unity
// gain, the written length, and the writer's rate and channels.
//
// The overview ("%d.grf") holds, per 256-frame block and per channel, the
// positive peak and the negative peak, each (peak >> 11) limited to 0..255.
// It always describes the samples in the ".aud" file, Truncate included.
//
// A write that fails (disk full) sets the failed flag; the segment still
// covers the written length and reads what reached the disk, the rest as
// silence.
class ClipWriter final : public AudioSink {
public:
    // target may be null; the result is then available from ResultClip().
    ClipWriter(AudioClip* target, int32_t sampleRate, int channels);
    ~ClipWriter() override;

    uint16_t FileId() const { return id_; }
    // After Close(): the clip the writer produced.
    const AudioClip& ResultClip() const { return result_; }

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override;
    void TruncateTo(int32_t frames) override;
    bool Finish() override;

private:
    void FeedOverview(const int32_t* frames, int32_t count);
    void FlushBlock();
    bool FlushAudio();
    bool FlushOverview();
    void ReseedBlock(int32_t framesInBlock);

    AudioClip* target_;
    AudioClip result_;
    uint16_t id_;
    int channels_;
    UniqueFd audio_;
    UniqueFd overview_;
    int64_t audioFileFrames_ = 0;  // frames already in the .aud file
    std::vector<int32_t> audioBuffer_;
    std::vector<uint8_t> overviewBuffer_;
    int64_t overviewFileBytes_ = 0;
    std::vector<int32_t> maxima_;
    std::vector<int32_t> minima_;
    int32_t blockCount_ = 0;
};

Ref<ClipWriter> CreateClipWriter(AudioClip* target, int32_t sampleRate, int channels);

// One overview byte: a peak magnitude (the largest sample, or minus the
// smallest, computed in 64 bits) shifted right by 11 and limited to 0..255.
inline uint8_t OverviewPeakByte(int64_t peak) {
    if (peak <= 0) return 0;
    const int64_t v = peak >> 11;
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

}  // namespace sonitor
