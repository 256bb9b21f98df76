// Typed reads and writes, conversions and paths of the configuration tree.
#include "config/TreeConfig.h"
#include "TreeImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

class TreeValueTest : public ::testing::Test {
protected:
    TreeConfig tree;
    ConfigItem& root = *tree.Root();
};

TEST_F(TreeValueTest, ReadOfAMissingKeyCreatesThePathAndTheDefault)
{
    EXPECT_EQ(root.ReadInt("Plugins/Count", 0), 0);

    ConfigItem* plugins = root.FindItem("Plugins");
    ASSERT_NE(plugins, nullptr);
    EXPECT_EQ(plugins->Type(), TypeNone);
    ConfigItem* count = plugins->FindItem("Count");
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->Type(), TypeInt);

    TreeImage expected;
    expected.Header().List(1).Name("Plugins").Type(0).List(1).Name("Count").Type(6).Number(0, 4).List(0);
    EXPECT_EQ(tree.SaveBytes(), expected.bytes);
}

TEST_F(TreeValueTest, ExampleTreeHasItsExactBytes)
{
    root.Item("IDE")->WriteInt("RightW", 200);
    const unsigned char expected[] = {
        'T', 'r', 'e', 'E', 8, 0, 0, 0, 'R', 'T', 'S', 'm', '0', '0', '0', '1', // header
        'T', 'r', 'e', 'E', 1, 0, 0, 0,                                         // root's list
        3, 0, 'I', 'D', 'E', 0, 'T', 'r', 'e', 'E', 1, 0, 0, 0,                 // IDE
        6, 0, 'R', 'i', 'g', 'h', 't', 'W', 6, 0xC8, 0, 0, 0, 'T', 'r', 'e', 'E', 0, 0, 0, 0,
    };
    EXPECT_EQ(tree.SaveBytes(), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST_F(TreeValueTest, FixedValuesHaveTheirBytesInTheFile)
{
    struct Case {
        const char* what;
        std::function<void(ConfigItem&)> write;
        int type;
        std::string value;
    };
    const Case cases[] = {
        {"int -1", [](ConfigItem& i) { i.WriteInt("k", -1); }, 6, "\xFF\xFF\xFF\xFF"},
        {"bool", [](ConfigItem& i) { i.WriteBool("k", true); }, 6, std::string("\x01\0\0\0", 4)},
        {"long", [](ConfigItem& i) { i.WriteLong("k", 0x01020304); }, 5, "\x04\x03\x02\x01"},
        {"byte", [](ConfigItem& i) { i.WriteByte("k", 0xAB); }, 1, "\xAB"},
        {"char", [](ConfigItem& i) { i.WriteChar("k", -2); }, 2, "\xFE"},
        {"short", [](ConfigItem& i) { i.WriteShort("k", -2); }, 3, "\xFE\xFF"},
        {"float", [](ConfigItem& i) { i.WriteFloat("k", 1.0f); }, 7, std::string("\0\0\x80\x3F", 4)},
        {"double", [](ConfigItem& i) { i.WriteDouble("k", 2.0); }, 8, std::string("\0\0\0\0\0\0\0\x40", 8)},
        {"empty text", [](ConfigItem& i) { i.WriteString("k", ""); }, 10, std::string("\x01\0\0\0\0", 5)},
        {"text", [](ConfigItem& i) { i.WriteString("k", "ab"); }, 10, std::string("\x03\0\0\0ab\0", 7)},
        {"int64", [](ConfigItem& i) { i.WriteInt64("k", -2); }, 9,
         std::string("\x08\0\0\0", 4) + std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF")},
    };
    for (const Case& c : cases) {
        TreeConfig one;
        c.write(*one.Root());
        TreeImage expected;
        expected.Header().List(1).Name("k").Type(c.type).Raw(c.value).List(0);
        EXPECT_EQ(one.SaveBytes(), expected.bytes) << c.what;
    }
}

TEST_F(TreeValueTest, SeparatorsOfEveryKindReachTheSameItem)
{
    ConfigItem* target = root.CreateItem("a/b");
    for (const char* path : {"a/b", "a\\b", "a//b", "a/b/", "a\\/b", "a/\\\\b//"})
        EXPECT_EQ(root.FindItem(path), target) << path;
    ConfigItem* a = root.FindItem("a");
    for (const char* path : {"", "/", "\\b", "//a"})
        EXPECT_EQ(a->FindItem(path), a) << path;
    EXPECT_EQ(root.Count(), 1);
    EXPECT_EQ(a->Count(), 1);
}

TEST_F(TreeValueTest, IntegerReadsOfTextsFollowTheNumberSyntax)
{
    struct Case {
        const char* text;
        const char* read;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"12h", "int", 18},          {"-5", "int", -5},          {"-5", "long", 0},
        {"-5", "char", -5},          {"-5", "byte", 0},          {"-5", "short", 0},
        {"'A", "int", 65},           {"\"AB", "int", 0x4142},    {"\"ABCDE", "int", 0x41424344},
        {"\"ABC", "short", 0x4142},  {"0x1F", "int", 31},        {"0X1f", "long", 31},
        {"017", "int", 15},          {"101b", "int", 5},         {"12  ", "int", 12},
        {" 12", "int", 0},           {"", "int", 0},             {"1.5", "int", 0},
        {"-0x10", "int", -16},       {"300", "byte", 44},        {"ffh", "int", 255},
        {"zz", "int", 385},          {"az", "int", 135},         {"--5", "int", 0},
        {"4294967296", "int", 0},    {"-1", "bool", 1},          {"0", "bool", 0},
    };
    for (const Case& c : cases) {
        TreeConfig one;
        ConfigItem& r = *one.Root();
        r.WriteString("k", c.text);
        std::string read = c.read;
        std::int64_t got = read == "int"     ? r.ReadInt("k", 99)
                           : read == "long"  ? r.ReadLong("k", 99)
                           : read == "char"  ? r.ReadChar("k", 99)
                           : read == "byte"  ? r.ReadByte("k", 99)
                           : read == "short" ? r.ReadShort("k", 99)
                                             : r.ReadBool("k", false);
        EXPECT_EQ(got, c.expected) << c.read << " of \"" << c.text << "\"";
        EXPECT_EQ(r.FindItem("k")->Type(), TypeString) << "a conversion leaves the item as it was";
    }
}

TEST_F(TreeValueTest, ReadsOfAnotherFamilyConvertWithoutChangingTheItem)
{
    struct Case {
        const char* what;
        std::function<void(ConfigItem&)> write;
        std::function<double(ConfigItem&)> read;
        double expected;
    };
    const Case cases[] = {
        {"int of double", [](ConfigItem& i) { i.WriteDouble("k", 3.9); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, 3},
        {"int of negative float", [](ConfigItem& i) { i.WriteFloat("k", -3.9f); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, -3},
        {"int of huge double", [](ConfigItem& i) { i.WriteDouble("k", 1e300); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, -1},
        {"int of NaN", [](ConfigItem& i) { i.WriteDouble("k", std::nan("")); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, 0},
        {"double of int -1", [](ConfigItem& i) { i.WriteInt("k", -1); },
         [](ConfigItem& i) { return i.ReadDouble("k", 7); }, 4294967295.0},
        {"float of byte", [](ConfigItem& i) { i.WriteByte("k", 200); },
         [](ConfigItem& i) { return i.ReadFloat("k", 7); }, 200},
        {"float of huge double", [](ConfigItem& i) { i.WriteDouble("k", 1e300); },
         [](ConfigItem& i) { return i.ReadFloat("k", 7); }, HUGE_VAL},
        {"double of float", [](ConfigItem& i) { i.WriteFloat("k", 0.5f); },
         [](ConfigItem& i) { return i.ReadDouble("k", 7); }, 0.5},
        {"double of text", [](ConfigItem& i) { i.WriteString("k", "-2.5e1"); },
         [](ConfigItem& i) { return i.ReadDouble("k", 7); }, -25},
        {"double of bad text", [](ConfigItem& i) { i.WriteString("k", "2,5"); },
         [](ConfigItem& i) { return i.ReadDouble("k", 7); }, 0},
        {"int of 4 data bytes", [](ConfigItem& i) { i.WriteData("k", "\x01\x02\x03\x04", 4); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, 0x04030201},
        {"short of 4 data bytes", [](ConfigItem& i) { i.WriteData("k", "\x01\x02\x03\x04", 4); },
         [](ConfigItem& i) { return i.ReadShort("k", 7); }, 0x0201},
        {"int of 2 data bytes", [](ConfigItem& i) { i.WriteData("k", "\x01\x02", 2); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, 0},
        {"double of 8 data bytes", [](ConfigItem& i) { i.WriteData("k", "\0\0\0\0\0\0\xF0\x3F", 8); },
         [](ConfigItem& i) { return i.ReadDouble("k", 7); }, 1.0},
        {"int of an item without value", [](ConfigItem& i) { i.CreateItem("k"); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, 0},
        {"double of an item without value", [](ConfigItem& i) { i.CreateItem("k"); },
         [](ConfigItem& i) { return i.ReadDouble("k", 7); }, 0},
        {"byte of int 300", [](ConfigItem& i) { i.WriteInt("k", 300); },
         [](ConfigItem& i) { return i.ReadByte("k", 7); }, 44},
        {"char of int 200", [](ConfigItem& i) { i.WriteInt("k", 200); },
         [](ConfigItem& i) { return i.ReadChar("k", 7); }, -56},
        {"int of char -2", [](ConfigItem& i) { i.WriteChar("k", -2); },
         [](ConfigItem& i) { return i.ReadInt("k", 7); }, -2},
        {"bool of long 2", [](ConfigItem& i) { i.WriteLong("k", 2); },
         [](ConfigItem& i) { return i.ReadBool("k", false); }, 1},
    };
    for (const Case& c : cases) {
        TreeConfig one;
        ConfigItem& r = *one.Root();
        c.write(r);
        const int type = r.FindItem("k")->Type();
        const std::string before = one.SaveBytes();
        EXPECT_EQ(c.read(r), c.expected) << c.what;
        EXPECT_EQ(r.FindItem("k")->Type(), type) << c.what;
        EXPECT_EQ(one.SaveBytes(), before) << c.what;
    }
}

TEST_F(TreeValueTest, TextAndBinaryReadsReplaceAValueOfAnotherType)
{
    root.WriteInt("a", 5);
    EXPECT_EQ(root.ReadString("a", "dflt"), "dflt");
    EXPECT_EQ(root.FindItem("a")->Type(), TypeString);

    root.WriteString("b", "text");
    EXPECT_EQ(root.ReadInt64("b", -3), -3);
    EXPECT_EQ(root.FindItem("b")->Type(), TypeData);

    root.WriteInt("c", 5);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(root.ReadData("c", buffer, "ab", 2), buffer);
    EXPECT_EQ(std::string(buffer, 4), "abxx");
    EXPECT_EQ(root.FindItem("c")->Type(), TypeData);

    // A data value shorter than asked copies only what it holds.
    root.WriteData("d", "z", 1);
    EXPECT_EQ(root.ReadData("d", buffer, "0123", 4), buffer);
    EXPECT_EQ(std::string(buffer, 4), "zbxx");
}

TEST_F(TreeValueTest, WritesReturnTheStoredValueAndReadsGiveItBack)
{
    EXPECT_EQ(root.WriteInt("i", -1), -1);
    EXPECT_EQ(root.ReadInt("i", 0), -1);
    EXPECT_EQ(root.WriteLong("l", 4000000000u), 4000000000u);
    EXPECT_EQ(root.ReadLong("l", 0u), 4000000000u);
    EXPECT_EQ(root.WriteInt64("q", INT64_MIN), INT64_MIN);
    EXPECT_EQ(root.ReadInt64("q", 0), INT64_MIN);
    EXPECT_EQ(root.WriteString("s", "abc"), "abc");
    EXPECT_EQ(root.ReadString("s", ""), "abc");
    EXPECT_EQ(root.WriteString("s", "a longer text that grows the block"), "a longer text that grows the block");
    EXPECT_EQ(root.WriteString("s", "x"), "x");
    EXPECT_EQ(root.ReadString("s", ""), "x");
    const void* stored = root.WriteData("d", "\0\1\2", 3);
    EXPECT_EQ(std::memcmp(stored, "\0\1\2", 3), 0);
}

TEST_F(TreeValueTest, BlocksAreReusedAcrossTextAndDataAndFreedOtherwise)
{
    CfgBlobStore& blobs = tree.Blobs();
    root.WriteString("k", "text");
    EXPECT_EQ(blobs.LiveBlocks(), 1u);
    root.WriteData("k", "\1\2", 2);
    EXPECT_EQ(blobs.LiveBlocks(), 1u);
    root.WriteInt("k", 1);
    EXPECT_EQ(blobs.LiveBlocks(), 0u);

    root.WriteString("a/b/c", "x");
    root.WriteString("a/b", "y");
    EXPECT_EQ(blobs.LiveBlocks(), 2u);
    root.Delete(root.FindItem("a"));
    EXPECT_EQ(blobs.LiveBlocks(), 0u);
}

TEST_F(TreeValueTest, StructureOperations)
{
    ConfigItem* a = root.Item("a");
    ConfigItem* b = root.Item("b");
    ConfigItem* c = root.Item("c");
    EXPECT_EQ(root.Count(), 3);
    EXPECT_EQ(b->Index(), 1);
    EXPECT_EQ(root.Index(), 0);
    EXPECT_EQ(root.Child(2), c);
    EXPECT_EQ(root.Child(3), nullptr);
    EXPECT_EQ(root.Child(-1), nullptr);
    EXPECT_EQ(a->Parent(), &root);
    EXPECT_EQ(root.Parent(), nullptr);
    EXPECT_EQ(b->Name(), "b");

    TreeConfig other;
    ConfigItem* foreign = other.Root()->Item("a");
    root.Delete(foreign);
    EXPECT_EQ(other.Root()->Count(), 1) << "an item of another tree stays";
    root.Delete(&root);
    root.Delete();
    EXPECT_EQ(root.Count(), 3) << "the root stays";

    b->Delete();
    EXPECT_EQ(root.Count(), 2);
    EXPECT_EQ(c->Index(), 1);
    a->Item("x/y");
    a->Clear();
    EXPECT_EQ(a->Count(), 0);
}

TEST_F(TreeValueTest, NamesTheFileCannotHoldAreRefused)
{
    const std::string longName(70000, 'n');
    EXPECT_EQ(root.CreateItem("a/" + longName), nullptr);
    EXPECT_EQ(root.WriteString("b/" + longName, "v"), "v");
    EXPECT_EQ(root.ReadInt(longName, 4), 4);
    EXPECT_EQ(root.Count(), 2) << "only the segments that could be made";
    EXPECT_EQ(root.FindItem("a")->Count(), 0);
    EXPECT_NE(root.CreateItem(std::string(65535, 'n')), nullptr);
}

TEST_F(TreeValueTest, DeepTreesSaveLoadAndGoAwayWithoutRecursion)
{
    std::string path;
    for (int i = 0; i < 100000; ++i)
        path += "d/";
    root.WriteInt(path + "leaf", 9);
    std::string image = tree.SaveBytes();

    TreeConfig copy;
    ASSERT_TRUE(copy.LoadBytes(image));
    EXPECT_EQ(copy.Root()->ReadInt(path + "leaf", 0), 9);
    EXPECT_EQ(copy.SaveBytes(), image);
}

} // namespace
