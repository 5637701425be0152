#include "foundation/Numbers.h"

#include <cmath>
#include <cstring>
#include <algorithm>
#include <limits>

namespace sonitor {

int32_t MillisecondsFromFrames(int64_t frames, int32_t sampleRate) {
    if (sampleRate <= 0) return 0;
    const int64_t ms = (frames / sampleRate) * 1000 + ((frames % sampleRate) * 1000) / sampleRate;
    return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int32_t FramesFromMilliseconds(int64_t milliseconds, int32_t sampleRate) {
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const int64_t whole = milliseconds / 1000;
    const int64_t part = (milliseconds % 1000) * sampleRate / 1000;
    int64_t frames;
    // Only absurd inputs overflow 64 bits; they saturate like any other
    // result outside the frame range.
    if (__builtin_mul_overflow(whole, static_cast<int64_t>(sampleRate), &frames) ||
        __builtin_add_overflow(frames, part, &frames)) {
        return (whole < 0) != (sampleRate < 0) ? static_cast<int32_t>(kMin) : static_cast<int32_t>(kMax);
    }
    if (frames < kMin) return static_cast<int32_t>(kMin);
    if (frames > kMax) return static_cast<int32_t>(kMax);
    return static_cast<int32_t>(frames);
}

void ZeroFrames(int32_t* buffer, int64_t frames, int channels) {
    if (buffer == nullptr || frames <= 0 || channels <= 0) return;
    std::memset(buffer, 0, static_cast<size_t>(frames) * static_cast<size_t>(channels) * sizeof(int32_t));
}

double GainFromDecibelByte(int value) {
    return std::pow(10.0, value * 0.05);
}

DecibelByte DecibelByteFromGain(double gain) {
    if (!(gain > 0.0)) return kDecibelSilence;              // NaN counts as silence too
    const double db = std::round(20.0 * std::log10(gain));  // halves go away from zero
    if (db <= -127.0) return -127;
    if (db >= 127.0) return 127;
    return static_cast<DecibelByte>(db);
}

}  // namespace sonitor
