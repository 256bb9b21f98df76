#include "config/WindowPlacement.h"

#include "config/WindowBounds.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void SaveWindowPlacement(ConfigItem* item, QWidget* form)
{
    if (item == nullptr || form == nullptr)
        return;
    Qt::WindowStates states = form->windowState();
    int state = states.testFlag(Qt::WindowMinimized)   ? WindowMinimized
                : states.testFlag(Qt::WindowMaximized) ? WindowMaximized
                                                       : WindowNormal;
    // The frame's position with the client size: move() and resize() take
    // the same pair back.
    WritePlacement(*item, WindowBounds{form->x(), form->y(), form->width(), form->height()}, state);
}

void LoadWindowPlacement(ConfigItem* item, QWidget* form)
{
    if (item == nullptr || form == nullptr)
        return;
    QScreen* screen = form->screen() != nullptr ? form->screen() : QGuiApplication::primaryScreen();
    QSize usable = screen != nullptr ? screen->availableGeometry().size() : QSize();
    StoredPlacement placement = ReadPlacement(*item, usable.width(), usable.height());
    if (placement.state == WindowMinimized) {
        form->setWindowState(Qt::WindowMinimized);
        return;
    }
    if (placement.state == WindowMaximized) {
        form->setWindowState(Qt::WindowMaximized);
        return;
    }
    // Other non-zero codes name no state this program knows: leave the
    // window as it is rather than guess.
    if (placement.state != WindowNormal || !placement.hasBounds)
        return;
    const WindowBounds& b = placement.bounds;
    form->move(b.x, b.y);
    form->resize(b.width, b.height);
}
