#pragma once
// Paths kept relative to the program folder, so that the program and its
// plugins can be moved together.
//
// The rules are pure text operations with two syntaxes: Windows (drive
// letters, UNC, the "\\?\" prefix, backslashes, folders compared ignoring
// case) and POSIX ('/' separator, absolute = leading '/', case-sensitive).
// At run time the native syntax is POSIX.

#include <string>
#include <string_view>

enum class PathSyntax { Windows, Posix };
inline constexpr PathSyntax kNativeSyntax = PathSyntax::Posix;

char PathSeparator(PathSyntax syntax = kNativeSyntax);

// Windows: after an optional "\\?\" prefix, two backslashes (network path)
// or any character, a colon and a backslash. POSIX: a leading '/'.
bool IsAbsolutePath(std::string_view path, PathSyntax syntax = kNativeSyntax);

// `path` relative to `baseFolder` (which ends with a separator): one ".." per
// base component not shared, then the rest of the path. A relative path, or
// one on another root, is returned unchanged; the base itself gives "". The
// result never ends with a separator.
std::string MakeRelativePath(std::string_view path, std::string_view baseFolder,
                             PathSyntax syntax = kNativeSyntax);

// An absolute path unchanged; anything else appended to `folder`.
std::string JoinToFolder(std::string_view path, std::string_view folder,
                         PathSyntax syntax = kNativeSyntax);

// The text up to and including its last separator; empty when it has none.
std::string FolderPart(std::string_view path, PathSyntax syntax = kNativeSyntax);

// The text after the last separator (the whole text when it has none).
std::string_view LastComponent(std::string_view path, PathSyntax syntax = kNativeSyntax);

// The program folder, ending with the separator; computed at each call.
std::string ProgramFolder();
std::string MakeRelativeToProgramFolder(std::string_view path);
std::string JoinToProgramFolder(std::string_view path);
