#include "shell/WindowPlacement.h"

#include <algorithm>

#include "foundation/SettingsStore.h"

namespace sonitor {

namespace {

constexpr char kSection[] = "MainWindow";
// Smaller than this a stored size is not worth keeping.
constexpr int kSmallestSide = 100;
// How much of a window must lie on the screen to be moved back by hand.
constexpr int kReachable = 100;

}  // namespace

WindowPlacement LoadWindowPlacement(const SettingsStore& settings) {
    WindowPlacement placement;
    PlacementRect& r = placement.restored;
    r.x = settings.ReadInt(kSection, "X", r.x);
    r.y = settings.ReadInt(kSection, "Y", r.y);
    r.width = settings.ReadInt(kSection, "Width", r.width);
    r.height = settings.ReadInt(kSection, "Height", r.height);
    placement.maximized = settings.ReadBool(kSection, "Maximized", placement.maximized);
    return placement;
}

void StoreWindowPlacement(const SettingsStore& settings, WindowShowState state, PlacementRect window,
                          int desktopRight) {
    if (state == WindowShowState::Minimized) return;
    if (state == WindowShowState::Maximized) {
        settings.WriteBool(kSection, "Maximized", true);
        return;
    }
    settings.WriteBool(kSection, "Maximized", false);
    const int right = std::min(window.x + window.width, desktopRight);
    settings.WriteInt(kSection, "X", window.x);
    settings.WriteInt(kSection, "Y", window.y);
    settings.WriteInt(kSection, "Width", right - window.x);
    settings.WriteInt(kSection, "Height", window.height);
}

PlacementRect ClampOntoScreen(PlacementRect stored, PlacementRect screen) {
    PlacementRect r = stored;
    r.width = std::max(r.width, kSmallestSide);
    r.height = std::max(r.height, kSmallestSide);
    if (screen.width <= 0 || screen.height <= 0) return r;
    // The top-left corner on the screen and enough of the window inside it
    // to take hold of; a window larger than the screen keeps its size.
    const int reachX = std::min(r.width, kReachable);
    const int reachY = std::min(r.height, kReachable);
    r.x = std::clamp(r.x, screen.x, std::max(screen.x, screen.x + screen.width - reachX));
    r.y = std::clamp(r.y, screen.y, std::max(screen.y, screen.y + screen.height - reachY));
    return r;
}

}  // namespace sonitor
