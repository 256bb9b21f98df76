// Saving and loading configuration files on disk: a save that fails at any
// step leaves the previous file exactly as it was.
#include "config/TreeConfig.h"
#include "log/Errors.h"
#include "FaultyFiles.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class SaveTest : public ::testing::Test {
protected:
    SaveTest()
    {
        old.Root()->WriteString("IDE/LastUsedData", "the previous configuration");
        EXPECT_TRUE(old.Save(path));
        oldBytes = ReadWholeFile(path);
        tree.Root()->WriteString("IDE/LastUsedData", "a new and longer configuration value");
        tree.Root()->WriteInt("IDE/RightW", 200);
    }

    TempFolder folder;
    const std::string path = folder.File("Ulmora.hcfg");
    TreeConfig old;
    std::string oldBytes;
    FaultyFiles files;
    TreeConfig tree{&files};
};

TEST_F(SaveTest, ASaveReplacesTheFileAndKeepsItsPermissions)
{
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(tree.Save(path));
    EXPECT_EQ(ReadWholeFile(path), tree.SaveBytes());
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"Ulmora.hcfg"});

    TreeConfig reread;
    ASSERT_TRUE(reread.Load(path));
    EXPECT_EQ(reread.SaveBytes(), tree.SaveBytes());
}

TEST_F(SaveTest, AFailureAtAnyStepLeavesThePreviousFile)
{
    struct Case {
        FaultyFiles::Fault fault;
        std::size_t bytesBeforeFull;
        int error;
    };
    std::vector<Case> cases = {
        {FaultyFiles::Fault::CreateTemporary, 0, ENOSPC},
        {FaultyFiles::Fault::Sync, 0, EIO},
        {FaultyFiles::Fault::Close, 0, EIO},
        {FaultyFiles::Fault::Rename, 0, EXDEV},
    };
    const std::size_t size = tree.SaveBytes().size();
    for (std::size_t full = 0; full < size; ++full)
        cases.push_back({FaultyFiles::Fault::Append, full, ENOSPC});

    for (const Case& c : cases) {
        files.fault = c.fault;
        files.bytesBeforeFull = c.bytesBeforeFull;
        SetLastError(0);
        EXPECT_FALSE(tree.Save(path)) << static_cast<int>(c.fault) << " at " << c.bytesBeforeFull;
        EXPECT_EQ(CurrentError(), c.error);
        EXPECT_EQ(ReadWholeFile(path), oldBytes);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"Ulmora.hcfg"}) << "no partial file is left";
    }
}

TEST_F(SaveTest, AWritableFileInAFolderThatIsNotIsRewrittenInPlace)
{
    files.fault = FaultyFiles::Fault::CreateTemporary;
    files.createError = EACCES; // no temporary file beside it
    ASSERT_TRUE(tree.Save(path));
    EXPECT_EQ(ReadWholeFile(path), tree.SaveBytes());
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"Ulmora.hcfg"});

    files.fault = FaultyFiles::Fault::Append; // and a failure there is still reported
    files.bytesBeforeFull = 3;
    EXPECT_FALSE(tree.Save(path));
}

TEST_F(SaveTest, AReadOnlyFileIsNotReplaced)
{
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    SetLastError(0);
    EXPECT_FALSE(tree.Save(path));
    EXPECT_NE(CurrentError(), 0);
    EXPECT_EQ(ReadWholeFile(path), oldBytes);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"Ulmora.hcfg"});
}

TEST_F(SaveTest, ASaveIntoAMissingFolderFails)
{
    SetLastError(0);
    EXPECT_FALSE(tree.Save(folder.File("missing/Ulmora.hcfg")));
    EXPECT_EQ(CurrentError(), ENOENT);
}

TEST_F(SaveTest, ASaveThroughASymbolicLinkReplacesTheLinkedFile)
{
    const std::string link = folder.File("link.hcfg");
    fs::create_symlink(path, link);
    ASSERT_TRUE(tree.Save(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(path), tree.SaveBytes());
}

TEST_F(SaveTest, FilesThatCannotBeReadLeaveTheTreeAlone)
{
    WriteWholeFile(folder.File("empty.hcfg"), "");
    WriteWholeFile(folder.File("foreign.hcfg"), "[IDE]\nRightW=200\n");
    fs::create_directory(folder.File("folder.hcfg"));
    struct Case {
        std::string name;
        int error;
    };
    const Case cases[] = {
        {"missing.hcfg", ENOENT},
        {"empty.hcfg", ErrBadMagic},
        {"foreign.hcfg", ErrBadMagic},
        {"folder.hcfg", EISDIR},
    };
    const std::string before = tree.SaveBytes();
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(tree.Load(folder.File(c.name))) << c.name;
        EXPECT_EQ(CurrentError(), c.error) << c.name;
        EXPECT_EQ(tree.SaveBytes(), before) << c.name;
    }
}

} // namespace
