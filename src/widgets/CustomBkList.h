#pragma once
// The list control of the plate list and the plugins editor: an owner-drawn
// list on QAbstractScrollArea. Each row is cut into cells by the sections of a
// bound QHeaderView and each cell is drawn by the owner (OnDrawItemSection).
// In virtual mode the control holds only a count and a bit per item for the
// selection, so it carries tens of millions of items; painting costs only the
// rows on screen, wherever they are.
//
// Selection follows the usual list rules: single selection, or with
// MultiSelect extended selection (Shift ranges, Ctrl single items) or, without
// ExtendedSelect, a click toggling each item. Every change of the focused item
// by mouse or keyboard, and every click on an item, fires OnClick once.
//
// CustomBkList holds all the behaviour; BkList publishes the properties.

#include "base/Delegate.h"
#include "widgets/BkListTypes.h"
#include "widgets/ColorRef.h"
#include "base/ListSelection.h"

#include <QAbstractScrollArea>
#include <QPixmap>
#include <QPointer>
#include <QStringList>

class QHeaderView;
class QPainter;

class CustomBkList : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit CustomBkList(QWidget* parent = nullptr);
    ~CustomBkList() override;

    // ---- Events. Draw events answer true when the owner drew, false to let
    // the list draw its default. The canvas pen holds the row's text colour.
    using DrawItemEvent = Delegate<bool(CustomBkList* sender, QPainter& canvas, unsigned state,
                                        const QRect& rect, int index)>;
    using DrawSectionEvent = Delegate<bool(CustomBkList* sender, QPainter& canvas, unsigned state,
                                           const QRect& rect, int section, int index)>;
    using SectionMouseEvent = Delegate<void(CustomBkList* sender, int focused, bool& handled, QPoint pos,
                                            int section, Qt::KeyboardModifiers shift, Qt::MouseButton button)>;
    using ItemEvent = Delegate<void(CustomBkList* sender, int index)>;
    using MouseEvent = Delegate<void(CustomBkList* sender, Qt::KeyboardModifiers shift, QPoint pos)>;

    Delegate<void(CustomBkList* sender)> OnClick; // the focused item or the selection changed
    // The selection or the item count may have changed, by the user or by a
    // command (SelectAll, EditSelection, SetItemsCount...): for owners that
    // show figures of the selection.
    Delegate<void(CustomBkList* sender)> OnSelectionChange;
    Delegate<int(CustomBkList* sender)> OnGetCount;
    Delegate<int(CustomBkList* sender, int index)> OnMeasureItem; // row height, with bkoVariableHeight
    DrawItemEvent OnDrawItem;
    DrawItemEvent OnDrawItemBk;
    DrawSectionEvent OnDrawItemSection;   // `section` is the header's logical index
    DrawSectionEvent OnDrawItemSectionBk;
    SectionMouseEvent OnSectionMouseDown; // set `handled` to stop the list's own press handling
    ItemEvent OnItemTrack;                // the item under the mouse changed (valid items only)
    ItemEvent OnItemAutoRemove;           // this item is about to go because of ItemsLimit
    MouseEvent OnMouseEnter;
    MouseEvent OnMouseLeave;

    // ---- Items and focus.
    // The focused item, -1 when there is none. Setting a different valid value
    // (or -1) fires OnClick once; with single selection it also selects it.
    int ItemIndex() const { return selection_->Focus(); }
    void SetItemIndex(int index);

    // The number of items. A new count keeps the focused item and the first
    // visible row as far as they still exist, and the selection of the items
    // that remain. Without bkoVirtual the texts are cut or padded with empty ones.
    int ItemsCount() const { return selection_->Count(); }
    void SetItemsCount(int count);
    // Virtual mode with OnGetCount: takes the count from the event.
    void RefreshCount();

    // Item texts, used only without bkoVirtual.
    const QStringList& Items() const { return items_; }
    void SetItems(const QStringList& items);
    // Adds a text where the options say (end, sorted place or log place) after
    // making room under ItemsLimit; returns its index, or -1 when it is refused
    // (virtual mode, or a full list that may not drop items).
    int AddItem(const QString& text);
    void InsertItem(int index, const QString& text);
    void DeleteItem(int index);
    void ClearItems();
    // Field `section` (from 0) of `text`, fields being separated by any of the
    // `delimiters`; empty when there are fewer fields.
    static QStringView SectionText(QStringView text, QStringView delimiters, int section);

    // ---- Selection.
    int SelectedCount() const { return selection_->SelectedCount(); }
    bool IsSelected(int index) const { return selection_->IsSelected(index); }
    // Returns false for an index outside the items. Repaints only that row.
    bool SetSelected(int index, bool selected);
    int NextSelected(int from) const { return selection_->NextSelected(from); }
    void SelectAll();
    void ClearSelection();
    void InvertSelection();
    void SetSelectedRange(int first, int last, bool selected);
    const ListSelection& Selection() const { return *selection_; }
    // Keeps the selection in `store` (the owner's model) instead of the
    // list's own; null goes back to the list's own. The store takes the
    // list's count.
    void SetSelectionStore(ListSelection* store);
    // Runs `edit` on the selection store, then repaints once: the way for bulk
    // commands that work on the store directly.
    template <typename F>
    void EditSelection(F edit)
    {
        edit(*selection_);
        SelectionChanged();
    }

    // ---- Redrawing.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }
    // Repaints one item, or one of its cells when `section` is a header section.
    void InvalidateItem(int index, int section = -1);

    // ---- Geometry and scrolling.
    int TopIndex() const;          // the first visible item
    void SetTopIndex(int index);
    void EnsureVisible(int index);
    QRect ItemRect(int index) const; // in viewport coordinates; empty when not visible
    int ItemAt(QPoint viewportPos) const; // -1 when no item is there
    int TrackedItem() const { return tracked_; }

    // ---- Header.
    QHeaderView* Header() const { return header_; }
    // Binds `header` (or none). The list places it above its rows, keeps it in
    // step with the horizontal scroll bar and becomes its parent. A header the
    // list owned before is deleted; a destroyed header is unbound by itself.
    void SetHeader(QHeaderView* header);
    // The section (logical index) whose span, both ends included, holds the
    // viewport x; -1 when none.
    int SectionAt(int x) const;

    // ---- Properties.
    bool ExtendedSelect() const { return extendedSelect_; }
    void SetExtendedSelect(bool on) { extendedSelect_ = on; }
    bool IntegralHeight() const { return integralHeight_; }
    void SetIntegralHeight(bool on) { integralHeight_ = on; }
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int height);
    bool MultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool on);
    bool Sorted() const { return sorted_; }
    void SetSorted(bool on);
    int TabWidth() const { return tabWidth_; }
    void SetTabWidth(int width) { tabWidth_ = width; }
    ColorRef HighlightColor() const { return highlightColor_; }
    void SetHighlightColor(ColorRef color) { SetColor(highlightColor_, color); }
    ColorRef HighlightTextColor() const { return highlightTextColor_; }
    void SetHighlightTextColor(ColorRef color) { SetColor(highlightTextColor_, color); }
    bool BlendDraw() const { return blendDraw_; }
    void SetBlendDraw(bool on);
    ColorRef BkColor() const { return bkColor_; }
    void SetBkColor(ColorRef color) { SetColor(bkColor_, color); }
    const QPixmap& Background() const { return background_; }
    void SetBackground(const QPixmap& picture);
    ColorRef TrackItemColor() const { return trackItemColor_; }
    void SetTrackItemColor(ColorRef color) { SetColor(trackItemColor_, color); }
    ColorRef GridColor() const { return gridColor_; }
    void SetGridColor(ColorRef color) { SetColor(gridColor_, color); }
    BkGridStyle RowGrid() const { return rowGrid_; }
    void SetRowGrid(BkGridStyle style);
    BkGridStyle ColGrid() const { return colGrid_; }
    void SetColGrid(BkGridStyle style);
    int ItemsLimit() const { return itemsLimit_; }
    void SetItemsLimit(int limit);
    int ColumnWidth() const { return columnWidth_; }
    void SetColumnWidth(int width);
    const QString& SectionDelimiters() const { return sectionDelimiters_; }
    void SetSectionDelimiters(const QString& delimiters);
    BkListOptions Options() const { return options_; }
    void SetOptions(BkListOptions options);
    bool HasOption(BkListOptions_t option) const { return options_.Has(option); }

    // The colour `color` names, system colours taken from this list's palette.
    QColor ResolveColor(ColorRef color) const;
    // The colours a row is drawn with, after the blend rule.
    ColorRef SelectionColor() const;
    ColorRef SelectionFrameColor() const;
    ColorRef EffectiveGridColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool IsVirtual() const { return options_.Has(bkoVirtual); }
    bool IsColumnar() const { return options_.Has(bkoColumnar); }
    bool UsesSections() const;
    int RowHeight(int index) const;
    int RowsPerColumn() const;
    int FullRowsFrom(int top) const;   // rows that fit whole in the viewport from `top`
    int FullRowsToEnd() const;         // rows that fit whole above the viewport's bottom, ending at the last
    int PageRows() const;
    int ForcedItem() const;

    void Repaint();
    void SelectionChanged();
    void NotifySelection();
    void UpdateScrollBars();
    void UpdateGeometries();
    void ApplyBorder();
    void ApplyCount(int count);
    void ApplyCreationOptions();
    void SetColor(ColorRef& slot, ColorRef color);

    // Moves the focus without firing; with single selection the selection follows.
    void MoveFocus(int index);
    // Applies the selection rules to a click or key that lands on `index`.
    void SelectByUser(int index, Qt::KeyboardModifiers modifiers, bool toggle);
    void ExtendDrag(int index, Qt::KeyboardModifiers modifiers);
    void FireClick();
    void EnsureForcedFocus(bool fire);
    void RemoveOldest();
    void SetTracked(int index);

    void DrawItem(QPainter& p, int index, const QRect& row, unsigned state);
    void DrawRowContent(QPainter& p, int index, QRect rect, unsigned state, const QColor& text, const QColor& back);
    void FillDefault(QPainter& p, const QRect& rect, unsigned state, const QColor& back);
    void FillBackground(QPainter& p, const QRect& rect);
    void DrawGridLine(QPainter& p, QPoint from, QPoint to, BkGridStyle style, const QColor& grid, const QColor& back);
    QString ItemText(int index) const;

    ListSelection ownSelection_;
    ListSelection* selection_ = &ownSelection_;
    QStringList items_;
    int virtualCount_ = 0;
    QPointer<QHeaderView> header_;
    QMetaObject::Connection headerDestroyed_;

    bool extendedSelect_ = true;
    bool integralHeight_ = false;
    int itemHeight_ = 16;
    bool multiSelect_ = false;
    bool sorted_ = false;
    int tabWidth_ = 0;
    ColorRef highlightColor_ = clHighlight;
    ColorRef highlightTextColor_ = clHighlightText;
    bool blendDraw_ = true;
    ColorRef bkColor_ = clBtnFace;
    QPixmap background_;
    ColorRef trackItemColor_ = 0xFF00FF;
    ColorRef gridColor_ = 0x808080;
    BkGridStyle rowGrid_ = BkGridStyle::Dot;
    BkGridStyle colGrid_ = BkGridStyle::Solid;
    int itemsLimit_ = 0;
    int columnWidth_ = 50;
    QString sectionDelimiters_ = QStringLiteral(";");
    BkListOptions options_{bkoTrackItem, bkoShowSelection, bkoShowBorder};

    int updateCount_ = 0;
    int tracked_ = -1;
    bool hovered_ = false;
    bool dragging_ = false;
};
