// Behaviour of the list control: focus, selection, scrolling, input.
// Painting is in CustomBkListDraw.cpp; the text items of the lists that
// are not virtual (text lists, log lists) in CustomBkListItems.cpp.
#include "widgets/CustomBkList.h"

#include <QCursor>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

CustomBkList::CustomBkList(QWidget* parent) : QAbstractScrollArea(parent)
{
    itemHeight_ = fontMetrics().height() + 2;
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    // Every pixel of the viewport is painted by the list itself.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    ApplyBorder();
    UpdateScrollBars();
}

CustomBkList::~CustomBkList()
{
    // The header may be our child and die after this object is no longer a
    // CustomBkList: its signals must not reach us any more.
    disconnect(headerDestroyed_);
    if (header_)
        header_->disconnect(this);
}

// ---------------------------------------------------------------- geometry

bool CustomBkList::UsesSections() const
{
    return header_ && !IsColumnar() && header_->count() - header_->hiddenSectionCount() > 0;
}

int CustomBkList::RowHeight(int index) const
{
    if (options_.Has(bkoVariableHeight) && !IsColumnar() && OnMeasureItem)
        return std::max(1, OnMeasureItem(const_cast<CustomBkList*>(this), index));
    return itemHeight_;
}

int CustomBkList::RowsPerColumn() const
{
    return std::max(1, viewport()->height() / itemHeight_);
}

int CustomBkList::FullRowsFrom(int top) const
{
    const int height = viewport()->height();
    if (!options_.Has(bkoVariableHeight))
        return std::max(1, height / itemHeight_);
    int rows = 0;
    for (int i = std::max(top, 0), y = 0; i < ItemsCount(); ++i, ++rows) {
        y += RowHeight(i);
        if (y > height)
            break;
    }
    return std::max(1, rows);
}

int CustomBkList::FullRowsToEnd() const
{
    const int height = viewport()->height();
    if (!options_.Has(bkoVariableHeight))
        return std::max(1, height / itemHeight_);
    int rows = 0;
    for (int i = ItemsCount() - 1, y = 0; i >= 0; --i, ++rows) {
        y += RowHeight(i);
        if (y > height)
            break;
    }
    return std::max(1, rows);
}

int CustomBkList::PageRows() const
{
    return IsColumnar() ? RowsPerColumn() : FullRowsFrom(TopIndex());
}

int CustomBkList::TopIndex() const
{
    if (IsColumnar())
        return horizontalScrollBar()->value() * RowsPerColumn();
    return verticalScrollBar()->value();
}

void CustomBkList::SetTopIndex(int index)
{
    index = std::max(index, 0);
    if (IsColumnar())
        horizontalScrollBar()->setValue(index / RowsPerColumn());
    else
        verticalScrollBar()->setValue(index);
}

void CustomBkList::EnsureVisible(int index)
{
    if (index < 0 || index >= ItemsCount())
        return;
    if (IsColumnar()) {
        const int column = index / RowsPerColumn();
        const int left = horizontalScrollBar()->value();
        const int visible = std::max(1, viewport()->width() / columnWidth_);
        if (column < left)
            horizontalScrollBar()->setValue(column);
        else if (column >= left + visible)
            horizontalScrollBar()->setValue(column - visible + 1);
        return;
    }
    const int top = TopIndex();
    if (index < top) {
        SetTopIndex(index);
        return;
    }
    if (!options_.Has(bkoVariableHeight)) {
        const int rows = FullRowsFrom(top);
        if (index >= top + rows)
            SetTopIndex(index - rows + 1);
        return;
    }
    // Variable rows: the lowest top that still shows the item whole.
    const int height = viewport()->height();
    int first = index;
    for (int y = RowHeight(index); first > top && y + RowHeight(first - 1) <= height; --first)
        y += RowHeight(first - 1);
    if (first > top)
        SetTopIndex(first);
}

