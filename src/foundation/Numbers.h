#pragma once

#include <cstdint>

namespace sonitor {

// (ms / 1000) * rate + ((ms % 1000) * rate) / 1000 in integer arithmetic,
// computed in 64 bits and limited to the 32-bit frame range.
int32_t FramesFromMilliseconds(int64_t milliseconds, int32_t sampleRate);

// Sets frames * channels samples to 0.
void ZeroFrames(int32_t* buffer, int64_t frames, int channels);

// A level in whole decibels, -127..127; -127 stands for silence.
using DecibelByte = int8_t;
inline constexpr DecibelByte kDecibelSilence = -127;

// 10 ^ (value * 0.05).
double GainFromDecibelByte(int value);
// 0 or less gives -127; otherwise 20 * log10(gain) rounded half away from
// zero and clipped to -127..127.
DecibelByte DecibelByteFromGain(double gain);

}  // namespace sonitor
