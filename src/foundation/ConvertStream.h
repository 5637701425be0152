#pragma once

#include <cstdint>

#include "foundation/AudioSource.h"

namespace sonitor {

// The source at the given rate and channel count; the source itself when it
// already matches. Channels are converted before the rate when the target
// has fewer channels, after it otherwise. A rate of 0 or less, or a channel
// count outside 1..2 where a conversion is needed, gives a source with
// status 3.
Ref<AudioSource> ConvertStream(Ref<AudioSource> source, int32_t sampleRate, int channels);

// Between one and two channels: two to one keeps the left channel, one to
// two copies each sample into both. The source itself when it already has
// the count; any other pair gives a silent source with status 3.
Ref<AudioSource> ConvertChannels(Ref<AudioSource> source, int channels);

// The source played as if its rate were trunc(rate * factor), converted back
// to its own rate: speed and pitch both change by factor. A factor that is
// not positive (or NaN), or gives a rate below 1 Hz or beyond 32 bits, gives
// a source with status 3; one that leaves the rate unchanged gives the
// source itself.
Ref<AudioSource> Varispeed(Ref<AudioSource> source, double factor);

}  // namespace sonitor