QRect CustomBkList::ItemRect(int index) const
{
    const int count = ItemsCount();
    if (index < 0 || index >= count)
        return {};
    const int width = viewport()->width();
    const int height = viewport()->height();
    if (IsColumnar()) {
        const int rows = RowsPerColumn();
        const long long column = index / rows - horizontalScrollBar()->value();
        const long long x = column * columnWidth_;
        if (column < 0 || x >= width)
            return {};
        return QRect(static_cast<int>(x), (index % rows) * itemHeight_, columnWidth_, itemHeight_);
    }
    const int top = TopIndex();
    if (index < top)
        return {};
    if (!options_.Has(bkoVariableHeight)) {
        const long long y = static_cast<long long>(index - top) * itemHeight_;
        return y < height ? QRect(0, static_cast<int>(y), width, itemHeight_) : QRect();
    }
    int y = 0;
    for (int i = top; i < index; ++i) {
        y += RowHeight(i);
        if (y >= height)
            return {};
    }
    return QRect(0, y, width, RowHeight(index));
}

int CustomBkList::ItemAt(QPoint pos) const
{
    const int count = ItemsCount();
    if (pos.x() < 0 || pos.y() < 0 || pos.x() >= viewport()->width() || pos.y() >= viewport()->height())
        return -1;
    long long index;
    if (IsColumnar()) {
        const int rows = RowsPerColumn();
        const int row = pos.y() / itemHeight_;
        if (row >= rows)
            return -1;
        index = static_cast<long long>(pos.x() / columnWidth_ + horizontalScrollBar()->value()) * rows + row;
    } else if (!options_.Has(bkoVariableHeight)) {
        index = static_cast<long long>(TopIndex()) + pos.y() / itemHeight_;
    } else {
        index = -1;
        for (int i = TopIndex(), y = 0; i < count; ++i) {
            y += RowHeight(i);
            if (pos.y() < y) {
                index = i;
                break;
            }
        }
    }
    return index >= 0 && index < count ? static_cast<int>(index) : -1;
}

int CustomBkList::SectionAt(int x) const
{
    if (!header_)
        return -1;
    const int headerX = x + header_->offset();
    for (int visual = 0; visual < header_->count(); ++visual) {
        const int section = header_->logicalIndex(visual);
        if (header_->isSectionHidden(section))
            continue;
        const int left = header_->sectionPosition(section);
        if (headerX >= left && headerX <= left + header_->sectionSize(section))
            return section;
    }
    return -1;
}

void CustomBkList::UpdateScrollBars()
{
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    const int count = ItemsCount();
    if (IsColumnar()) {
        const int rows = RowsPerColumn();
        const int columns = (count + rows - 1) / rows;
        const int visible = std::max(1, viewport()->width() / columnWidth_);
        vertical->setRange(0, 0);
        horizontal->setRange(0, std::max(0, columns - visible));
        horizontal->setPageStep(visible);
        horizontal->setSingleStep(1);
        return;
    }
    vertical->setRange(0, std::max(0, count - FullRowsToEnd()));
    vertical->setPageStep(FullRowsFrom(vertical->value()));
    vertical->setSingleStep(1);
    const int width = UsesSections() ? header_->length() : 0;
    horizontal->setRange(0, std::max(0, width - viewport()->width()));
    horizontal->setPageStep(std::max(1, viewport()->width()));
    horizontal->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
}

void CustomBkList::UpdateGeometries()
{
    static thread_local bool busy = false; // margins re-lay the viewport, which comes back here
    if (busy)
        return;
    busy = true;
    if (header_ && !header_->isHidden()) {
        const int height = header_->sizeHint().height();
        setViewportMargins(0, height, 0, 0);
        const QRect area = viewport()->geometry();
        header_->setGeometry(area.left(), area.top() - height, area.width(), height);
    } else {
        setViewportMargins(0, 0, 0, 0);
    }
    busy = false;
}

void CustomBkList::ApplyBorder()
{
    const bool show = options_.Has(bkoShowBorder) && (!options_.Has(bkoFlat) || hovered_ || dragging_);
    const int style = show ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame;
    if (frameStyle() != style)
        setFrameStyle(style);
}

