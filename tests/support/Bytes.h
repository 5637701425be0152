#pragma once

// Byte strings for building files by hand, written independently of the
// code under test, and reading files back whole.
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"

namespace sonitor::test {

inline std::string Le16(uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
inline std::string Le32(uint32_t v) {
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}
inline std::string Be16(uint32_t v) {
    return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
inline std::string Be32(uint32_t v) {
    return Be16(v >> 16) + Be16(v & 0xFFFF);
}

// 16-bit little-endian sample data.
inline std::string Pcm16(const std::vector<int16_t>& samples) {
    std::string s;
    for (int16_t v : samples)
        s += Le16(static_cast<uint16_t>(v));
    return s;
}

// A plain PCM WAV file: the RIFF header, a 16-byte fmt chunk, any further
// chunks, then the data chunk (without a pad byte after odd data).
inline std::string PcmWav(uint32_t rate, uint16_t channels, uint16_t bits, const std::string& data,
                          const std::string& extraChunks = "") {
    const uint32_t align = channels * ((bits + 7u) / 8u);
    const std::string body = "WAVEfmt " + Le32(16) + Le16(1) + Le16(channels) + Le32(rate) +
                             Le32(rate * align) + Le16(align) + Le16(bits) + extraChunks + "data" +
                             Le32(static_cast<uint32_t>(data.size())) + data;
    return "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
}

// The whole file, or "<missing>" when it cannot be read.
inline std::string FileText(const std::string& path) {
    return ReadWholeFile(path).value_or("<missing>");
}

}  // namespace sonitor::test
