#pragma once
// The list control with its properties published to Qt's property system, in
// the order the owners know them. All behaviour is in CustomBkList.

#include "widgets/CustomBkList.h"

#include <QHeaderView>

class BkList : public CustomBkList {
    Q_OBJECT
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
    Q_PROPERTY(QStringList Items READ Items WRITE SetItems)
    Q_PROPERTY(bool ExtendedSelect READ ExtendedSelect WRITE SetExtendedSelect)
    Q_PROPERTY(bool IntegralHeight READ IntegralHeight WRITE SetIntegralHeight)
    Q_PROPERTY(int ItemHeight READ ItemHeight WRITE SetItemHeight)
    Q_PROPERTY(bool MultiSelect READ MultiSelect WRITE SetMultiSelect)
    Q_PROPERTY(bool Sorted READ Sorted WRITE SetSorted)
    Q_PROPERTY(int TabWidth READ TabWidth WRITE SetTabWidth)
    Q_PROPERTY(uint HighlightColor READ HighlightColor WRITE SetHighlightColor)
    Q_PROPERTY(uint HighlightTextColor READ HighlightTextColor WRITE SetHighlightTextColor)
    Q_PROPERTY(bool BlendDraw READ BlendDraw WRITE SetBlendDraw)
    Q_PROPERTY(uint BkColor READ BkColor WRITE SetBkColor)
    Q_PROPERTY(QPixmap Background READ Background WRITE SetBackground)
    Q_PROPERTY(uint TrackItemColor READ TrackItemColor WRITE SetTrackItemColor)
    Q_PROPERTY(uint GridColor READ GridColor WRITE SetGridColor)
    Q_PROPERTY(int RowGrid READ RowGridValue WRITE SetRowGridValue)
    Q_PROPERTY(int ColGrid READ ColGridValue WRITE SetColGridValue)
    Q_PROPERTY(int ItemsCount READ ItemsCount WRITE SetItemsCount)
    Q_PROPERTY(int ItemsLimit READ ItemsLimit WRITE SetItemsLimit)
    Q_PROPERTY(int ColumnWidth READ ColumnWidth WRITE SetColumnWidth)
    Q_PROPERTY(QHeaderView* Header READ Header WRITE SetHeader)
    Q_PROPERTY(QString SectionDelimiters READ SectionDelimiters WRITE SetSectionDelimiters)
    Q_PROPERTY(uint Options READ OptionBits WRITE SetOptionBits)

public:
    using CustomBkList::CustomBkList;

    int RowGridValue() const { return static_cast<int>(RowGrid()); }
    void SetRowGridValue(int style) { SetRowGrid(static_cast<BkGridStyle>(style)); }
    int ColGridValue() const { return static_cast<int>(ColGrid()); }
    void SetColGridValue(int style) { SetColGrid(static_cast<BkGridStyle>(style)); }
    uint OptionBits() const { return Options().Bits(); }
    void SetOptionBits(uint bits) { SetOptions(BkListOptions::FromBits(bits)); }
};