void CustomBkList::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateGeometries();
    UpdateScrollBars();
}

void CustomBkList::scrollContentsBy(int, int)
{
    if (header_ && !IsColumnar())
        header_->setOffset(horizontalScrollBar()->value());
    Repaint();
}

// ---------------------------------------------------------------- redrawing

void CustomBkList::Repaint()
{
    if (updateCount_ == 0)
        viewport()->update();
}

void CustomBkList::SelectionChanged()
{
    Repaint();
    NotifySelection();
}

void CustomBkList::NotifySelection()
{
    if (OnSelectionChange)
        OnSelectionChange(this);
}

void CustomBkList::BeginUpdate()
{
    ++updateCount_;
}

void CustomBkList::EndUpdate()
{
    if (updateCount_ > 0)
        --updateCount_;
    if (updateCount_ == 0) {
        UpdateScrollBars();
        viewport()->update();
    }
}

void CustomBkList::InvalidateItem(int index, int section)
{
    if (updateCount_ > 0)
        return;
    QRect rect = ItemRect(index);
    if (rect.isEmpty())
        return;
    if (section >= 0 && UsesSections() && section < header_->count()) {
        const int left = header_->sectionViewportPosition(section);
        rect = rect.intersected(QRect(left, rect.top(), header_->sectionSize(section), rect.height()));
        if (rect.isEmpty())
            return;
    }
    viewport()->update(rect);
}

// ---------------------------------------------------------------- count and focus

int CustomBkList::ForcedItem() const
{
    const bool logAtTop = !IsVirtual() && options_.Has(bkoLogStyle) && !options_.Has(bkoNewLogAtEnd);
    return logAtTop ? ItemsCount() - 1 : 0;
}

void CustomBkList::SetSelectionStore(ListSelection* store)
{
    selection_ = store != nullptr ? store : &ownSelection_;
    ApplyCount(IsVirtual() ? virtualCount_ : static_cast<int>(items_.size()));
    Repaint();
}

void CustomBkList::ApplyCount(int count)
{
    selection_->Resize(count);
    if (tracked_ >= count)
        tracked_ = -1;
    UpdateScrollBars();
    NotifySelection();
}

void CustomBkList::EnsureForcedFocus(bool fire)
{
    if (!options_.Has(bkoForceSelection) || ItemIndex() >= 0 || ItemsCount() == 0)
        return;
    MoveFocus(ForcedItem());
    if (fire)
        FireClick();
}

void CustomBkList::SetItemsCount(int count)
{
    count = std::max(count, 0);
    if (!IsVirtual() && count == items_.size()) {
        Repaint();
        return;
    }
    BeginUpdate();
    const int focus = ItemIndex();
    const int top = TopIndex();
    if (IsVirtual())
        virtualCount_ = count;
    else
        items_.resize(count);
    ApplyCount(count);
    SetTopIndex(top);
    // The focus stays on its item when that still exists (selection_ dropped it otherwise).
    EnsureForcedFocus(false);
    if (ItemIndex() != focus)
        FireClick();
    EndUpdate();
}

void CustomBkList::RefreshCount()
{
    if (IsVirtual() && OnGetCount)
        SetItemsCount(OnGetCount(this));
}

void CustomBkList::MoveFocus(int index)
{
    const int old = selection_->Focus();
    selection_->SetFocus(index);
    if (!multiSelect_) {
        // Single selection: the selected item is the focused one.
        if (selection_->SelectedCount() == 1 && selection_->IsSelected(old))
            selection_->SetSelected(old, false);
        else if (selection_->SelectedCount() > 0) {
            selection_->ClearAll();
            Repaint();
        }
        selection_->SetSelected(index, true);
        NotifySelection();
    }
    InvalidateItem(old);
    InvalidateItem(index);
}

void CustomBkList::SetItemIndex(int index)
{
    const int count = ItemsCount();
    if (index < -1 || index >= count)
        return;
    if (index == -1 && options_.Has(bkoForceSelection) && count > 0)
        index = ForcedItem();
    if (index == ItemIndex())
        return;
    MoveFocus(index);
    selection_->SetAnchor(index);
    EnsureVisible(index);
    FireClick();
}

