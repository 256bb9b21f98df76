#pragma once
// A BkList set up like the program's plate list (or the plugins editor's list)
// in a shown window, with an owner that counts the events it receives.

#include "widgets/BkList.h"
#include "widgets/ListHeader.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

struct ListOwner {
    struct Cell {
        int index;
        int section;
        QRect rect;
        unsigned state;
        QColor pen;
    };

    int clicks = 0;
    int cellCalls = 0;
    bool recordCells = false;
    std::vector<Cell> cells;
    std::vector<int> tracked;
    std::vector<int> removed;
    int enters = 0;
    int leaves = 0;

    void Click(CustomBkList*) { ++clicks; }
    // Draws nothing and says so, like a plate row whose record is there.
    bool DrawSection(CustomBkList*, QPainter& canvas, unsigned state, const QRect& rect, int section, int index)
    {
        ++cellCalls;
        if (recordCells)
            cells.push_back({index, section, rect, state, canvas.pen().color()});
        return true;
    }
    void Track(CustomBkList*, int index) { tracked.push_back(index); }
    void AutoRemove(CustomBkList*, int index) { removed.push_back(index); }
    void Enter(CustomBkList*, Qt::KeyboardModifiers, QPoint) { ++enters; }
    void Leave(CustomBkList*, Qt::KeyboardModifiers, QPoint) { ++leaves; }
};

inline constexpr int kRowHeight = 16;
inline constexpr int kVisibleRows = 10;
inline constexpr ColorRef kWhite = 0xFFFFFF;
inline constexpr ColorRef kGrid = 12615680;      // red 0, green 128, blue 192
inline constexpr ColorRef kHighlight = 8404992; // red 0, green 64, blue 128
inline constexpr ColorRef kHighlightText = 0x00FFFF; // yellow, to tell it from everything else

// Five sections like the plate list: N, Zoom, Size, Name, File.
inline const std::vector<int> kSectionWidths = {60, 50, 70, 200, 100};

class ListTest : public ::testing::Test {
protected:
    // Plate list: virtual, column lines, selection shown, extended multi-selection.
    void MakeList(BkListOptions options = {bkoVirtual, bkoColLines, bkoShowSelection, bkoShowBorder},
                  bool multiSelect = true, bool withHeader = true)
    {
        owner = ListOwner();
        window = std::make_unique<QWidget>();
        window->resize(700, 400);
        list = new BkList(window.get());
        list->SetOptions(options);
        list->SetMultiSelect(multiSelect);
        list->SetItemHeight(kRowHeight);
        list->SetBkColor(kWhite);
        list->SetGridColor(kGrid);
        list->SetHighlightColor(kHighlight);
        list->SetHighlightTextColor(kHighlightText);
        list->OnClick = Delegate<void(CustomBkList*)>::Bind<&ListOwner::Click>(&owner);
        list->OnDrawItemSection = CustomBkList::DrawSectionEvent::Bind<&ListOwner::DrawSection>(&owner);
        list->OnItemTrack = CustomBkList::ItemEvent::Bind<&ListOwner::Track>(&owner);
        list->OnItemAutoRemove = CustomBkList::ItemEvent::Bind<&ListOwner::AutoRemove>(&owner);
        list->OnMouseEnter = CustomBkList::MouseEvent::Bind<&ListOwner::Enter>(&owner);
        list->OnMouseLeave = CustomBkList::MouseEvent::Bind<&ListOwner::Leave>(&owner);
        if (withHeader) {
            header = MakeListHeader({"N", "Zoom", "Size", "Name", "File"}, kSectionWidths);
            list->SetHeader(header);
        }
        list->setGeometry(10, 10, 560, 300);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // Exactly kVisibleRows whole rows in the viewport.
        list->resize(list->width(), list->height() - list->viewport()->height() + kVisibleRows * kRowHeight);
        QApplication::processEvents();
        ASSERT_EQ(list->viewport()->height(), kVisibleRows * kRowHeight);
    }

    void GiveFocus()
    {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        list->setFocus();
        QApplication::processEvents();
        ASSERT_TRUE(list->hasFocus());
    }

    // A move without buttons through the window, as the platform delivers it:
    // the widget under the pointer gets the move, enter and leave events.
    void Hover(QPoint viewportPos) const
    {
        QTest::mouseMove(window->windowHandle(), list->viewport()->mapTo(window.get(), viewportPos));
        QApplication::processEvents();
    }
    void HoverWindow(QPoint windowPos) const
    {
        QTest::mouseMove(window->windowHandle(), windowPos);
        QApplication::processEvents();
    }

    QImage Shot() const { return list->viewport()->grab().toImage(); }

    static ColorRef At(const QImage& image, int x, int y)
    {
        const QRgb pixel = image.pixel(x, y);
        return Rgb(qRed(pixel), qGreen(pixel), qBlue(pixel));
    }

    QPoint RowPoint(int row, int x = 30) const { return QPoint(x, row * kRowHeight + kRowHeight / 2); }

    std::vector<int> Selected() const
    {
        std::vector<int> selected;
        list->Selection().ForEachSelected([&](int i) { selected.push_back(i); });
        return selected;
    }

    ListOwner owner;
    std::unique_ptr<QWidget> window;
    BkList* list = nullptr;
    QHeaderView* header = nullptr;
};
