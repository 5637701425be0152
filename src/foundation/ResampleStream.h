#pragma once

#include <cstdint>
#include <vector>

#include "foundation/AudioSource.h"

namespace sonitor {

inline constexpr int kResampleTaps = 63;

// The polyphase design for one conversion stage.
struct ResampleDesign {
    int32_t sourceRate = 0;
    int32_t targetRate = 0;
    int phases = 1;       // P, 1..255
    int64_t step = 1;     // input frames advanced per P output frames (S/T ~ step/P)
    double cutoff = 0;    // relative to the source's Nyquist... see ResampleStream.cpp
    double beta = 0;      // Kaiser window
    std::vector<int32_t> taps;  // phases * 63 coefficients in Q16, phase-major
};

// The design of a single stage from sourceRate to targetRate. firstOfTwo
// selects the wider transition band of the first stage of a two-stage
// conversion.
ResampleDesign DesignResampler(int32_t sourceRate, int32_t targetRate, bool firstOfTwo = false);

// The rate converter alone: the source at targetRate, in one stage, or in
// two when targetRate is below a quarter of the source's rate. Rates of 0 or
// less give a source with status 3 that reads silence.
Ref<AudioSource> ResampleStream(Ref<AudioSource> source, int32_t targetRate);

}  // namespace sonitor
