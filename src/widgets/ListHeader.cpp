#include "widgets/ListHeader.h"

#include <QHeaderView>
#include <QStandardItemModel>

QHeaderView* MakeListHeader(const QStringList& captions, const std::vector<int>& widths, QWidget* parent)
{
    auto* header = new QHeaderView(Qt::Horizontal, parent);
    // A header shows sections only through a model; this one holds just the captions.
    auto* model = new QStandardItemModel(0, static_cast<int>(captions.size()), header);
    model->setHorizontalHeaderLabels(captions);
    header->setModel(model);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < static_cast<int>(widths.size()) && i < header->count(); ++i)
        header->resizeSection(i, widths[i]);
    return header;
}
