#include "browse/ChooseFolder.h"

#include "base/Translate.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "platform/FileInfo.h"

#include <QFileDialog>

QString ChooseStorageFolder(QWidget* owner, const QString& start)
{
    QFileDialog dialog(owner, QString::fromUtf8(Translate("Select storage folder...")), start);
    // Any name may be typed, so that a folder that does not exist yet can be given.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString folder = dialog.selectedFiles().first();
    const std::string path = folder.toStdString();
    if (platform::PathExists(path))
        return folder;
    if (!AskYesNo(owner, nullptr, Translate("Folder \"%s\" does not exist. Create it?"), path.c_str()))
        return QString();
    if (!platform::CreateDirectories(path)) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(owner, Translate("Cannot create folder \"%s\": %s"), path.c_str(), why.c_str());
        return QString();
    }
    return folder;
}
