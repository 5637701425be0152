#include "effects/Decibels.h"

#include <array>
#include <cmath>

namespace sonitor {

namespace {

struct Tables {
    std::array<int32_t, 256> amplitude{};  // index decibels + 128
    std::array<int32_t, 256> power{};
    Tables() {
        for (int i = -126; i <= 127; ++i) {
            const double a = std::trunc(std::pow(10.0, i / 20.0) * 16777216.0 + 0.5);
            const double p = std::trunc(std::pow(10.0, i / 10.0) * 16777216.0 + 0.5);
            amplitude[static_cast<size_t>(i + 128)] =
                a >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(a);
            power[static_cast<size_t>(i + 128)] = p >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(p);
        }
    }
};

const Tables& DecibelTables() {
    static const Tables tables;
    return tables;
}

size_t Index(int decibels) {
    return static_cast<size_t>(decibels < -128 ? 0 : decibels > 127 ? 255 : decibels + 128);
}

}  // namespace

int32_t AmplitudeGain(int decibels) {
    return DecibelTables().amplitude[Index(decibels)];
}

int32_t PowerGain(int decibels) {
    return DecibelTables().power[Index(decibels)];
}

int DecibelFromGain(int64_t gain) {
    if (gain <= 0) return -127;
    const double db = 20.0 * std::log10(static_cast<double>(gain) / 16777216.0);
    const double rounded = gain >= 16777216 ? std::trunc(db + 0.5) : std::trunc(db - 0.5);
    return ClampDecibels(static_cast<int64_t>(rounded));
}

}  // namespace sonitor
