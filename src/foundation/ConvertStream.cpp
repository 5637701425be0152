#include "foundation/ConvertStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "foundation/ResampleStream.h"

namespace sonitor {
namespace {

// Stands in for a conversion that cannot be made: silence of length 0 with
// status 3, in the requested format where that format is representable, so
// that a caller sizing buffers from its request reads no more than it made
// room for.
class UnusableSource final : public AudioSource {
public:
    UnusableSource(int32_t sampleRate, int channels, int32_t fullScale)
        : AudioSource(sampleRate, fullScale, channels, kSourceUnusable) {}
    void Read(int32_t* buffer, int32_t frames) override {
        if (frames > 0) std::memset(buffer, 0, static_cast<size_t>(frames) * Channels() * sizeof(int32_t));
    }
    int32_t Position() const override { return 0; }
    int32_t Length() const override { return 0; }
    void Seek(int32_t) override {}
};

Ref<AudioSource> Unusable(const Ref<AudioSource>& source, int32_t sampleRate, int channels) {
    const int32_t fullScale = source ? source->FullScale() : kFullScaleHeadroom;
    return MakeRef<UnusableSource>(sampleRate, channels, fullScale);
}

class ChannelConverter final : public AudioSource {
public:
    ChannelConverter(Ref<AudioSource> inner, int channels)
        : AudioSource(inner->SampleRate(), inner->FullScale(), channels, inner->Status()),
          inner_(std::move(inner)),
          block_(static_cast<size_t>(kMaxTransferFrames) * inner_->Channels()) {}

    void Read(int32_t* buffer, int32_t frames) override {
        while (frames > 0) {
            const int32_t n = std::min(frames, kMaxTransferFrames);
            inner_->Read(block_.data(), n);
            const int32_t* in = block_.data();
            if (Channels() == 1) {
                for (int32_t f = 0; f < n; ++f)
                    buffer[f] = in[2 * f];
            } else {
                for (int32_t f = 0; f < n; ++f)
                    buffer[2 * f] = buffer[2 * f + 1] = in[f];
            }
            buffer += static_cast<size_t>(n) * Channels();
            frames -= n;
        }
    }
    int32_t Position() const override { return inner_->Position(); }
    int32_t Length() const override { return inner_->Length(); }
    void Seek(int32_t position) override { inner_->Seek(position); }

private:
    Ref<AudioSource> inner_;
    std::vector<int32_t> block_;
};

// The inner source unchanged but labelled with another rate.
class RelabelledRate final : public AudioSource {
public:
    RelabelledRate(Ref<AudioSource> inner, int32_t sampleRate)
        : AudioSource(sampleRate, inner->FullScale(), inner->Channels(), inner->Status()),
          inner_(std::move(inner)) {}
    void Read(int32_t* buffer, int32_t frames) override { inner_->Read(buffer, frames); }
    int32_t Position() const override { return inner_->Position(); }
    int32_t Length() const override { return inner_->Length(); }
    void Seek(int32_t position) override { inner_->Seek(position); }

private:
    Ref<AudioSource> inner_;
};

bool MonoOrStereo(int channels) {
    return channels == 1 || channels == 2;
}

}  // namespace

Ref<AudioSource> ConvertChannels(Ref<AudioSource> source, int channels) {
    if (!source) return Unusable(source, 0, channels);
    if (source->Channels() == channels) return source;
    if (!MonoOrStereo(source->Channels()) || !MonoOrStereo(channels))
        return Unusable(source, source->SampleRate(), channels);
    return MakeRef<ChannelConverter>(std::move(source), channels);
}

Ref<AudioSource> ConvertStream(Ref<AudioSource> source, int32_t sampleRate, int channels) {
    // A rate read from a damaged header must never reach the resampler's
    // arithmetic.
    if (!source || sampleRate <= 0 || channels <= 0) return Unusable(source, sampleRate, channels);
    const int from = source->Channels();
    const bool newRate = sampleRate != source->SampleRate();
    if (channels == from) return newRate ? ResampleStream(std::move(source), sampleRate) : source;
    if (!MonoOrStereo(from) || !MonoOrStereo(channels)) return Unusable(source, sampleRate, channels);
    // Resample as few channels as possible.
    if (channels < from) {
        Ref<AudioSource> fewer = ConvertChannels(std::move(source), channels);
        return newRate ? ResampleStream(std::move(fewer), sampleRate) : fewer;
    }
    Ref<AudioSource> resampled = newRate ? ResampleStream(std::move(source), sampleRate) : source;
    return ConvertChannels(std::move(resampled), channels);
}

Ref<AudioSource> Varispeed(Ref<AudioSource> source, double factor) {
    if (!source) return Unusable(source, 0, 1);
    const int32_t rate = source->SampleRate();
    // Negated comparisons also turn away NaN; an infinite factor fails the
    // upper bound.
    if (!(factor > 0)) return Unusable(source, rate, source->Channels());
    const double played = std::trunc(static_cast<double>(rate) * factor);
    if (!(played >= 1) || played > std::numeric_limits<int32_t>::max())
        return Unusable(source, rate, source->Channels());
    const auto playedRate = static_cast<int32_t>(played);
    if (playedRate == rate) return source;
    return ResampleStream(MakeRef<RelabelledRate>(std::move(source), playedRate), rate);
}

}  // namespace sonitor
