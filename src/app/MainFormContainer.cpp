// The window's commands on the storage's container and the program itself:
// Files → Compact storage... and Files → About. Kept apart from the rest of
// the window, which reaches them through CreateContainerMenu and
// ApplyContainerCaptions.
#include "app/MainForm.h"

#include "base/BuildInfo.h"
#include "base/SizeText.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "plates/ContainerRun.h"
#include "plugins/Plugin.h"
#include "widgets/GuiShared.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>

std::string AboutLine()
{
    return Format("Ulmora %s", kProgramVersion);
}

void TMainForm::CreateContainerMenu()
{
    mnuCompact = new QAction(F1);
    mnuCompact->setObjectName("mnuCompact");
    mnuAbout = new QAction(F1);
    mnuAbout->setObjectName("mnuAbout");
    // Before the separator that sets Exit apart.
    QAction* exitSeparator = F1->actions().size() >= 2 ? F1->actions()[F1->actions().size() - 2] : nullptr;
    F1->insertAction(exitSeparator, mnuCompact);
    F1->insertAction(exitSeparator, mnuAbout);
    connect(mnuCompact, &QAction::triggered, this, Command<&TMainForm::mnuCompactClick>());
    connect(mnuAbout, &QAction::triggered, this, Command<&TMainForm::mnuAboutClick>());
}

void TMainForm::ApplyContainerCaptions()
{
    mnuCompact->setText(Tr("&K Compact storage..."));
    mnuCompact->setToolTip(Tr("Give the space of deleted plates back to the disk"));
    mnuAbout->setText(Tr("&A About..."));
}

void TMainForm::mnuCompactClick()
{
    StorageAction* action = session_.Connection().Action();
    if (action == nullptr || !action->IsOpen()) {
        ErrorBox(this, "%s", Translate("Load a storage first"));
        return;
    }
    if (!action->CanReclaimSpace()) {
        ErrorBox(this, "%s", Translate("The storage's format keeps no free space to reclaim"));
        return;
    }
    uint64_t fileBytes = 0, freeBytes = 0;
    if (!MeasureStorageSpace(*action, &fileBytes, &freeBytes)) {
        ErrorBox(this, Translate("Cannot compact %s: %s"), action->StoragePath().c_str(), ErrorText(kCurrentError).c_str());
        return;
    }
    if (!AskYesNoDefaultNo(this,
                           Translate("%s has %s free of %s.\nWrite it anew without the free space? It needs room "
                                     "for the new file beside it."),
                           action->StoragePath().c_str(), FormatByteSize(freeBytes).c_str(),
                           FormatByteSize(fileBytes).c_str()))
        return;
    const CompactResult result = CompactStorage(*action, operation_, session_.Period());
    // A success is the log line CompactStorage writes, shown in the
    // window's log line: "Compacted PATH: N of M bytes reclaimed".
    if (!result.done && !result.aborted)
        ErrorBox(this, Translate("Cannot compact %s: %s"), action->StoragePath().c_str(), result.errorText.c_str());
}

void TMainForm::CheckContainerBeforePlates(StorageAction& action)
{
    const ContainerCheckResult result = CheckStorageContainer(action, operation_, session_.Period());
    if (result.Damaged())
        ErrorBox(this, Translate("The container of %s is damaged: %d problems found, the first:\n%s\n\nPlates may be "
                                 "missing from the list."),
                 action.StoragePath().c_str(), static_cast<int>(result.findings.size()), result.findings.front().c_str());
    else if (!result.checked && !result.aborted && result.supported)
        ErrorBox(this, Translate("The container of %s could not be checked: %s"), action.StoragePath().c_str(),
                 result.errorText.c_str());
}

void TMainForm::mnuAboutClick()
{
    QMessageBox::about(this, Tr("About Ulmora"), QString::fromStdString(AboutLine()));
}
