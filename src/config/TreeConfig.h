#pragma once
// The configuration tree: the root item, the blocks of its values, and the
// file it is loaded from and saved to.

#include "config/CfgBlobStore.h"
#include "config/TreeValue.h"

#include <memory>
#include <string>

namespace platform {
class FileSystem;
}

class TreeConfig {
public:
    // A file larger than this is not a configuration file (settings are a
    // few kilobytes); the limit keeps a hostile file from taking the memory.
    static constexpr std::size_t kMaxFileSize = 64u << 20;

    // `files` is used for every load and save; it must outlive the tree.
    explicit TreeConfig(platform::FileSystem* files = nullptr);
    TreeConfig(const TreeConfig&) = delete;
    TreeConfig& operator=(const TreeConfig&) = delete;

    // Replaces the tree by the file's items. A file that cannot be read or
    // is not a configuration file leaves the tree as it was; a damaged one
    // leaves it empty. False in both cases, with the reason as last error
    // (ErrBadMagic for a foreign file, ErrUnexpectedData for damage).
    bool Load(const std::string& path);

    // Writes the tree so that the file is either the old one or the whole
    // new one: the image goes to a new file in the same folder, which is
    // flushed to disk and then renamed over the old one. A read-only file is
    // not replaced. False on any failure, with the reason as last error.
    bool Save(const std::string& path);

    ConfigItem* Root() { return root_.get(); }
    TreeValue& RootValue() { return *root_; }
    CfgBlobStore& Blobs() { return blobs_; }

    // The same as Load and Save, on a file image in memory.
    bool LoadBytes(std::string_view bytes);
    std::string SaveBytes() const;

private:
    platform::FileSystem* files_;
    CfgBlobStore blobs_; // declared before the root, which releases blocks into it
    std::unique_ptr<TreeValue> root_;
};
