#include "browse/ChooseFolder.h"

#include "base/Paths.h"
#include "base/Translate.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "platform/FileInfo.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

// A folder dialog whose accept button takes an existing folder at once (the
// one selected, or the one shown when the name box is empty) and also takes
// a name typed that does not exist yet; the caller then asks before making it.
class FolderDialog : public QFileDialog {
public:
    FolderDialog(QWidget* owner, const QString& caption, const QString& folder) : QFileDialog(owner, caption, folder)
    {
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, true);
        setOption(QFileDialog::DontUseNativeDialog, true);
    }

protected:
    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && !QFileInfo::exists(chosen.first())) {
            QDialog::accept(); // a new name: Qt's own accept would refuse it
            return;
        }
        QFileDialog::accept();
    }
};

// The folder the dialog starts in: the storage folder itself when it exists,
// else the nearest existing folder above the text, else the program folder.
QString StartFolder(const QString& start)
{
    if (start.trimmed().isEmpty())
        return QString::fromStdString(ProgramFolder());
    QString folder = QFileInfo(QString::fromStdString(JoinToProgramFolder(start.toStdString()))).absoluteFilePath();
    while (!QFileInfo(folder).isDir()) {
        const QString up = QFileInfo(folder).absolutePath();
        if (up == folder)
            break;
        folder = up;
    }
    return folder;
}

} // namespace

QString ChooseStorageFolder(QWidget* owner, const QString& start)
{
    FolderDialog dialog(owner, QString::fromUtf8(Translate("Select storage folder...")), StartFolder(start));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString folder = dialog.selectedFiles().first();
    const std::string path = folder.toStdString();
    if (platform::PathExists(path))
        return folder;
    if (!AskYesNoDefaultNo(owner, Translate("Folder \"%s\" does not exist. Create it?"), path.c_str()))
        return QString();
    if (!platform::CreateDirectories(path)) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(owner, Translate("Cannot create folder \"%s\": %s"), path.c_str(), why.c_str());
        return QString();
    }
    return folder;
}
