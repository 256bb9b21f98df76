#pragma once
// Storing and restoring a window's position, size and state under an item.

class ConfigItem;
class QWidget;

// With no item or no window, nothing.
void SaveWindowPlacement(ConfigItem* item, QWidget* form);

// With no item or no window, nothing. A stored minimised or maximised state
// is applied and the bounds are left alone; otherwise complete bounds are
// fitted to the available area of the window's screen and applied.
void LoadWindowPlacement(ConfigItem* item, QWidget* form);
