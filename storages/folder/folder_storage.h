#pragma once
// A folder tree of plate images, in one of two layouts recognised at Open:
//  - the plate tree: one folder per name letter but the last, which names
//    the file: base/t/q/r/s.jpg is the plate "tqrs", base/t.jpg the plate "t";
//  - the slippy-map tree {z}/{x}/{y}.{ext}, y counted from the top.

#include "plate_key.h"
#include "plugin_glue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace folder {

class Storage : public storage_glue::StorageBase {
public:
    // Folders get no extension; the contract still wants a valid text.
    static constexpr const char* kExtension = "";

    ~Storage() { Close(); }

    bool Open(const char* path);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);

private:
    enum class Layout { PlateTree, SlippyTree };
    struct Walk;

    bool WalkPlateTree(int dirFd, size_t depth, Walk& walk);
    bool WalkSlippyTree(Walk& walk);
    bool WalkSlippyColumn(int columnFd, const plate_key::Tile& column, Walk& walk);
    // The file of a plate relative to the base folder, or empty when there
    // is none; `parent` receives its folder.
    std::string FindFile(const char* name, std::string* parent);
    // The file of plate `name` in *path and Done, or the failure reported.
    uint32_t Locate(const char* name, std::string* path);

    int baseFd_ = -1;
    std::string folderName_; // for messages: the last path component
    Layout layout_ = Layout::PlateTree;
    std::vector<unsigned char> data_; // the block GetPlateData handed out
};

} // namespace folder
