#include "foundation/AudioSource.h"

#include <algorithm>
#include <cstring>

namespace sonitor {

AudioSource::AudioSource(int32_t sampleRate, int32_t fullScale, int channels, uint8_t status)
    : sampleRate_(sampleRate), fullScale_(fullScale), channels_(0), status_(status) {
    SetFormat(sampleRate, channels);
}

void AudioSource::SetFormat(int32_t sampleRate, int channels) noexcept {
    sampleRate_ = sampleRate;
    if (sampleRate_ <= 0) {
        sampleRate_ = 44100;
        status_ = kSourceUnusable;
    }
    if (channels <= 0 || channels > 255) {
        channels_ = 1;
        status_ = kSourceUnusable;
    } else {
        channels_ = static_cast<uint8_t>(channels);
    }
}

NullSource::NullSource(uint8_t status) : AudioSource(11025, kFullScaleHeadroom, 1, status) {}

void NullSource::Read(int32_t* buffer, int32_t frames) {
    if (frames > 0) std::memset(buffer, 0, static_cast<size_t>(frames) * Channels() * sizeof(int32_t));
}

Ref<AudioSource> MakeNullSource(uint8_t status) {
    return MakeRef<NullSource>(status);
}

void ReadInPieces(AudioSource& source, int32_t* buffer, int64_t frames) {
    const int channels = source.Channels();
    while (frames > 0) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(frames, kMaxTransferFrames));
        source.Read(buffer, n);
        buffer += static_cast<size_t>(n) * channels;
        frames -= n;
    }
}

}  // namespace sonitor
