#pragma once
// The keys of the program's settings, all below the program's link (key
// path "IDE"), with the defaults of their reads where they are fixed. Keys
// of the registry and the storage definitions are kept by the registry.

namespace cfgkey {

inline constexpr const char* kProgramLink = "IDE";

inline constexpr const char* kUsedLang = "UsedLang";             // int, 0
inline constexpr const char* kWindow = "Window";                 // the main window's placement
inline constexpr const char* kHeaderSection = "Header/Sec%d";    // int per list column: its width
inline constexpr const char* kRightWidth = "RightW";             // int: the preview panel's width
inline constexpr const char* kLastUsedPlugin = "LastUsedPlugin"; // int, -1: the entry of the plugin choice
inline constexpr const char* kLastUsedData = "LastUsedData";     // text, "": the storage path
inline constexpr const char* kFolderLayouts = "FolderLayouts";   // text, "": layouts chosen per folder (FolderLayoutChoice.h)
inline constexpr const char* kBundleOrigins = "BundleOrigins";   // text, "": row origins chosen per compact cache (FolderLayoutChoice.h)
inline constexpr const char* kAutosave = "Autosave";             // bool, true
inline constexpr const char* kLastStorageFile = "EXP_S/LastFile"; // text: the file dialog's folder
inline constexpr const char* kZoomFrom = "Sel/FromPos";          // int, 1
inline constexpr const char* kZoomTo = "Sel/ToPos";              // int, 1
inline constexpr const char* kPluginsPath = "PluginsPath";       // text, "": the plugins editor's folder
inline constexpr const char* kEditorWindow = "PE/Window";        // the plugins editor's placement
inline constexpr const char* kRecentCount = "Recent/Count";      // int, 0: storages in the recent list
inline constexpr const char* kRecentItem = "Recent/Item%d";      // text: a recent storage, the latest first

inline constexpr int kDefaultLanguage = 0;
inline constexpr int kNoPlugin = -1;
inline constexpr bool kDefaultAutosave = true;
inline constexpr int kDefaultZoom = 1;
inline constexpr int kRecentLimit = 8;

} // namespace cfgkey
