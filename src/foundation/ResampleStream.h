#pragma once

#include <cstdint>
#include <vector>

#include "foundation/AudioSource.h"

namespace sonitor {

inline constexpr int kResampleTaps = 63;

// The output is the Q16 dot product shifted right by this minus the block's
// headroom shift. Each phase's taps sum to 65536, so 16 gives a passband gain
// of 1: a converted file is as loud as the original, in every stage of a
// chain. (A shift of 15 would double the level at every stage and leave the
// limiter to squash it.) The declared full scale still doubles, as headroom
// for the filter's overshoot on steep transients.
inline constexpr int kResampleOutputShift = 16;

// The polyphase design for one conversion stage.
struct ResampleDesign {
    int32_t sourceRate = 0;
    int32_t targetRate = 0;
    int phases = 1;             // P, 1..255
    int64_t step = 1;           // N: input frames advanced per P output frames (S/T ~ N/P)
    double cutoff = 0;          // sinc cut-off (half gain) relative to the source's Nyquist frequency
    double beta = 0;            // Kaiser window
    std::vector<int32_t> taps;  // phases * 63 coefficients in Q16, phase-major
};

// The design of a single stage from sourceRate to targetRate. firstOfTwo
// selects the wider transition band of a stage that another stage follows.
// Rates of 0 or less give a design without taps.
ResampleDesign DesignResampler(int32_t sourceRate, int32_t targetRate, bool firstOfTwo = false);

struct ResampleStage {
    int32_t sourceRate;
    int32_t targetRate;
    bool firstOfTwo;
};

// The stages of a conversion: one, or, while the target is below a quarter
// of the source's rate, a first stage to twice the target followed by a
// halving, applied again to that first stage as often as needed. Empty for
// equal or non-positive rates.
std::vector<ResampleStage> PlanResampleStages(int32_t sourceRate, int32_t targetRate);

// The rate converter alone: the source at targetRate. Rates of 0 or less
// give a silent source with status 3; an equal rate gives the source itself.
Ref<AudioSource> ResampleStream(Ref<AudioSource> source, int32_t targetRate);

// Streams created after this call use the portable inner product instead of
// the vector one (for comparing the two; both give identical results).
void UsePlainResampleKernel(bool plain);

}  // namespace sonitor
