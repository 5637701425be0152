#pragma once

#include <cstdint>

namespace sonitor {

// Q24 gains of whole decibels, built once: amplitude 10^(i/20) and power
// 10^(i/10) times 2^24, rounded, limited to 2^31 - 1, for i in -128..127;
// -128 and -127 are silence (0).
int32_t AmplitudeGain(int decibels);
int32_t PowerGain(int decibels);

// The whole decibels of a Q24 gain, rounded away from 0 dB, -127 for 0,
// limited to -127..127.
int DecibelFromGain(int64_t gain);

// A decibel value clamped to the DecibelByte range -127..127.
inline int ClampDecibels(int64_t decibels) {
    return decibels < -127 ? -127 : decibels > 127 ? 127 : static_cast<int>(decibels);
}

}  // namespace sonitor
