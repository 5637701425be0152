#include "foundation/AudioSink.h"

#include <algorithm>
#include <limits>

namespace sonitor {

AudioSink::AudioSink(int32_t sampleRate, int channels) : sampleRate_(sampleRate), channels_(1) {
    if (channels <= 0 || channels > 255) {
        SetFailed();
    } else {
        channels_ = static_cast<uint8_t>(channels);
    }
}

void AudioSink::Write(const int32_t* buffer, int32_t frames) {
    if (frames <= 0 || (flags_ & kDiscardFlag) != 0) return;
    // Lengths are 32-bit frame counts; refuse to wrap past the largest one.
    if (frames > std::numeric_limits<int32_t>::max() - framesWritten_) {
        SetFailed();
        return;
    }
    WriteFrames(buffer, frames);
    framesWritten_ += frames;
}

void AudioSink::Truncate(int32_t frames) {
    if ((flags_ & kDiscardFlag) != 0 || frames > framesWritten_) return;
    framesWritten_ = std::max(frames, 0);
    TruncateTo(framesWritten_);
}

bool AudioSink::Close() {
    if (!closed_) {
        closed_ = true;
        if (!Finish()) SetFailed();
    }
    return !Failed();
}

NullSink::NullSink() : AudioSink(44100, 1) {
    SetFailed();
    SetDiscarding();
}

NullSink::~NullSink() {
    Close();
}

Ref<AudioSink> MakeNullSink() {
    return MakeRef<NullSink>();
}

}  // namespace sonitor
