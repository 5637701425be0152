#include "effects/PointRecord.h"

#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"

namespace sonitor {

std::vector<CurvePoint> FlatCurve() {
    return {CurvePoint{0, 128}, CurvePoint{255, 128}};
}

std::vector<CurvePoint> LoadCurveFile(const std::string& path) {
    std::vector<CurvePoint> points;
    const std::string bytes = ReadWholeFile(path).value_or(std::string());
    if (!bytes.empty()) {
        // The count byte may promise more points than the file holds: take
        // the whole points that are there.
        size_t count = static_cast<uint8_t>(bytes[0]);
        if (count > kMaxCurvePoints) count = kMaxCurvePoints;
        if (count > (bytes.size() - 1) / 2) count = (bytes.size() - 1) / 2;
        for (size_t k = 0; k < count; ++k) {
            CurvePoint point{static_cast<uint8_t>(bytes[1 + 2 * k]), static_cast<uint8_t>(bytes[2 + 2 * k])};
            if (!points.empty() && point.position < points.back().position)
                point.position = points.back().position;
            points.push_back(point);
        }
    }
    if (points.empty()) {
        points = FlatCurve();
        SaveCurveFile(path, points);
    }
    return points;
}

bool SaveCurveFile(const std::string& path, const std::vector<CurvePoint>& points) {
    const size_t count = points.size() < kMaxCurvePoints ? points.size() : kMaxCurvePoints;
    std::string bytes(1 + 2 * count, '\0');
    bytes[0] = static_cast<char>(count);
    for (size_t k = 0; k < count; ++k) {
        bytes[1 + 2 * k] = static_cast<char>(points[k].position);
        bytes[2 + 2 * k] = static_cast<char>(points[k].level);
    }
    return WriteFileAtomically(path, bytes);
}

std::string EnvelopeFilePath() {
    return JoinPath(UserDataFolder(), "envelope.dat");
}

std::string EqualizerFilePath() {
    return JoinPath(UserDataFolder(), "equalizer.dat");
}

}  // namespace sonitor
