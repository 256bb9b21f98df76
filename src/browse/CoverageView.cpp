#include "browse/CoverageView.h"

#include "base/ListSelection.h"
#include "base/Translate.h"
#include "browse/PlateList.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {

QString Tr(const char* text) { return QString::fromUtf8(Translate(text)); }

} // namespace

CoverageView::CoverageView(QWidget* parent) : QWidget(parent)
{
    setObjectName("coverage");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    zoom_ = new QSlider(Qt::Horizontal, this);
    zoom_->setObjectName("sldZoom");
    zoom_->setRange(0, 0);
    zoom_->setPageStep(1);
    txtZoom_ = new QLabel(this);
    txtZoom_->setObjectName("txtZoom");
    txtZoom_->setWordWrap(true);
    map_ = new CoverageMap(this);
    column->addWidget(zoom_);
    column->addWidget(map_, 1);
    column->addWidget(txtZoom_);
    connect(zoom_, &QSlider::valueChanged, this, [this](int zoom) {
        zoomChosen_ = true;
        Build(zoom);
    });
    ApplyCaptions();
}

void CoverageView::SetSource(const PlateList* plates, const ListSelection* selection)
{
    plates_ = plates;
    selection_ = selection;
    PlatesChanged();
}

void CoverageView::PlatesChanged()
{
    stale_ = true;
    coverage_.reset();
    picture_ = QImage();
    map_->update();
}

void CoverageView::Refresh()
{
    if (stale_)
        Build(zoomChosen_ ? Zoom() : CoverageBuilder::kDeepest);
}

void CoverageView::SelectionChanged()
{
    if (!coverage_ || plates_ == nullptr || selection_ == nullptr)
        return;
    MarkSelection(coverage_->grid, *plates_, *selection_);
    UpdatePicture();
}

int CoverageView::Zoom() const { return zoom_->value(); }

void CoverageView::SetZoom(int zoom) { zoom_->setValue(zoom); }

void CoverageView::Build(int zoom)
{
    if (RunBuild)
        RunBuild([this, zoom] { BuildNow(zoom); });
    else
        BuildNow(zoom);
}

void CoverageView::BuildNow(int zoom)
{
    stale_ = false;
    coverage_.reset();
    if (plates_ != nullptr) {
        const int count = plates_->Count();
        coverage_ = BuildCoverage(*plates_, zoom, kViewSide, [this, count](int done) {
            return !OnProgress || OnProgress(done, count);
        });
        if (!coverage_) // stopped: asked again when next shown
            stale_ = true;
    }
    if (coverage_) {
        if (selection_ != nullptr)
            MarkSelection(coverage_->grid, *plates_, *selection_);
        // The levels that have plates, and the one shown, without building again.
        const QSignalBlocker quiet(zoom_);
        zoom_->setRange(0, std::max({coverage_->DeepestZoom(), coverage_->grid.Zoom(), 0}));
        zoom_->setValue(coverage_->grid.Zoom());
    }
    UpdatePicture();
}

void CoverageView::UpdatePicture()
{
    picture_ = QImage();
    if (coverage_) {
        const int side = coverage_->grid.Side();
        const std::vector<uint8_t> pixels = CoveragePicture(coverage_->grid);
        picture_ = QImage(pixels.data(), side, side, side * 4, QImage::Format_RGBA8888).copy();
    }
    ApplyCaptions();
    map_->update();
}

void CoverageView::ApplyCaptions()
{
    zoom_->setToolTip(Tr("The level the map shows; the mouse wheel over the map changes it too"));
    map_->setToolTip(Tr("Where the level has plates, north up; drag a rectangle to select its plates at this level and below"));
    if (!coverage_) {
        txtZoom_->setText("-");
        return;
    }
    const CoverageLevel& level = coverage_->levels[static_cast<std::size_t>(coverage_->grid.Zoom())];
    const int block = 1 << coverage_->grid.Shift();
    txtZoom_->setText(QString::fromUtf8(Translate("Level %1 (z %2): %3 plates")).arg(coverage_->grid.Zoom() + 1)
                          .arg(coverage_->grid.Zoom()).arg(level.tiles) +
                      (block > 1 ? QString::fromUtf8(Translate(", a dot %1 x %1 plates")).arg(block) : QString()));
}

std::optional<QPoint> CoverageView::CellAt(QPoint point) const
{
    if (!coverage_)
        return std::nullopt;
    const QRect square = map_->Square();
    if (!square.contains(point) || square.width() <= 0)
        return std::nullopt;
    const int side = coverage_->grid.Side();
    const int x = static_cast<int>(static_cast<int64_t>(point.x() - square.left()) * side / square.width());
    const int y = static_cast<int>(static_cast<int64_t>(point.y() - square.top()) * side / square.height());
    return QPoint(std::clamp(x, 0, side - 1), std::clamp(y, 0, side - 1));
}

void CoverageView::DragDone(QPoint from, QPoint to)
{
    if (!coverage_ || !OnSelectArea)
        return;
    // Points beyond the map's edge count as its edge.
    const QRect square = map_->Square();
    auto inside = [&square](QPoint p) {
        return QPoint(std::clamp(p.x(), square.left(), square.right()), std::clamp(p.y(), square.top(), square.bottom()));
    };
    const std::optional<QPoint> a = CellAt(inside(from));
    const std::optional<QPoint> b = CellAt(inside(to));
    if (!a || !b)
        return;
    const int shift = coverage_->grid.Shift();
    const uint32_t x0 = static_cast<uint32_t>(std::min(a->x(), b->x())) << shift;
    const uint32_t y0 = static_cast<uint32_t>(std::min(a->y(), b->y())) << shift;
    const uint32_t x1 = static_cast<uint32_t>(std::max(a->x(), b->x()) + 1) << shift;
    const uint32_t y1 = static_cast<uint32_t>(std::max(a->y(), b->y()) + 1) << shift;
    const int zoom = coverage_->grid.Zoom();
    OnSelectArea(GeoBox::OfTiles(zoom, x0, y0, x1, y1), zoom);
}

CoverageMap::CoverageMap(CoverageView* view) : QWidget(view), view_(view)
{
    setObjectName("map");
    setMinimumSize(16, 16);
    setMouseTracking(false);
}

QRect CoverageMap::Square() const
{
    const int side = std::max(1, std::min(width(), height()));
    return QRect((width() - side) / 2, (height() - side) / 2, side, side);
}

void CoverageMap::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect square = Square();
    // Where there are no plates the picture is transparent: a pale ground.
    painter.fillRect(square, QColor(236, 236, 236));
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(square.adjusted(0, 0, -1, -1));
    if (!view_->picture_.isNull())
        painter.drawImage(square, view_->picture_);
    if (dragFrom_) {
        painter.setPen(QPen(QColor(200, 40, 40), 1, Qt::DashLine));
        painter.setBrush(QColor(200, 40, 40, 40));
        painter.drawRect(QRect(*dragFrom_, dragTo_).normalized());
    }
}

void CoverageMap::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !view_->CellAt(event->position().toPoint()))
        return;
    dragFrom_ = event->position().toPoint();
    dragTo_ = *dragFrom_;
    update();
}

void CoverageMap::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragFrom_)
        return;
    dragTo_ = event->position().toPoint();
    update();
}

void CoverageMap::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragFrom_)
        return;
    const QPoint from = *dragFrom_;
    dragFrom_.reset();
    update();
    view_->DragDone(from, event->position().toPoint());
}

void CoverageMap::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
        view_->SetZoom(view_->Zoom() + steps);
    event->accept();
}
