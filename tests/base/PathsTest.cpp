// Paths relative to the program folder, in both syntaxes.
#include "base/Paths.h"

#include <gtest/gtest.h>

namespace {

struct Absolute {
    const char* path;
    bool windows;
    bool posix;
};

TEST(PathsTest, AbsolutePaths)
{
    const Absolute cases[] = {
        {"\\\\?\\C:\\x", true, false}, {"\\\\srv\\share", true, false}, {"C:\\x", true, false},
        {"C:x", false, false},         {"x\\y", false, false},          {"\\x", false, false},
        {"", false, false},            {"/usr/lib", false, true},       {"usr/lib", false, false},
        {"./x", false, false},
    };
    for (const Absolute& c : cases) {
        EXPECT_EQ(IsAbsolutePath(c.path, PathSyntax::Windows), c.windows) << c.path;
        EXPECT_EQ(IsAbsolutePath(c.path, PathSyntax::Posix), c.posix) << c.path;
    }
}

struct Relative {
    const char* path;
    const char* expected;
};

TEST(PathsTest, RelativeToAWindowsBase)
{
    const char* base = "C:\\Tools\\Viewer\\";
    const Relative cases[] = {
        {"C:\\Tools\\Viewer\\plugins\\db.dll", "plugins\\db.dll"},
        {"c:\\tools\\viewer\\DB.DLL", "DB.DLL"},
        {"C:\\Tools\\Other\\db.dll", "..\\Other\\db.dll"},
        {"C:\\Data\\Viewer\\db.dll", "..\\..\\Data\\Viewer\\db.dll"},
        {"D:\\db.dll", "D:\\db.dll"},
        {"\\\\server\\share\\db.dll", "\\\\server\\share\\db.dll"},
        {"\\\\?\\C:\\Tools\\Viewer\\db.dll", "\\\\?\\C:\\Tools\\Viewer\\db.dll"},
        {"plugins\\db.dll", "plugins\\db.dll"},
        {"C:\\Tools\\Viewer\\", ""},
        {"C:\\Tools\\Viewer", ""},
        {"C:\\Tools\\Viewer\\plugins\\", "plugins"},
        {"", ""},
    };
    for (const Relative& c : cases)
        EXPECT_EQ(MakeRelativePath(c.path, base, PathSyntax::Windows), c.expected) << c.path;
}

TEST(PathsTest, RelativeToAPosixBase)
{
    const char* base = "/opt/tools/viewer/";
    const Relative cases[] = {
        {"/opt/tools/viewer/plugins/db.so", "plugins/db.so"},
        {"/opt/tools/viewer/DB.SO", "DB.SO"},
        {"/opt/Tools/viewer/db.so", "../../Tools/viewer/db.so"}, // letter case counts
        {"/opt/tools/other/db.so", "../other/db.so"},
        {"/data/viewer/db.so", "../../../data/viewer/db.so"},
        {"/opt//tools/viewer//db.so", "db.so"},
        {"plugins/db.so", "plugins/db.so"},
        {"/opt/tools/viewer/", ""},
        {"/opt/tools/viewer", ""},
        {"/opt/tools/viewer/plugins/", "plugins"},
    };
    for (const Relative& c : cases)
        EXPECT_EQ(MakeRelativePath(c.path, base, PathSyntax::Posix), c.expected) << c.path;
}

TEST(PathsTest, JoinAndFolderPart)
{
    EXPECT_EQ(JoinToFolder("", "C:\\Tools\\", PathSyntax::Windows), "C:\\Tools\\");
    EXPECT_EQ(JoinToFolder("plugins", "C:\\Tools\\", PathSyntax::Windows), "C:\\Tools\\plugins");
    EXPECT_EQ(JoinToFolder("D:\\x", "C:\\Tools\\", PathSyntax::Windows), "D:\\x");
    EXPECT_EQ(JoinToFolder("plugins", "/opt/u/", PathSyntax::Posix), "/opt/u/plugins");
    EXPECT_EQ(JoinToFolder("/x", "/opt/u/", PathSyntax::Posix), "/x");
    EXPECT_EQ(FolderPart("C:\\a\\b.dll", PathSyntax::Windows), "C:\\a\\");
    EXPECT_EQ(FolderPart("b.dll", PathSyntax::Windows), "");
    EXPECT_EQ(FolderPart("/a/b.so", PathSyntax::Posix), "/a/");
    EXPECT_EQ(LastComponent("/a.b/c", PathSyntax::Posix), "c");
}

TEST(PathsTest, ProgramFolder)
{
    const std::string folder = ProgramFolder();
    ASSERT_TRUE(IsAbsolutePath(folder));
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(JoinToProgramFolder(""), folder);
    EXPECT_EQ(JoinToProgramFolder("plugins"), folder + "plugins");
    EXPECT_EQ(MakeRelativeToProgramFolder(folder), "");
    EXPECT_EQ(MakeRelativeToProgramFolder(folder + "x.so"), "x.so");
}

} // namespace
