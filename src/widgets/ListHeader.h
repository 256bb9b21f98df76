#pragma once
// A header to bind to a BkList: a horizontal QHeaderView with fixed captions
// and widths, no sorting, no drag reordering.

#include <QStringList>

#include <vector>

class QHeaderView;
class QWidget;

QHeaderView* MakeListHeader(const QStringList& captions, const std::vector<int>& widths,
                            QWidget* parent = nullptr);
