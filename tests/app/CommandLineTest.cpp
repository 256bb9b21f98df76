// The switches that place the configuration and the log file.
#include "app/CommandLine.h"

#include "base/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(CommandLineTest, SwitchesAreFoundInAnySpelling)
{
    struct Case {
        std::vector<std::string> arguments;
        bool found;
        std::string value;
    };
    const Case cases[] = {
        {{"prog", "-CFG=a.hcfg"}, true, "a.hcfg"},
        {{"prog", "/cfg=b"}, true, "b"},
        {{"prog", "-Cfg="}, true, ""},
        {{"prog", "-CFG=x=y"}, true, "x=y"},
        {{"prog", "-CFGX=a"}, false, ""},
        {{"prog", "CFG=a"}, false, ""},
        {{"prog", "--CFG=a"}, false, ""},
        {{"prog", "-CFG"}, false, ""},
        {{"-CFG=program-name-is-not-an-argument"}, false, ""},
        {{"prog", "-LOG=l", "-CFG=first", "/CFG=second"}, true, "first"},
    };
    for (const Case& c : cases) {
        std::string value;
        EXPECT_EQ(FindSwitch(c.arguments, "CFG", &value), c.found) << c.arguments.back();
        if (c.found) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(CommandLineTest, EnvironmentReferencesAreExpanded)
{
    setenv("ULMORA_TEST_DIR", "/data/maps", 1);
    unsetenv("ULMORA_TEST_UNSET");
    EXPECT_EQ(ExpandEnvironment("%ULMORA_TEST_DIR%/u.hcfg"), "/data/maps/u.hcfg");
    EXPECT_EQ(ExpandEnvironment("a%ULMORA_TEST_DIR%b%ULMORA_TEST_DIR%"), "a/data/mapsb/data/maps");
    EXPECT_EQ(ExpandEnvironment("%ULMORA_TEST_UNSET%/x"), "%ULMORA_TEST_UNSET%/x");
    EXPECT_EQ(ExpandEnvironment("100%"), "100%");
    EXPECT_EQ(ExpandEnvironment("50% of %ULMORA_TEST_DIR%"), "50% of /data/maps");
    EXPECT_EQ(ExpandEnvironment("%%"), "%%");
}

TEST(CommandLineTest, FilesArePlacedBesideTheProgramUnlessASwitchSaysOtherwise)
{
    const std::string folder = ProgramFolder();
    setenv("ULMORA_TEST_DIR", "/data/maps", 1);
    EXPECT_EQ(ResolveFilePath({"prog"}, "CFG", "Ulmora.hcfg"), folder + "Ulmora.hcfg");
    EXPECT_EQ(ResolveFilePath({"prog", "-cfg=/etc/u.hcfg"}, "CFG", "Ulmora.hcfg"), "/etc/u.hcfg");
    EXPECT_EQ(ResolveFilePath({"prog", "-CFG=sub/u.hcfg"}, "CFG", "Ulmora.hcfg"), folder + "sub/u.hcfg");
    EXPECT_EQ(ResolveFilePath({"prog", "/LOG=%ULMORA_TEST_DIR%/u.log"}, "LOG", "Ulmora.log"), "/data/maps/u.log");
    EXPECT_EQ(ResolveFilePath({"prog", "-CFG=/etc/u.hcfg"}, "LOG", "Ulmora.log"), folder + "Ulmora.log");
    // Whole, never cut to some other file's path.
    EXPECT_EQ(ResolveFilePath({"prog", "-LOG=/" + std::string(300, 'a')}, "LOG", "x"), "/" + std::string(300, 'a'));
}

TEST(CommandLineTest, TheStorageArgumentIsTheLastOneThatIsNoSwitch)
{
    const struct {
        std::vector<std::string> arguments;
        std::string storage;
    } cases[] = {
        {{"prog"}, ""},
        {{"prog", "/data/world.mbtiles"}, "/data/world.mbtiles"},
        {{"prog", "-CFG=/etc/u.hcfg", "world.mbtiles"}, "world.mbtiles"},
        {{"prog", "/cfg=/etc/u.hcfg", "/LOG=u.log"}, ""},
        {{"prog", "/cfg/cache", "-LOG=u.log"}, "/cfg/cache"},
        {{"prog", "a.mbtiles", "b.mbtiles"}, "b.mbtiles"},
        {{"prog", "-x", ""}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StorageArgument(c.arguments), c.storage) << c.arguments.back();
}

} // namespace
