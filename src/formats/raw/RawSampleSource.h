#pragma once

#include <cstdint>
#include <vector>

#include "foundation/AudioSource.h"
#include "foundation/FileUtil.h"

namespace sonitor {

// Reads samples of one of the raw codings 1..6 (RawCoding) stored back to
// back in a file: headerless files, and the sample data of AIFF and AU files.
class RawSampleSource final : public AudioSource {
public:
    // The data begin at byte dataStart. dataBytes < 0 means they run to the
    // end of the file, measured afresh at every Length() so a growing file
    // shows its new frames; otherwise the length is dataBytes, limited to the
    // bytes the file holds now. An unknown coding gives status 3.
    RawSampleSource(UniqueFd file, int64_t dataStart, int64_t dataBytes, int32_t coding, int32_t sampleRate,
                    int channels);

    void Read(int32_t* buffer, int32_t frames) override;
    int32_t Position() const override;
    int32_t Length() const override;
    void Seek(int32_t position) override { position_ = position; }

    int32_t Coding() const noexcept { return coding_; }
    int64_t DataStart() const noexcept { return dataStart_; }

private:
    UniqueFd file_;
    int64_t dataStart_;
    int32_t coding_;
    int bytesPerFrame_;
    int64_t position_ = 0;  // 64 bits so that long reads cannot wrap
    int64_t length_;        // frames, or -1: to the end of the file
    std::vector<uint8_t> raw_;
};

}  // namespace sonitor
