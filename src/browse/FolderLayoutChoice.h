#pragma once
// The layout and row origin a user chooses for a folder storage, when the
// folder plugin cannot tell them from the files or tells them wrong. The
// choice travels to the plugin as the options it reads after the path
// ("DIR?layout=tc&origin=nw") and is remembered per storage path.

#include <string>

struct FolderLayoutOption {
    const char* caption; // shown in the window's list
    const char* options; // appended to the path; "" for the plugin's own recognition
};

// The first (0) is the plugin's own recognition.
const FolderLayoutOption* FolderLayoutOptions();
int FolderLayoutOptionCount();

// The choices one plugin offers, remembered per storage under their own
// configuration key: the folder plugin's layouts and row origins, the
// compact cache plugin's row origins ("CACHE?origin=sw").
struct LayoutChoices {
    const char* plugin;    // the plugin library's file stem
    const char* configKey; // where the choices per storage are kept
    const char* tooltip;   // the list's tooltip before a storage is loaded
    const FolderLayoutOption* options; // the first is the plugin's own recognition
    int count;
};
// The choices of the plugin library `pluginStem`; null for a plugin without.
const LayoutChoices* LayoutChoicesFor(const std::string& pluginStem);

// As below, for the options of `choices`.
std::string WithLayoutOption(const LayoutChoices& choices, const std::string& path, int option);
int RememberedLayoutOption(const LayoutChoices& choices, const std::string& remembered, const std::string& path);
std::string RememberLayoutOption(const LayoutChoices& choices, const std::string& remembered, const std::string& path,
                                 int option);

// `path` with the options of choice `option`; unchanged for choice 0, for a
// choice outside the list, and for a path that already carries options.
std::string WithFolderLayout(const std::string& path, int option);

// The remembered choices are one text, a line "OPTION<TAB>PATH" each, most
// recent first. The choice remembered for `path` (0 when none):
int RememberedFolderLayout(const std::string& remembered, const std::string& path);
// The text with `path`'s choice put first (choice 0 forgets it); at most
// kRememberedFolderLayouts lines are kept.
inline constexpr int kRememberedFolderLayouts = 64;
std::string RememberFolderLayout(const std::string& remembered, const std::string& path, int option);

// A relative storage path in the window: from the current folder when it
// names something there, else from the program's folder when it names
// something there (a configuration that names "demo/earth.mbtiles" opens the
// demo beside the program, wherever the bin folder was copied to), else as
// it is. Options after '?' are kept; a URL ("s3://...") stays as it is.
std::string FromProgramFolder(const std::string& path);
