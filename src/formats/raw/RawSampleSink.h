#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/AudioSink.h"
#include "foundation/FileUtil.h"

namespace sonitor {

// What a header writer is told about the file it heads.
struct RawHeaderInfo {
    int32_t sampleRate = 0;
    int channels = 0;
    int32_t frames = 0;     // frames written so far
    int64_t dataBytes = 0;  // frames * bytes per frame
    bool final = false;     // false at creation, true when the file is finished
};

// Returns the header bytes; the header must keep its size between calls.
using RawHeaderWriter = std::function<std::string(const RawHeaderInfo&)>;

// Writes samples of one of the raw codings 1..6 (RawCoding) back to back,
// after an optional header that is written at creation and rewritten when
// the sink is closed. Write errors (a full disk) set the failed flag.
class RawSampleSink final : public AudioSink {
public:
    // An unknown coding or a file that cannot be created gives a failed
    // sink that writes nothing.
    RawSampleSink(const std::string& path, int32_t coding, int32_t sampleRate, int channels,
                  RawHeaderWriter header = nullptr);
    ~RawSampleSink() override;

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override;
    void TruncateTo(int32_t frames) override;
    bool Finish() override;

private:
    std::string Header(bool final) const;

    int32_t coding_;
    int bytesPerFrame_;
    UniqueFd file_;
    RawHeaderWriter header_;
    int64_t dataStart_ = 0;
    std::vector<uint8_t> raw_;
};

}  // namespace sonitor
