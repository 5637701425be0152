#pragma once

#include <cstdint>

#include "foundation/AudioSource.h"

namespace sonitor {

// The processors of the effects that are stream processors, for the apply
// path, the dialogs' preview and tests. Parameters as the dialogs hold them
// (already validated).

// Delay and modulation.
Ref<AudioSource> CreateEcho(Ref<AudioSource> source, int32_t milliseconds, int32_t gainPercent);
Ref<AudioSource> CreateReverb(Ref<AudioSource> source, int32_t levelPercent, int32_t milliseconds);
// Phaser (modulation and depth 0) and flanger.
Ref<AudioSource> CreateModulatedDelay(Ref<AudioSource> source, int32_t milliseconds, double modulationHz,
                                      int32_t depthPercent, int32_t gainPercent);
Ref<AudioSource> CreateChorus(Ref<AudioSource> source, int32_t milliseconds, double modulationHz,
                              int32_t depthPercent, int32_t gainPercent);
Ref<AudioSource> CreateDistortion(Ref<AudioSource> source, int level, double degree);
Ref<AudioSource> CreateOnePoleHighPass(Ref<AudioSource> source, double frequency);
Ref<AudioSource> CreateOnePoleLowPass(Ref<AudioSource> source, double frequency);
Ref<AudioSource> CreateAmRadio(Ref<AudioSource> source);
Ref<AudioSource> CreateTelephone(Ref<AudioSource> source);

// Dynamics.
Ref<AudioSource> CreateCompressor(Ref<AudioSource> source, int thresholdDb, int ratioIndex, int limitDb);
Ref<AudioSource> CreateStereoPan(Ref<AudioSource> source, int pan);

}  // namespace sonitor
