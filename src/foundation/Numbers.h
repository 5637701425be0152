#pragma once

#include <cstdint>

namespace sonitor {

// (ms / 1000) * rate + ((ms % 1000) * rate) / 1000 in integer arithmetic,
// computed in 64 bits and limited to the 32-bit frame range.
int32_t FramesFromMilliseconds(int64_t milliseconds, int32_t sampleRate);
// (frames / rate) * 1000 + ((frames % rate) * 1000) / rate in integer
// arithmetic (64-bit inside, limited to the 32-bit range); 0 for a rate of 0.
int32_t MillisecondsFromFrames(int64_t frames, int32_t sampleRate);

// The Q24 fixed-point product a * b / 2^24 of the mixers, envelopes and
// effects: each operand split into a high part h = a >> 12 and a low part
// l = a & 4095, the result ((la * hb) >> 12) + ((lb * ha) >> 12) + ha * hb
// in 32-bit wrap-around arithmetic; the product of the low parts is dropped.
// MulQ24(x, 1 << 24) == x exactly.
inline int32_t MulQ24(int32_t a, int32_t b) {
    const int32_t ha = a >> 12;
    const int32_t hb = b >> 12;
    const uint32_t la = static_cast<uint32_t>(a) & 4095u;
    const uint32_t lb = static_cast<uint32_t>(b) & 4095u;
    // Unsigned arithmetic gives the wrap-around without undefined behaviour;
    // the shifts of the cross products are arithmetic, as on signed values.
    const auto cross = [](uint32_t low, int32_t high) {
        return static_cast<uint32_t>(static_cast<int32_t>(low * static_cast<uint32_t>(high)) >> 12);
    };
    return static_cast<int32_t>(cross(la, hb) + cross(lb, ha) +
                                static_cast<uint32_t>(ha) * static_cast<uint32_t>(hb));
}

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
