#include "config/WindowBounds.h"

#include "config/ConfigItem.h"

#include <algorithm>

void WritePlacement(ConfigItem& item, const WindowBounds& bounds, int state)
{
    item.WriteInt("X", bounds.x);
    item.WriteInt("Y", bounds.y);
    item.WriteInt("W", bounds.width);
    item.WriteInt("H", bounds.height);
    item.WriteInt("WindowState", state);
}

StoredPlacement ReadPlacement(ConfigItem& item, int screenWidth, int screenHeight)
{
    StoredPlacement placement;
    WindowBounds& b = placement.bounds;
    b.x = item.ReadInt("X", -1);
    b.y = item.ReadInt("Y", -1);
    b.width = item.ReadInt("W", -1);
    b.height = item.ReadInt("H", -1);
    placement.state = item.ReadInt("WindowState", 0) & 0xFF;
    if (placement.state != WindowNormal)
        return placement;
    if (b.x == -1 || b.y == -1 || b.width == -1 || b.height == -1)
        return placement;
    b.width = std::min(b.width, screenWidth);
    b.height = std::min(b.height, screenHeight);
    if (b.x > screenWidth)
        b.x = screenWidth - b.width;
    if (b.y > screenHeight)
        b.y = screenHeight - b.height;
    placement.hasBounds = true;
    return placement;
}
