#pragma once
// The program's data module: what exists before any window does. Shared file
// dialogs, the image list, the translation dictionary, the plugin host record,
// the preview's picture header, the image decoder and the maths library.

#include "app/Zelmath.h"
#include "widgets/GuiShared.h"

#include <memory>

struct DataOptions {
    ZelmathInit initMaths = &InitZelmath;
    const char* const* imageFormats = nullptr; // the decoder's default formats
};

class TData : public SharedGui {
public:
    explicit TData(const DataOptions& options = {});
    ~TData();
    TData(const TData&) = delete;
    TData& operator=(const TData&) = delete;

    bool imagesAvailable = false; // the preview can decode plates

private:
    std::unique_ptr<QFileDialog> open_;
    std::unique_ptr<QFileDialog> save_;
};

// The one TData while it exists, else null.
TData* Data();
