#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/AudioSink.h"
#include "foundation/ProcessRunner.h"
#include "foundation/TempFolder.h"

namespace sonitor {

// Feeds an external encoder: every frame becomes 16-bit signed
// little-endian PCM ((x + 8) >> 4, saturated) on the encoder's standard
// input. The sink declares the rate and channel count the encoder reads, so
// the copy loop converts to them.
//
// The failed flag is set when the program cannot start, when it stops
// reading (its output would be cut short), and by Close() when it does not
// exit with status 0 or leaves no non-empty outputPath.
class PipeEncoderSink final : public AudioSink {
public:
    // Asked about every 100 ms while a write or Close() waits on the
    // encoder; true ends the encoder and fails the sink.
    using CancelCheck = std::function<bool()>;

    PipeEncoderSink(const std::vector<std::string>& arguments, std::string outputPath, int32_t sampleRate,
                    int channels, CancelCheck cancelled = {});
    ~PipeEncoderSink() override;

    const std::string& OutputPath() const { return outputPath_; }
    // errno of a failed start; 0 when the program started.
    int StartError() const { return process_.StartError(); }
    // The encoder's exit code once Close() has seen it end; -1 otherwise.
    int ExitCode() const { return process_.ExitCode(); }
    bool Cancelled() const { return cancelled_; }
    // The end of what the encoder wrote on its standard error (at most a few
    // lines), for a failure message; its chatter on success is never shown.
    std::string ErrorText() const;

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override;
    // A pipe cannot be taken back: cutting written frames fails the sink.
    void TruncateTo(int32_t frames) override;
    bool Finish() override;

private:
    bool Feed(const uint8_t* data, size_t size);
    bool AskCancel();

    TempFolder logFolder_{"encoder"};
    Process process_;
    std::string outputPath_;
    CancelCheck cancelCheck_;
    std::vector<uint8_t> buffer_;
    bool cancelled_ = false;
};

// 16-bit PCM from an internal sample: rounded, saturated.
int16_t ToPcm16(int32_t sample);

}  // namespace sonitor