void CustomBkList::FireClick()
{
    if (OnClick)
        OnClick(this);
}

// ---------------------------------------------------------------- selection

bool CustomBkList::SetSelected(int index, bool selected)
{
    if (selection_->IsSelected(index) == selected)
        return selection_->SetSelected(index, selected);
    if (!selection_->SetSelected(index, selected))
        return false;
    InvalidateItem(index);
    NotifySelection();
    return true;
}

void CustomBkList::SelectAll()
{
    selection_->SelectAll();
    SelectionChanged();
}

void CustomBkList::ClearSelection()
{
    selection_->ClearAll();
    SelectionChanged();
}

void CustomBkList::InvertSelection()
{
    selection_->Invert();
    SelectionChanged();
}

void CustomBkList::SetSelectedRange(int first, int last, bool selected)
{
    selection_->SetRange(first, last, selected);
    SelectionChanged();
}

void CustomBkList::SelectByUser(int index, Qt::KeyboardModifiers modifiers, bool toggle)
{
    if (!multiSelect_) {
        MoveFocus(index);
        selection_->SetAnchor(index);
        return;
    }
    if (!extendedSelect_) {
        if (toggle)
            selection_->SetSelected(index, !selection_->IsSelected(index));
        MoveFocus(index);
        selection_->SetAnchor(index);
        Repaint();
        NotifySelection();
        return;
    }
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool control = modifiers & Qt::ControlModifier;
    if (shift) {
        if (selection_->Anchor() < 0)
            selection_->SetAnchor(selection_->Focus() >= 0 ? selection_->Focus() : index);
        const int anchor = selection_->Anchor();
        if (!control)
            selection_->ClearAll();
        selection_->SetRange(std::min(anchor, index), std::max(anchor, index), true);
        MoveFocus(index);
    } else if (control) {
        if (toggle)
            selection_->SetSelected(index, !selection_->IsSelected(index));
        MoveFocus(index);
        selection_->SetAnchor(index);
    } else {
        selection_->ClearAll();
        selection_->SetSelected(index, true);
        MoveFocus(index);
        selection_->SetAnchor(index);
    }
    Repaint();
    NotifySelection();
}

void CustomBkList::ExtendDrag(int index, Qt::KeyboardModifiers modifiers)
{
    if (multiSelect_ && extendedSelect_) {
        SelectByUser(index, modifiers | Qt::ShiftModifier, false);
    } else if (!multiSelect_) {
        MoveFocus(index);
        selection_->SetAnchor(index);
    }
}

// ---------------------------------------------------------------- properties

void CustomBkList::SetColor(ColorRef& slot, ColorRef color)
{
    slot = color;
    Repaint();
}

void CustomBkList::SetItemHeight(int height)
{
    itemHeight_ = std::max(1, height);
    UpdateScrollBars();
    Repaint();
}

void CustomBkList::SetMultiSelect(bool on)
{
    if (multiSelect_ == on)
        return;
    multiSelect_ = on;
    if (!on) {
        selection_->ClearAll();
        selection_->SetSelected(selection_->Focus(), true);
    }
    Repaint();
}

void CustomBkList::SetSorted(bool on)
{
    if (on && (IsVirtual() || options_.Has(bkoLogStyle)))
        on = false;
    if (on == sorted_)
        return;
    sorted_ = on;
    if (on)
        SetItems(items_);
}

void CustomBkList::SetBlendDraw(bool on)
{
    blendDraw_ = on;
    Repaint();
}

void CustomBkList::SetBackground(const QPixmap& picture)
{
    background_ = picture;
    Repaint();
}

void CustomBkList::SetRowGrid(BkGridStyle style)
{
    rowGrid_ = style;
    Repaint();
}

void CustomBkList::SetColGrid(BkGridStyle style)
{
    colGrid_ = style;
    Repaint();
}

