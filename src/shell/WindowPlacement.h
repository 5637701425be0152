#pragma once

namespace sonitor {

class SettingsStore;

// A rectangle in desktop pixels: left, top, width, height.
struct PlacementRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PlacementRect&, const PlacementRect&) = default;
};

// The main window's placement in the settings section "MainWindow": "X",
// "Y", "Width", "Height" (defaults 160, 80, 740, 627) of the restored
// window and "Maximized" (default true).
struct WindowPlacement {
    PlacementRect restored{160, 80, 740, 627};
    bool maximized = true;
};

WindowPlacement LoadWindowPlacement(const SettingsStore& settings);

enum class WindowShowState { Normal, Maximized, Minimized };

// What closing stores: a maximized window writes only "Maximized" = "1" (the
// restored rectangle stored earlier stays), a minimized one writes nothing,
// a normal one "Maximized" = "0" and its rectangle with the right edge
// limited to the desktop's right edge (desktopRight: one past the last
// column).
void StoreWindowPlacement(const SettingsStore& settings, WindowShowState state, PlacementRect window,
                          int desktopRight);

// A stored rectangle moved so that its top-left corner and at least 100
// pixels of each side lie on the screen: a placement stored off screen
// (negative, or on a monitor that is gone) would otherwise bring the window
// back where nobody can reach it. Sides below 100 pixels grow to 100; the
// size is otherwise kept.
PlacementRect ClampOntoScreen(PlacementRect stored, PlacementRect screen);

}  // namespace sonitor
