#pragma once

#include <cstdint>

#include "foundation/AudioSource.h"

namespace sonitor {

// A source that transforms another one (its upstream). Position and Length
// are the upstream's; Seek clears the processor's state (delay lines, filter
// memories) through Reset and then seeks the upstream.
class Processor : public AudioSource {
public:
    int32_t Position() const override { return upstream_->Position(); }
    int32_t Length() const override { return upstream_->Length(); }
    void Seek(int32_t position) override {
        Reset();
        upstream_->Seek(position);
    }

protected:
    // Delivers what upstream delivers: same rate, channels and full scale.
    explicit Processor(Ref<AudioSource> upstream)
        : Processor(upstream, upstream->SampleRate(), upstream->FullScale(), upstream->Channels()) {}
    Processor(Ref<AudioSource> upstream, int32_t sampleRate, int32_t fullScale, int channels)
        : AudioSource(sampleRate, fullScale, channels, upstream->Status()), upstream_(std::move(upstream)) {}

    virtual void Reset() {}
    AudioSource& Upstream() const { return *upstream_; }

    Ref<AudioSource> upstream_;
};

// A processor that works in place on the upstream's frames.
class InPlaceProcessor : public Processor {
public:
    void Read(int32_t* buffer, int32_t frames) final {
        upstream_->Read(buffer, frames);
        Process(buffer, frames);
    }

protected:
    using Processor::Processor;
    // frames * Channels() interleaved samples.
    virtual void Process(int32_t* samples, int32_t frames) = 0;
};

// The full scale declared by a processor that can add gain: doubled while it
// is at most 1048576.
inline int32_t GrownFullScale(int32_t fullScale) {
    return fullScale <= 1048576 ? fullScale * 2 : fullScale;
}

}  // namespace sonitor
