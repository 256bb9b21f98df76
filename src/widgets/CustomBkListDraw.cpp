// Painting of the list control: rows, cells, grid lines, selection and focus frames.
#include "widgets/CustomBkList.h"

#include <QHeaderView>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>

#include <algorithm>

namespace {

ColorRef ToRef(const QColor& color)
{
    return Rgb(color.red(), color.green(), color.blue());
}

QColor ToQColor(ColorRef color)
{
    return QColor(RedOf(color), GreenOf(color), BlueOf(color));
}

Qt::PenStyle PenStyleOf(BkGridStyle style)
{
    switch (style) {
    case BkGridStyle::Dash:
        return Qt::DashLine;
    case BkGridStyle::Dot:
        return Qt::DotLine;
    case BkGridStyle::DashDot:
        return Qt::DashDotLine;
    case BkGridStyle::DashDotDot:
        return Qt::DashDotDotLine;
    case BkGridStyle::Clear:
        return Qt::NoPen;
    default:
        return Qt::SolidLine;
    }
}

// The off-screen row of bkoDoubleBuffer, shared by all lists; it only grows.
QImage& RowBuffer(QSize size)
{
    static QImage buffer;
    if (buffer.width() < size.width() || buffer.height() < size.height())
        buffer = QImage(std::max(buffer.width(), size.width()), std::max(buffer.height(), size.height()),
                        QImage::Format_ARGB32_Premultiplied);
    return buffer;
}

} // namespace

QColor CustomBkList::ResolveColor(ColorRef color) const
{
    if (!IsSystemColor(color))
        return ToQColor(color);
    const QPalette& colors = palette();
    switch (SystemColorIndex(color)) {
    case 5: // window
        return colors.color(QPalette::Base);
    case 7: // menu text
    case 8: // window text
        return colors.color(QPalette::Text);
    case 13:
        return colors.color(QPalette::Highlight);
    case 14:
        return colors.color(QPalette::HighlightedText);
    case 15: // button face
        return colors.color(QPalette::Button);
    case 16: // button shadow
        return colors.color(QPalette::Dark);
    case 17: // grey text
        return colors.color(QPalette::Disabled, QPalette::Text);
    case 18:
        return colors.color(QPalette::ButtonText);
    case 20: // button highlight
        return colors.color(QPalette::Light);
    case 21: // dark shadow
        return colors.color(QPalette::Shadow);
    case 22:
        return colors.color(QPalette::Midlight);
    case 23:
        return colors.color(QPalette::ToolTipText);
    case 24:
        return colors.color(QPalette::ToolTipBase);
    default:
        return colors.color(QPalette::Window);
    }
}

ColorRef CustomBkList::SelectionColor() const
{
    const ColorRef highlight = ToRef(ResolveColor(highlightColor_));
    return blendDraw_ ? BlendColor(ToRef(ResolveColor(bkColor_)), highlight, 2) : highlight;
}

ColorRef CustomBkList::SelectionFrameColor() const
{
    const ColorRef highlight = ToRef(ResolveColor(highlightColor_));
    return blendDraw_ ? BlendColor(ToRef(ResolveColor(bkColor_)), highlight, 8) : highlight;
}

ColorRef CustomBkList::EffectiveGridColor() const
{
    const ColorRef grid = ToRef(ResolveColor(gridColor_));
    return blendDraw_ ? BlendColor(ToRef(ResolveColor(bkColor_)), grid, 2) : grid;
}

void CustomBkList::FillBackground(QPainter& p, const QRect& rect)
{
    if (background_.isNull())
        p.fillRect(rect, ResolveColor(bkColor_));
    else // tiles aligned to the viewport's origin, whatever part is painted
        p.drawTiledPixmap(rect, background_,
                          QPoint(rect.x() % background_.width(), rect.y() % background_.height()));
}

void CustomBkList::FillDefault(QPainter& p, const QRect& rect, unsigned state, const QColor& back)
{
    if ((state & bkisSelected) && options_.Has(bkoShowSelection))
        p.fillRect(rect, back);
    else
        FillBackground(p, rect);
}

void CustomBkList::DrawGridLine(QPainter& p, QPoint from, QPoint to, BkGridStyle style, const QColor& grid,
                                const QColor& back)
{
    const QRect line(from, to);
    p.fillRect(line, back); // the gaps of broken lines show the background
    if (style == BkGridStyle::InsideFrame) {
        p.fillRect(line, QBrush(grid, Qt::Dense4Pattern));
        return;
    }
    if (style == BkGridStyle::Clear)
        return;
    p.setPen(QPen(grid, 1, PenStyleOf(style)));
    p.drawLine(from, to);
}

void CustomBkList::paintEvent(QPaintEvent* event)
{
    QPainter p(viewport());
    const QRect clip = event->rect();
    QRegion rest(viewport()->rect());
    const int count = ItemsCount();
    const int width = viewport()->width();
    const int height = viewport()->height();
    const bool hasFocus = this->hasFocus();
    const unsigned disabled = isEnabled() ? 0u : bkisDisabled;

    const auto draw = [&](int index, const QRect& rect) {
        rest -= rect;
        if (!rect.intersects(clip))
            return;
        unsigned state = disabled;
        if (selection_->IsSelected(index))
            state |= bkisSelected;
        if (index == selection_->Focus() && hasFocus)
            state |= bkisFocused;
        DrawItem(p, index, rect, state);
    };

    if (IsColumnar()) {
        const int rows = RowsPerColumn();
        for (long long column = horizontalScrollBar()->value(), x = 0; x < width; ++column, x += columnWidth_)
            for (int row = 0; row < rows; ++row) {
                const long long index = column * rows + row;
                if (index >= count)
                    break;
                draw(static_cast<int>(index), QRect(static_cast<int>(x), row * itemHeight_, columnWidth_, itemHeight_));
            }
    } else {
        for (int index = TopIndex(), y = 0; index < count && y < height; ++index) {
            const int rowHeight = RowHeight(index);
            draw(index, QRect(0, y, width, rowHeight));
            y += rowHeight;
        }
    }
    for (const QRect& rect : rest.intersected(clip))
        FillBackground(p, rect);
}

