#pragma once
// The choice of a storage plugin: one entry per storage plugin of the
// registry, in the registry's order, and the entry chosen (or none). The
// main window shows the entries in its plugin list; the entry's text is the
// plugin's library path.
//
// And the choice of a plugin by what a storage path is, for whoever is given
// a path without a plugin (the command-line tool and the window).

#include "plugins/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

class PluginChoice {
public:
    explicit PluginChoice(const PluginsArray& plugins) : plugins_(plugins) {}

    // Rebuilds the entries from the registry. The plugin that was chosen stays
    // chosen when it is still registered (found by its library path);
    // otherwise nothing is chosen.
    void Fill();

    int Count() const { return static_cast<int>(positions_.size()); }
    // The plugin of an entry, or null for a position outside the entries.
    BasePlugin* PluginAt(int entry) const;

    // -1 when nothing is chosen.
    int Chosen() const { return chosen_; }
    // A position outside the entries chooses nothing.
    void Choose(int entry);
    BasePlugin* Selected() const { return PluginAt(chosen_); }
    // The chosen plugin's library path; empty when nothing is chosen.
    std::string SelectedLibraryPath() const;
    // The entry whose plugin opens `storage` by what the path is (see
    // ChoosePluginForPath); -1 when none or several fit.
    int EntryForPath(const std::string& storage) const;

private:
    const PluginsArray& plugins_;
    std::vector<int> positions_; // registry positions of the entries
    int chosen_ = -1;
};

// A storage plugin as the choice by path sees it.
struct PluginKind {
    std::string name;      // its library's file name without ".so"
    uint32_t flags = 0;    // UsesDirectory, SupportsWrite, SupportsList
    std::string extension; // its default storage file extension, without the dot
};

// A registered plugin's kind; its extension is asked through an action made
// and freed for it (empty when the plugin makes none).
PluginKind KindOf(BasePlugin& plugin);

// The storage path without the options a plugin reads after '?' (as in
// "DIR?layout=tms"), when the whole does not name something that exists and
// the part after the last '?' holds a '='.
std::string StoragePathPart(const std::string& storage);

// The scheme of a URL "SCHEME://..." in lower case ("s3"); empty for a
// local path. A URL names no file of this machine: nothing is made or looked
// up for it locally, its plugin alone reaches it.
std::string UrlScheme(const std::string& path);

struct PathChoice {
    int chosen = -1;          // the index of the kind chosen; -1 for none
    bool folder = false;      // the path asks for a plugin that uses folders
    std::string extension;    // the path's file extension, without the dot
    std::string scheme;       // a URL's scheme ("s3" of "s3://bucket/tiles"), lower case
    std::vector<int> fits;    // when several fit and none is the usual one: those
};

// Chooses among `kinds` by what `storage` is: a folder, whatever its name, or
// a path without an extension that does not exist yet, takes a plugin that
// uses folders; anything else the file plugin whose extension it has (case
// ignored). When several fit, the one named after the kind ("folder", or the
// extension) is the usual answer; for a folder of compact cache bundles
// (L05/R0000C0000.bundle), "tilebundle". A path the file system cannot look at (too
// long, a link loop) is taken as one that does not exist.
// A URL ("SCHEME://...") is never a local path: it takes the plugin that uses
// folders and names the scheme among the comma-separated schemes of its
// default extension (the S3 plugin's "s3,https,http"), and none when no
// plugin serves the scheme.
PathChoice ChoosePluginForPath(const std::vector<PluginKind>& kinds, const std::string& storage);
