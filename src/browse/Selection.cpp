#include "browse/Selection.h"

#include "browse/PlateList.h"

void SelectZoomRange(ListSelection& selection, const PlateList& plates, int from, int to)
{
    selection.SelectWhere([&](int index) {
        PlateItem plate;
        return plates.At(index, &plate) && plate.nameLength >= from && plate.nameLength <= to;
    });
}
