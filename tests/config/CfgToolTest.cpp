// ulmora-cfg, run in-process on files in a temporary folder.
#include "CfgTool.h"
#include "TempFolder.h"
#include "TreeImage.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct ToolRun {
    int code;
    std::string out;
    std::string err;
};

ToolRun Tool(std::vector<std::string> args)
{
    std::ostringstream out, err;
    int code = RunCfgTool(args, out, err);
    return {code, out.str(), err.str()};
}

class CfgToolTest : public ::testing::Test {
protected:
    TempFolder folder;
    const std::string file = folder.File("Ulmora.hcfg");
};

TEST_F(CfgToolTest, ValuesSetAreReadBackAndDumped)
{
    struct Case {
        std::string type;
        std::string value;
        std::string readBack;
        std::string dumped; // type code and value as dump shows them
    };
    const Case cases[] = {
        {"int", "-1", "-1", "[6] -1"},
        {"long", "4294967295", "-1", "[5] -1"},
        {"bool", "false", "false", "[6] 0"},
        {"bool", "Yes", "true", "[6] 1"},
        {"byte", "255", "255", "[1] 255"},
        {"char", "-128", "-128", "[2] -128"},
        {"short", "-2", "-2", "[3] -2"},
        {"int64", "-2", "-2", "[9] FE FF FF FF FF FF FF FF"},
        {"float", "0.5", "0.5", "[7] 0.5"},
        {"double", "-2.25", "-2.25", "[8] -2.25"},
        {"string", "a \"b\"\n", "a \"b\"\n", "[10] \"a \\\"b\\\"\\x0A\""},
        {"string", "", "", "[10] \"\""},
    };
    for (const Case& c : cases) {
        std::remove(file.c_str());
        ASSERT_EQ(Tool({"set", file, "IDE/Key", c.type, c.value}).code, 0) << c.type << " " << c.value;
        ToolRun get = Tool({"get", file, "IDE/Key", c.type});
        EXPECT_EQ(get.code, 0);
        EXPECT_EQ(get.out, c.readBack + "\n") << c.type << " " << c.value;
        ToolRun dump = Tool({"dump", file});
        EXPECT_EQ(dump.out, "IDE [0]\n  Key " + c.dumped + "\n") << c.type << " " << c.value;
    }
}

TEST_F(CfgToolTest, GetConvertsLikeTheProgramAndLeavesTheFileAlone)
{
    ASSERT_EQ(Tool({"set", file, "IDE/Hex", "string", "12h"}).code, 0);
    const std::string before = ReadWholeFile(file);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"get", file, "IDE/Hex", "int"}, "18\n"},
        {{"get", file, "IDE/Hex", "string"}, "12h\n"},
        {{"get", file, "IDE/Missing", "int"}, "0\n"},
        {{"get", file, "IDE/Missing", "string"}, "\n"},
        {{"get", file, "IDE", "bool"}, "false\n"},
    };
    for (const auto& [args, expected] : cases) {
        ToolRun run = Tool(args);
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(run.out, expected) << args[2] << " " << args[3];
    }
    EXPECT_EQ(ReadWholeFile(file), before);
}

TEST_F(CfgToolTest, DamagedOrForeignFilesGiveOneLineAndExitCodeOne)
{
    const std::string sample = TreeImage()
                                   .Header()
                                   .List(1)
                                   .Name("IDE")
                                   .Type(10)
                                   .Block(std::string("ab\0", 3))
                                   .List(0)
                                   .bytes;
    const std::pair<const char*, std::string> files[] = {
        {"empty", ""},
        {"text", "[IDE]\nAutosave=1\n"},
        {"cut header", sample.substr(0, 10)},
        {"cut value", sample.substr(0, sample.size() - 10)},
        {"huge text length", TreeImage().Header().List(1).Name("a").Type(10).Number(0xFFFFFFFFu, 4).bytes},
        {"unknown type", TreeImage().Header().List(1).Name("a").Type(42).List(0).bytes},
    };
    for (const auto& [what, bytes] : files) {
        WriteWholeFile(file, bytes);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"dump", file}, {"get", file, "IDE", "int"}, {"set", file, "IDE/X", "int", "1"}}) {
            ToolRun run = Tool(args);
            EXPECT_EQ(run.code, 1) << what << " " << args[0];
            EXPECT_TRUE(run.out.empty()) << what;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << what << ": " << run.err;
            EXPECT_EQ(run.err.back(), '\n');
        }
        EXPECT_EQ(ReadWholeFile(file), bytes) << what << ": a refused file is never overwritten";
    }
    ToolRun missing = Tool({"dump", folder.File("missing.hcfg")});
    EXPECT_EQ(missing.code, 1);
    ToolRun unsaved = Tool({"set", folder.File("missing/x.hcfg"), "a", "int", "1"});
    EXPECT_EQ(unsaved.code, 1);
}

TEST_F(CfgToolTest, WrongArgumentsGiveExitCodeTwo)
{
    const std::vector<std::string> cases[] = {
        {},
        {"frob", file},
        {"dump"},
        {"get", file, "IDE"},
        {"get", file, "IDE", "text"},
        {"set", file, "IDE/X", "byte", "256"},
        {"set", file, "IDE/X", "int", "12abc"},
        {"set", file, "IDE/X", "bool", "maybe"},
    };
    for (const auto& args : cases) {
        ToolRun run = Tool(args);
        EXPECT_EQ(run.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(file)) << "nothing is saved after a wrong value";
    ToolRun help = Tool({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("ulmora-cfg set FILE PATH TYPE VALUE"), std::string::npos);
}

TEST_F(CfgToolTest, DeepAndOddlyNamedItemsStayOnOneLineEach)
{
    TreeImage image;
    image.Header().List(1).Name("a\nb").Type(0).List(1);
    for (int i = 0; i < 40; ++i)
        image.Name("d").Type(0).List(1);
    image.Name("leaf").Type(0).List(0);
    WriteWholeFile(file, image.bytes);
    ToolRun run = Tool({"dump", file});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 42);
    EXPECT_EQ(run.out.substr(0, 10), "a\\x0Ab [0]");
    EXPECT_NE(run.out.find("(depth 41) leaf [0]"), std::string::npos);
}

} // namespace
