#include "formats/export/PipeEncoderSink.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "formats/Endian.h"
#include "foundation/FileUtil.h"

namespace sonitor {

namespace {

constexpr int kPollMs = 100;
// An encoder gets as long as it needs after its input ends; only the
// caller's cancel check stops it early. This bounds a hung one.
constexpr int kFinishBudgetMs = 6 * 3600 * 1000;
constexpr int32_t kBlockFrames = 8192;

}  // namespace

int16_t ToPcm16(int32_t sample) {
    const int64_t v = (static_cast<int64_t>(sample) + 8) >> 4;
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

PipeEncoderSink::PipeEncoderSink(const std::vector<std::string>& arguments, std::string outputPath,
                                 int32_t sampleRate, int channels, CancelCheck cancelled)
    : AudioSink(sampleRate, channels),
      outputPath_(std::move(outputPath)),
      cancelCheck_(std::move(cancelled)) {
    ProcessOptions options;
    options.input = ProcessInput::Pipe;
    // Writes wait in steps so that a stuck encoder can be cancelled.
    options.nonBlockingInput = true;
    options.output = ProcessOutput::Null;
    // Encoders talk on standard error (banners, progress, warnings); that
    // goes to a private file, read only when something went wrong.
    if (logFolder_.Ok()) {
        options.error = ProcessOutput::File;
        options.errorPath = logFolder_.File("stderr.txt");
    }
    process_ = Process::Start(arguments, options);
    if (!process_.Started()) SetFailed();
}

PipeEncoderSink::~PipeEncoderSink() {
    Close();
}

std::string PipeEncoderSink::ErrorText() const {
    if (!logFolder_.Ok()) return {};
    std::string text = ReadWholeFile(logFolder_.File("stderr.txt")).value_or(std::string());
    constexpr size_t kKeep = 600;
    if (text.size() > kKeep) {
        text.erase(0, text.size() - kKeep);
        const size_t newline = text.find('\n');
        if (newline != std::string::npos) text.erase(0, newline + 1);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool PipeEncoderSink::AskCancel() {
    if (!cancelled_ && cancelCheck_ && cancelCheck_()) cancelled_ = true;
    return cancelled_;
}

bool PipeEncoderSink::Feed(const uint8_t* data, size_t size) {
    const int fd = process_.InputFd();
    if (fd < 0) return false;
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            if (poll(&pfd, 1, kPollMs) == 0) {
                // Still full: the encoder may have hung.
                if (AskCancel()) return false;
            }
            continue;
        }
        return false;  // EPIPE: the encoder no longer reads
    }
    return true;
}

void PipeEncoderSink::WriteFrames(const int32_t* buffer, int32_t frames) {
    if (Failed() || frames <= 0) return;
    const int ch = Channels();
    while (frames > 0) {
        const int32_t n = std::min(frames, kBlockFrames);
        const size_t samples = static_cast<size_t>(n) * static_cast<size_t>(ch);
        buffer_.resize(samples * 2);
        for (size_t i = 0; i < samples; ++i)
            StoreLE16(&buffer_[i * 2], static_cast<uint16_t>(ToPcm16(buffer[i])));
        if (!Feed(buffer_.data(), buffer_.size())) {
            SetFailed();
            process_.CloseInput();
            return;
        }
        buffer += samples;
        frames -= n;
    }
}

void PipeEncoderSink::TruncateTo(int32_t frames) {
    if (frames < FramesWritten()) SetFailed();
}

bool PipeEncoderSink::Finish() {
    if (!process_.Started()) return false;
    process_.CloseInput();
    const int waited = process_.WaitWhile(kPollMs, kFinishBudgetMs, [this] { return AskCancel(); });
    if (waited != kProcessEnded || Failed() || cancelled_) return false;
    if (process_.ExitCode() != 0) return false;
    const std::optional<int64_t> size = FileSize(outputPath_);
    return size && *size > 0;
}

}  // namespace sonitor
