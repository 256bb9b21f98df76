#include "app/Data.h"

#include "base/Dictionary.h"
#include "base/Paths.h"
#include "base/ProgramFiles.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "plates/BitmapHeader.h"
#include "plates/ImageLibrary.h"
#include "plugins/Registry.h"

#include <QApplication>
#include <QFileDialog>
#include <QStyle>

#include <cstdio>

namespace {
TData* instance = nullptr;
}

TData* Data() { return instance; }

TData::TData(const DataOptions& options)
{
    instance = this;
    SetShared(this);
    open_ = std::make_unique<QFileDialog>();
    open_->setFileMode(QFileDialog::ExistingFile);
    open_->setAcceptMode(QFileDialog::AcceptOpen);
    save_ = std::make_unique<QFileDialog>();
    save_->setAcceptMode(QFileDialog::AcceptSave);
    open = open_.get();
    save = save_.get();
    if (QStyle* style = QApplication::style()) {
        Images = {style->standardIcon(QStyle::SP_DialogOkButton), style->standardIcon(QStyle::SP_DialogCancelButton),
                  style->standardIcon(QStyle::SP_DialogCloseButton)};
    }

    MainDictionary().Load(OwnFilePath(kDictionaryFileName, OwnFileKind::Data));
    FillPreviewHeader();
    FillHostInfo();

    imagesAvailable = LoadImageLibrary(options.imageFormats);
    if (!imagesAvailable) {
        const std::string why = ErrorText(kCurrentError);
        const std::string text = Format(Translate("Cannot load GFL library \"%s\"\nError: %s\nImage show is not possible!"),
                                        kImageLibraryName, why.c_str());
        if (BoxPresenter* boxes = GetBoxPresenter())
            boxes->ShowError(nullptr, kErrorCaption, text);
        else
            std::fprintf(stderr, "%s %s\n", kErrorCaption, text.c_str());
    }

    if (const char* why = options.initMaths(0))
        FatalError(Translate("Errr initialize Zelmath library: %s"), why);
}

TData::~TData()
{
    if (instance == this) {
        instance = nullptr;
        SetShared(nullptr);
    }
}