void CustomBkList::SetItemsLimit(int limit)
{
    itemsLimit_ = std::max(0, limit);
    if (options_.Has(bkoRemoveOnLimitExceed) && itemsLimit_ > 0 && !IsVirtual())
        while (ItemsCount() > itemsLimit_)
            RemoveOldest();
}

void CustomBkList::SetColumnWidth(int width)
{
    columnWidth_ = std::max(1, width);
    UpdateScrollBars();
    Repaint();
}

void CustomBkList::SetSectionDelimiters(const QString& delimiters)
{
    sectionDelimiters_ = delimiters;
    Repaint();
}

void CustomBkList::SetOptions(BkListOptions options)
{
    if (options.Has(bkoForceSelection))
        options = options.With(bkoShowSelection);
    if (options.Has(bkoLogStyle))
        sorted_ = false;
    const BkListOptions old = options_;
    if (options == old)
        return;
    options_ = options;
    if (!options.Has(bkoTrackItem))
        SetTracked(-1);
    ApplyBorder();
    const bool recreate = old.Has(bkoVirtual) != options.Has(bkoVirtual) ||
                          old.Has(bkoVariableHeight) != options.Has(bkoVariableHeight) ||
                          old.Has(bkoColumnar) != options.Has(bkoColumnar);
    if (recreate)
        ApplyCreationOptions();
    else
        UpdateScrollBars();
    EnsureForcedFocus(true);
    Repaint();
}

void CustomBkList::ApplyCreationOptions()
{
    // What the item store holds changed (count source, row heights or flow):
    // take the count again and keep focus and top row where they still exist.
    const int focus = ItemIndex();
    const int top = TopIndex();
    int count = static_cast<int>(items_.size());
    if (IsVirtual())
        count = OnGetCount ? std::max(0, OnGetCount(this)) : virtualCount_;
    ApplyCount(count);
    if (header_)
        header_->setOffset(IsColumnar() ? 0 : horizontalScrollBar()->value());
    SetTopIndex(top);
    if (ItemIndex() != focus)
        FireClick();
}

// ---------------------------------------------------------------- header

void CustomBkList::SetHeader(QHeaderView* header)
{
    if (header == header_)
        return;
    if (header_) {
        disconnect(headerDestroyed_);
        header_->disconnect(this);
        if (header_->parent() == this) {
            header_->hide();
            header_->deleteLater();
        }
    }
    header_ = header;
    if (header) {
        header->setParent(this);
        const auto relayout = [this] {
            UpdateGeometries();
            UpdateScrollBars();
            Repaint();
        };
        connect(header, &QHeaderView::sectionResized, this, relayout);
        connect(header, &QHeaderView::sectionMoved, this, relayout);
        connect(header, &QHeaderView::sectionCountChanged, this, relayout);
        connect(header, &QHeaderView::geometriesChanged, this, relayout);
        headerDestroyed_ = connect(header, &QObject::destroyed, this, [this] {
            header_ = nullptr;
            UpdateGeometries();
            UpdateScrollBars();
            Repaint();
        });
        header->setEnabled(isEnabled());
        header->setOffset(horizontalScrollBar()->value());
        header->show();
    }
    UpdateGeometries();
    UpdateScrollBars();
    Repaint();
}

// ---------------------------------------------------------------- input

void CustomBkList::SetTracked(int index)
{
    if (!options_.Has(bkoTrackItem))
        index = -1;
    if (index == tracked_)
        return;
    const int old = tracked_;
    tracked_ = index;
    InvalidateItem(old);
    InvalidateItem(index);
    if (index >= 0 && OnItemTrack)
        OnItemTrack(this, index);
}

void CustomBkList::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (ItemIndex() >= 0 && UsesSections() && OnSectionMouseDown) {
        const int section = SectionAt(pos.x());
        if (section >= 0) {
            bool handled = false;
            OnSectionMouseDown(this, ItemIndex(), handled, pos, section, event->modifiers(), event->button());
            if (handled)
                return;
        }
    }
    if (event->button() != Qt::LeftButton)
        return;
    const int index = ItemAt(pos);
    if (index < 0)
        return;
    dragging_ = true;
    ApplyBorder();
    SelectByUser(index, event->modifiers(), true);
    EnsureVisible(index);
    FireClick();
}

