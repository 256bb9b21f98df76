#pragma once
// Window position and size as they are kept below an item ("X", "Y", "W",
// "H", "WindowState"), and how saved bounds are fitted to the screen.

class ConfigItem;

struct WindowBounds {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowBounds&) const = default;
};

// Window states as stored: 0 normal, 1 minimised, 2 maximised.
enum StoredWindowState : int { WindowNormal = 0, WindowMinimized = 1, WindowMaximized = 2 };

// What LoadWindowPlacement should do with a window.
struct StoredPlacement {
    int state = WindowNormal; // low 8 bits of "WindowState"
    bool hasBounds = false;   // false when any of X, Y, W, H is missing (-1)
    WindowBounds bounds;
};

// Writes "X", "Y", "W", "H", then "WindowState", in this order.
void WritePlacement(ConfigItem& item, const WindowBounds& bounds, int state);

// Reads the keys with defaults -1 (bounds) and 0 (state), creating missing
// ones. A window state other than 0 wins: the bounds are then not used.
// Otherwise the bounds are fitted into a usable screen area of the given
// size: not wider or higher than it, and moved back in when they begin
// beyond its right or bottom edge.
StoredPlacement ReadPlacement(ConfigItem& item, int screenWidth, int screenHeight);
