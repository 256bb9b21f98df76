#pragma once
// The options of one export run, as the options dialog gives them, and their
// four keys below the program's configuration link.

#include <cstdint>
#include <string>
#include <string_view>

class StorageLink;

// What to do with an image file that is already there: the items of the
// dialog's " Existing files " group, in order.
enum ExistingFiles : int32_t { OverAsk = 0, OverWrite = 1, OverStay = 2, OverCancel = 3 };

// Where a plate's file goes under BasePath: the plate tree ("t/q/r.jpg"), or
// the z/x/y tree of web maps with rows from the top (xyz) or from the bottom
// (tms), named "z/x/y" plus the extension of the data's image format. The
// window always writes the plate tree; the command-line tool offers all three.
enum ExportLayout : int32_t { LayoutPlates = 0, LayoutXyz = 1, LayoutTms = 2 };

struct ExportOptions {
    std::string BasePath; // ends with '/' whenever it is not empty
    int32_t Over = OverAsk;
    bool Move = false;       // delete every plate whose file is safely written
    bool AskOnError = true;  // ask after each error whether to go on
    int32_t Layout = LayoutPlates; // the dialog keeps it under "Export/Layout"
};

inline constexpr const char* kExportBasePathKey = "Export/BasePath";
inline constexpr const char* kExportOverKey = "Export/Over";
inline constexpr const char* kExportMoveKey = "Export/Move";
inline constexpr const char* kExportAskOnErrorKey = "Export/AskOnError";

// The four keys, each created with its default when missing. BasePath is the
// text as stored; BasePathOf makes it usable.
ExportOptions ReadExportOptions(StorageLink& link);
void WriteExportOptions(StorageLink& link, const ExportOptions& options);

// The typed folder text as a base path, whole, ending with '/' when not
// empty. A path too long for the system fails when it is used.
std::string BasePathOf(std::string_view typed);
