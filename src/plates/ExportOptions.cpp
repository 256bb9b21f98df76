#include "plates/ExportOptions.h"

#include "config/StorageLink.h"

ExportOptions ReadExportOptions(StorageLink& link)
{
    ExportOptions options;
    options.BasePath = link.ReadString(kExportBasePathKey, "");
    options.Over = link.ReadInt(kExportOverKey, OverAsk);
    options.Move = link.ReadBool(kExportMoveKey, false);
    options.AskOnError = link.ReadBool(kExportAskOnErrorKey, true);
    return options;
}

void WriteExportOptions(StorageLink& link, const ExportOptions& options)
{
    link.WriteString(kExportBasePathKey, options.BasePath);
    link.WriteInt(kExportOverKey, options.Over);
    link.WriteBool(kExportMoveKey, options.Move);
    link.WriteBool(kExportAskOnErrorKey, options.AskOnError);
}

std::string BasePathOf(std::string_view typed)
{
    // Never cut: a cut path names another folder (its parent, or a sibling).
    std::string path(typed);
    if (!path.empty() && path.back() != '/')
        path.push_back('/');
    return path;
}
