#pragma once
// Where the program's own files and the user's files lie.
//
// The program's files (plugins, the image decoder, the crash helper, the
// dictionary) are looked for beside the program first: the build folder and
// a copied bin folder keep everything there. An installed program finds
// them in the usual places relative to its own folder (lib/ulmora/ and
// share/ulmora/ beside bin/), so an installation works under any prefix.
//
// The configuration and the log go beside the program while it is a
// portable copy in a folder the user may write; an installed program, or a
// copy in a read-only folder, keeps them in the user's XDG folders.

#include <string>
#include <string_view>

enum class OwnFileKind { Library, Data };

// The full path of the program's file `name` (relative): beside the program
// when it is there, else in the installed folder of its kind when it is
// there, else beside the program (so that a message names the place a
// portable copy uses).
std::string OwnFilePath(std::string_view name, OwnFileKind kind);

// True when the program runs from an installed layout: its dictionary is not
// beside it but in the installed data folder.
bool InstalledLayout();

// True when the configuration and the log go beside the program.
bool PortableLayout();

enum class UserFolderKind { Config, State };

// The folder, ending with '/', of the configuration (Config) or the log
// (State) when the program is not portable: $XDG_CONFIG_HOME/ulmora/ or
// $XDG_STATE_HOME/ulmora/, where a variable that is unset, empty or not an
// absolute path stands for ~/.config or ~/.local/state. Not made here.
std::string UserFolder(UserFolderKind kind);

// Where the file of that kind goes when no switch names it: the program
// folder when portable, else UserFolder(kind).
std::string SettingsFolder(UserFolderKind kind);
