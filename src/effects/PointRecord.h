#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonitor {

// The point list of the envelope ("envelope.dat") and the equalizer
// ("equalizer.dat"): a count byte, then a position byte and a level byte per
// point. Positions are a fraction of 255 (of the selection, or of the
// logarithmic frequency axis); level 128 is unity.
struct CurvePoint {
    uint8_t position = 0;
    uint8_t level = 128;
    friend bool operator==(const CurvePoint&, const CurvePoint&) = default;
};

inline constexpr size_t kMaxCurvePoints = 64;

// (0, 128), (255, 128).
std::vector<CurvePoint> FlatCurve();

// Loads a record: a missing or empty file reads as no points; more than 64
// are cut to 64; positions are made non-decreasing. No points at all give
// the flat curve, which is written back at once.
std::vector<CurvePoint> LoadCurveFile(const std::string& path);
// Writes the count and the points, replacing the file (atomically).
bool SaveCurveFile(const std::string& path, const std::vector<CurvePoint>& points);

// The two files in the user data folder.
std::string EnvelopeFilePath();
std::string EqualizerFilePath();

}  // namespace sonitor
