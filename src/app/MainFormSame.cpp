// Select -> Duplicates and Blank: the core's runs over every plate, their
// finds made the selection. An aborted run leaves the selection as it was.
#include "app/MainForm.h"

#include "base/ListSelection.h"
#include "plates/ImageLibrary.h"
#include "plates/SamePlates.h"
#include "widgets/BkList.h"

namespace {

void SelectFound(BkList* list, const SameResult& result)
{
    if (result.aborted)
        return;
    list->EditSelection([&](ListSelection& selection) {
        selection.ClearAll();
        for (int index : result.found)
            selection.SetSelected(index, true);
    });
}

} // namespace

void TMainForm::D1Click()
{
    StorageAction* action = session_.Connection().Action();
    if (action == nullptr || PlateCount() == 0)
        return;
    ListSelection every(PlateCount());
    every.SelectAll();
    SelectFound(list, FindDuplicatePlates(
                          {*action, session_.Plates(), every, operation_, session_.Period(), [this] { PumpMessages(); }}));
}

void TMainForm::K1Click()
{
    StorageAction* action = session_.Connection().Action();
    if (action == nullptr || PlateCount() == 0)
        return;
    ListSelection every(PlateCount());
    every.SelectAll();
    SelectFound(list, FindBlankPlates({*action, session_.Plates(), every, operation_, session_.Period(),
                                       [this] { PumpMessages(); }},
                                      ImageFunctions()));
}
