#pragma once
// The coverage map beside the preview: where one level of the loaded
// storage has plates, north up, the selected ones in orange. A slider or
// the mouse wheel chooses the level; dragging a rectangle selects the
// plates of that area at that level and below, as `--bbox` does.

#include "base/GeoBox.h"
#include "browse/Coverage.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

class ListSelection;
class PlateList;
class QLabel;
class QSlider;

class CoverageMap;

class CoverageView : public QWidget {
    Q_OBJECT
public:
    // The grid is at most this many cells a side: about the widest view.
    static constexpr int kViewSide = 1024;

    explicit CoverageView(QWidget* parent = nullptr);

    // What the map shows; null plates: nothing.
    void SetSource(const PlateList* plates, const ListSelection* selection);
    // The list changed (a load, a reload): the grid is built again when shown.
    void PlatesChanged();
    // Builds the grid now when it is out of date; shows the selection.
    void Refresh();
    // The selection changed: its marks are drawn again.
    void SelectionChanged();

    // The level shown, as a slippy zoom (0 = the world).
    int Zoom() const;
    void SetZoom(int zoom);
    const std::optional<Coverage>& Shown() const { return coverage_; }
    // The cell under a point of the map, or nothing off the map.
    std::optional<QPoint> CellAt(QPoint point) const;
    CoverageMap* Map() const { return map_; }

    // Every building of a grid runs inside this (a command of the window,
    // with its progress window); by default it just runs.
    std::function<void(const std::function<void()>& build)> RunBuild;
    // Called now and then while a grid is built (plates done, of count);
    // false stops the building.
    std::function<bool(int done, int count)> OnProgress;
    // A rectangle was dragged: the plates of zoom `fromZoom` and deeper
    // that overlap `box` are to be selected.
    std::function<void(const GeoBox& box, int fromZoom)> OnSelectArea;

    // Words the texts again, in the current language.
    void ApplyCaptions();

private:
    friend class CoverageMap;
    void Build(int zoom);
    void BuildNow(int zoom);
    void UpdatePicture();
    void DragDone(QPoint from, QPoint to);

    const PlateList* plates_ = nullptr;
    const ListSelection* selection_ = nullptr;
    bool stale_ = true;
    bool zoomChosen_ = false; // by the user; else the deepest level is shown
    std::optional<Coverage> coverage_;
    QImage picture_;
    QLabel* txtZoom_;
    QSlider* zoom_;
    CoverageMap* map_;
};

// The drawing of the grid, square and centred, and the dragged rectangle.
class CoverageMap : public QWidget {
    Q_OBJECT
public:
    explicit CoverageMap(CoverageView* view);
    // Where the grid lies in the widget.
    QRect Square() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    CoverageView* view_;
    std::optional<QPoint> dragFrom_;
    QPoint dragTo_;
};