void CustomBkList::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const int count = ItemsCount();
    if (dragging_ && (event->buttons() & Qt::LeftButton) && count > 0) {
        // Past the top or bottom edge the drag reaches one row further, which scrolls.
        int index;
        const QRect area = viewport()->rect();
        const QPoint inside(std::clamp(pos.x(), 0, area.width() - 1), std::clamp(pos.y(), 0, area.height() - 1));
        if (pos.y() < 0)
            index = std::max(0, TopIndex() - 1);
        else if (pos.y() >= area.height())
            index = std::min(count - 1, TopIndex() + PageRows());
        else
            index = ItemAt(inside);
        if (index < 0 && !IsColumnar())
            index = count - 1; // below the last row of a short list
        if (index >= 0 && index != ItemIndex()) {
            ExtendDrag(index, event->modifiers());
            EnsureVisible(index);
            FireClick();
        }
    }
    SetTracked(ItemAt(pos));
}

void CustomBkList::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        ApplyBorder();
    }
}

void CustomBkList::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The first press of the pair has selected and fired; QWidget's default
    // would run the press again and toggle or fire twice.
    event->accept();
}

void CustomBkList::wheelEvent(QWheelEvent* event)
{
    if (IsColumnar()) {
        const int steps = event->angleDelta().y() / 120;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - steps);
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

void CustomBkList::keyPressEvent(QKeyEvent* event)
{
    const int count = ItemsCount();
    const int focus = ItemIndex();
    const int from = std::max(focus, 0);
    const int page = std::max(1, PageRows() - 1);
    int target;
    switch (event->key()) {
    case Qt::Key_Up:
        target = focus < 0 ? 0 : from - 1;
        break;
    case Qt::Key_Down:
        target = focus < 0 ? 0 : from + 1;
        break;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!IsColumnar()) {
            horizontalScrollBar()->triggerAction(event->key() == Qt::Key_Left
                                                     ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderSingleStepAdd);
            event->accept();
            return;
        }
        target = from + (event->key() == Qt::Key_Left ? -RowsPerColumn() : RowsPerColumn());
        break;
    case Qt::Key_PageUp:
        target = from - page;
        break;
    case Qt::Key_PageDown:
        target = from + page;
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = count - 1;
        break;
    case Qt::Key_Space:
        if (multiSelect_ && focus >= 0) {
            SelectByUser(focus, event->modifiers(), true);
            FireClick();
            event->accept();
            return;
        }
        [[fallthrough]];
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    if (count == 0)
        return;
    target = std::clamp(target, 0, count - 1);
    if (target == focus)
        return;
    SelectByUser(target, event->modifiers(), false);
    EnsureVisible(target);
    FireClick();
}

void CustomBkList::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    InvalidateItem(ItemIndex());
}

void CustomBkList::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    InvalidateItem(ItemIndex());
}

void CustomBkList::enterEvent(QEnterEvent* event)
{
    QAbstractScrollArea::enterEvent(event);
    hovered_ = true;
    ApplyBorder();
    if (OnMouseEnter)
        OnMouseEnter(this, QGuiApplication::keyboardModifiers(), event->position().toPoint());
}

void CustomBkList::leaveEvent(QEvent* event)
{
    QAbstractScrollArea::leaveEvent(event);
    hovered_ = false;
    SetTracked(-1);
    ApplyBorder();
    if (OnMouseLeave)
        OnMouseLeave(this, QGuiApplication::keyboardModifiers(), mapFromGlobal(QCursor::pos()));
}

bool CustomBkList::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave)
        SetTracked(-1);
    return QAbstractScrollArea::viewportEvent(event);
}

void CustomBkList::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (header_)
            header_->setEnabled(isEnabled());
        Repaint();
        break;
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        Repaint();
        break;
    default:
        break;
    }
}