void CustomBkList::DrawItem(QPainter& screen, int index, const QRect& row, unsigned state)
{
    QRect rect = row; // shrinks by the grid lines
    const bool buffered = options_.Has(bkoDoubleBuffer);
    QPainter bufferPainter;
    if (buffered) {
        bufferPainter.begin(&RowBuffer(row.size()));
        bufferPainter.setFont(screen.font());
        bufferPainter.translate(-row.topLeft());
    }
    QPainter& p = buffered ? bufferPainter : screen;
    p.save();

    const bool showSelected = (state & bkisSelected) && options_.Has(bkoShowSelection);
    QColor text;
    if (state & bkisDisabled)
        text = QColor(0x80, 0x80, 0x80);
    else if (options_.Has(bkoTrackItem) && index == tracked_)
        text = ResolveColor(trackItemColor_);
    else if (showSelected) // on an unhighlighted row the highlight text colour may be unreadable
        text = ResolveColor(highlightTextColor_);
    else
        text = palette().color(QPalette::Text);
    const QColor back = showSelected ? ToQColor(SelectionColor()) : ResolveColor(bkColor_);
    const QColor grid = ToQColor(EffectiveGridColor());

    if (options_.Has(bkoColLines) && IsColumnar()) {
        DrawGridLine(p, rect.topRight(), rect.bottomRight(), colGrid_, grid, back);
        rect.setRight(rect.right() - 1);
    }
    if (options_.Has(bkoRowLines)) {
        DrawGridLine(p, rect.bottomLeft(), rect.bottomRight(), rowGrid_, grid, back);
        rect.setBottom(rect.bottom() - 1);
    }
    DrawRowContent(p, index, rect, state, text, back);

    p.setBrush(Qt::NoBrush);
    if (state & bkisSelected) {
        p.setPen(ToQColor(SelectionFrameColor()));
        p.drawRect(rect.adjusted(0, 0, -1, -1));
    }
    if ((state & bkisFocused) && rect.width() > 2 && rect.height() > 2) {
        // A dotted frame just inside the selection frame, so both stay visible.
        QPen dotted(text, 1);
        dotted.setDashPattern({1.0, 1.0});
        p.setPen(dotted);
        p.drawRect(rect.adjusted(1, 1, -2, -2));
    }
    p.restore();
    if (buffered) {
        bufferPainter.end();
        screen.drawImage(row.topLeft(), RowBuffer(row.size()), QRect(QPoint(0, 0), row.size()));
    }
}

void CustomBkList::DrawRowContent(QPainter& p, int index, QRect rect, unsigned state, const QColor& text,
                                  const QColor& back)
{
    const int textFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    const bool cellBackgrounds = UsesSections() && OnDrawItemSectionBk;
    if (!cellBackgrounds) {
        p.setPen(text);
        if (!(OnDrawItemBk && OnDrawItemBk(this, p, state, rect, index)))
            FillDefault(p, rect, state, back);
    }
    if (!UsesSections()) {
        p.setPen(text);
        if (!(OnDrawItem && OnDrawItem(this, p, state, rect, index)) && !IsVirtual())
            p.drawText(rect, textFlags, ItemText(index));
        return;
    }

    const int width = viewport()->width();
    const QColor grid = ToQColor(EffectiveGridColor());
    const QString itemText = IsVirtual() ? QString() : ItemText(index);
    int cellsEnd = rect.left();
    for (int visual = 0; visual < header_->count(); ++visual) {
        const int section = header_->logicalIndex(visual);
        if (header_->isSectionHidden(section))
            continue;
        const int left = header_->sectionViewportPosition(section);
        const int right = std::min(left + header_->sectionSize(section), width); // one past the cell
        if (left >= width)
            break;
        if (right <= std::max(left, 0))
            continue;
        cellsEnd = std::max(cellsEnd, right);
        QRect cell(QPoint(left, rect.top()), QPoint(right - 1, rect.bottom()));
        if (options_.Has(bkoColLines)) {
            DrawGridLine(p, cell.topRight(), cell.bottomRight(), colGrid_, grid, back);
            cell.setRight(cell.right() - 1);
        }
        if (cell.width() <= 0)
            continue;
        p.save();
        p.setClipRect(cell, Qt::IntersectClip); // a cell never paints over its neighbours
        p.setPen(text);
        if (cellBackgrounds && !OnDrawItemSectionBk(this, p, state, cell, section, index))
            FillDefault(p, cell, state, back);
        p.setPen(text);
        if (!(OnDrawItemSection && OnDrawItemSection(this, p, state, cell, section, index)) && !IsVirtual())
            p.drawText(cell, textFlags, SectionText(itemText, sectionDelimiters_, section).toString());
        p.restore();
    }
    if (cellBackgrounds && cellsEnd <= rect.right())
        FillDefault(p, QRect(QPoint(cellsEnd, rect.top()), rect.bottomRight()), state, back);
}
