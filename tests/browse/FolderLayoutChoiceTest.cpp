// A relative storage path in the window: from the current folder, else from
// the program's (a copied bin folder opens the demo beside it).
#include "browse/FolderLayoutChoice.h"

#include "TempFolder.h"
#include "base/Paths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(FolderLayoutChoiceTest, ARelativePathIsTakenFromTheProgramFolderWhenItIsNotHere)
{
    TempFolder here;
    const fs::path previous = fs::current_path();
    fs::current_path(here.Path());
    // A name of this run's own beside the test program, removed at the end.
    const std::string name = "folder-choice-" + std::to_string(getpid()) + ".mbtiles";
    const std::string besideProgram = JoinToProgramFolder(name);
    WriteWholeFile(besideProgram, "x");
    WriteWholeFile(here.File("local.mbtiles"), "x");
    // A folder beside the program that a URL's text would name as a path.
    const std::string scheme = "ut" + std::to_string(getpid());
    fs::create_directories(JoinToProgramFolder(scheme + ":/bkt/tiles"));
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {name, besideProgram},                       // only beside the program
        {name + "?layout=tms", besideProgram + "?layout=tms"}, // options kept
        {"local.mbtiles", "local.mbtiles"},          // here first
        {"nowhere.mbtiles", "nowhere.mbtiles"},      // nowhere: as typed
        {"/abs/x.mbtiles", "/abs/x.mbtiles"},
        {scheme + "://bkt/tiles", scheme + "://bkt/tiles"}, // a URL: as typed
        {"https://host/a.pmtiles", "https://host/a.pmtiles"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FromProgramFolder(c.path), c.expected) << c.path;
    fs::remove(besideProgram);
    fs::remove_all(JoinToProgramFolder(scheme + ":"));
    fs::current_path(previous);
}
