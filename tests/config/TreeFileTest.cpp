// Loading configuration file images: refused, cut and damaged files.
#include "config/TreeConfig.h"
#include "log/Errors.h"
#include "TreeImage.h"

#include <gtest/gtest.h>

namespace {

// IDE (no value) holding RightW = 200 and Path = "ab".
TreeImage SampleImage()
{
    TreeImage image;
    image.Header().List(1);
    image.Name("IDE").Type(0).List(2);
    image.Name("RightW").Type(6).Number(200, 4).List(0);
    image.Name("Path").Type(10).Block(std::string("ab\0", 3)).List(0);
    return image;
}

int ItemCount(ConfigItem& item)
{
    int count = 0;
    for (int i = 0; i < item.Count(); ++i)
        count += 1 + ItemCount(*item.Child(i));
    return count;
}

// A tree that already holds something, to see whether a load kept it.
void Prefill(TreeConfig& tree) { tree.Root()->WriteString("Old/Value", "kept"); }

TEST(TreeFileTest, SampleLoadsAndSavesBackIdentically)
{
    TreeConfig tree;
    const std::string image = SampleImage().bytes;
    ASSERT_TRUE(tree.LoadBytes(image));
    EXPECT_EQ(tree.Root()->ReadInt("IDE/RightW", 0), 200);
    EXPECT_EQ(tree.Root()->ReadString("IDE/Path", ""), "ab");
    EXPECT_EQ(tree.SaveBytes(), image);
}

TEST(TreeFileTest, LoadReplacesTheTreeAndKeepsDuplicateNames)
{
    TreeImage image;
    image.Header().List(2);
    image.Name("k").Type(6).Number(1, 4).List(0);
    image.Name("k").Type(6).Number(2, 4).List(0);
    TreeConfig tree;
    Prefill(tree);
    ASSERT_TRUE(tree.LoadBytes(image.bytes));
    EXPECT_EQ(tree.Root()->Count(), 2);
    EXPECT_EQ(tree.Root()->ReadInt("k", 0), 1) << "the first of equal names wins";
    EXPECT_EQ(tree.SaveBytes(), image.bytes);
}

TEST(TreeFileTest, AHeaderThatDiffersAnywhereIsRefusedAndTheTreeKept)
{
    const std::string good = SampleImage().bytes;
    std::vector<std::string> images;
    for (std::size_t at = 0; at < HeaderBytes().size(); ++at) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x20); // flips letter case, changes digits and lengths
        images.push_back(bad);
    }
    images.push_back(TreeImage().Header("TreE", "RTSm000").List(0).bytes);
    images.push_back(TreeImage().Header("TreE", "RTSm00011").List(0).bytes);
    images.push_back(TreeImage().Header("TREE").List(0).bytes);
    for (std::size_t cut = 0; cut < HeaderBytes().size(); ++cut)
        images.push_back(good.substr(0, cut));

    for (const std::string& image : images) {
        TreeConfig tree;
        Prefill(tree);
        const std::string before = tree.SaveBytes();
        SetLastError(0);
        EXPECT_FALSE(tree.LoadBytes(image));
        EXPECT_EQ(CurrentError(), ErrBadMagic);
        EXPECT_EQ(tree.SaveBytes(), before);
    }
}

TEST(TreeFileTest, ACutInsideANameKeepsWhatCameBeforeAndAnyOtherCutEmptiesTheTree)
{
    const TreeImage sample = SampleImage();
    for (std::size_t cut = HeaderBytes().size(); cut < sample.bytes.size(); ++cut) {
        TreeConfig tree;
        Prefill(tree);
        const bool insideName = std::any_of(sample.names.begin(), sample.names.end(),
                                            [cut](const auto& n) { return cut >= n.begin && cut < n.end; });
        const auto namesRead = std::count_if(sample.names.begin(), sample.names.end(),
                                             [cut](const auto& n) { return n.end <= cut; });
        SetLastError(0);
        EXPECT_EQ(tree.LoadBytes(sample.bytes.substr(0, cut)), insideName) << "cut at " << cut;
        if (insideName) {
            EXPECT_EQ(ItemCount(*tree.Root()), namesRead) << "cut at " << cut;
        } else {
            EXPECT_EQ(tree.Root()->Count(), 0) << "cut at " << cut;
            EXPECT_EQ(CurrentError(), ErrUnexpectedData) << "cut at " << cut;
        }
    }
}

TEST(TreeFileTest, DamageAfterTheHeaderEmptiesTheTree)
{
    struct Case {
        const char* what;
        std::string image;
    };
    const std::string header = HeaderBytes();
    const Case cases[] = {
        {"bad root list magic", TreeImage().Header().List(0, "TreX").bytes},
        {"bad child list magic", TreeImage().Header().List(1).Name("a").Type(0).List(0, "tree").bytes},
        {"short count", header + "TreE\x01\x00"},
        {"unknown type", TreeImage().Header().List(1).Name("a").Type(11).List(0).bytes},
        {"type 255", TreeImage().Header().List(1).Name("a").Type(255).List(0).bytes},
        {"short fixed value", TreeImage().Header().List(1).Name("a").Type(8).Number(1, 4).bytes},
        {"text longer than the file",
         TreeImage().Header().List(1).Name("a").Type(10).Number(0xFFFFFFF0u, 4).Raw("ab").bytes},
        {"data longer than the file", TreeImage().Header().List(1).Name("a").Type(9).Number(5, 4).Raw("abcd").bytes},
        {"no child list after a value", TreeImage().Header().List(1).Name("a").Type(6).Number(1, 4).bytes},
    };
    for (const Case& c : cases) {
        TreeConfig tree;
        Prefill(tree);
        EXPECT_FALSE(tree.LoadBytes(c.image)) << c.what;
        EXPECT_EQ(tree.Root()->Count(), 0) << c.what;
    }
}

TEST(TreeFileTest, ACountLargerThanTheEntriesEndsAtTheEndOfTheFile)
{
    TreeImage image;
    image.Header().List(0xFFFFFFFFu).Name("a").Type(6).Number(7, 4).List(0xFFFFFFFFu);
    TreeConfig tree;
    ASSERT_TRUE(tree.LoadBytes(image.bytes));
    EXPECT_EQ(ItemCount(*tree.Root()), 1);
    EXPECT_EQ(tree.Root()->ReadInt("a", 0), 7);
}

TEST(TreeFileTest, EveryValueTypeSurvivesARoundTrip)
{
    TreeConfig tree;
    ConfigItem& r = *tree.Root();
    r.WriteByte("v/byte", 250);
    r.WriteChar("v/char", -100);
    r.WriteShort("v/short", -30000);
    r.WriteLong("v/long", -7);
    r.WriteInt("v/int", 123456);
    r.WriteBool("v/bool", true);
    r.WriteFloat("v/float", 1.25f);
    r.WriteDouble("v/double", -0.1);
    r.WriteInt64("v/int64", 0x0102030405060708);
    r.WriteData("v/data", "\0\xFF", 2);
    r.WriteString("v/text", "caf\xC3\xA9");
    r.CreateItem("v/none");
    const std::string image = tree.SaveBytes();

    TreeConfig copy;
    ASSERT_TRUE(copy.LoadBytes(image));
    ConfigItem& c = *copy.Root();
    EXPECT_EQ(c.ReadByte("v/byte", 0), 250);
    EXPECT_EQ(c.ReadChar("v/char", 0), -100);
    EXPECT_EQ(c.ReadShort("v/short", 0), -30000);
    EXPECT_EQ(c.ReadLong("v/long", 0), -7);
    EXPECT_EQ(c.ReadInt("v/int", 0), 123456);
    EXPECT_TRUE(c.ReadBool("v/bool", false));
    EXPECT_EQ(c.ReadFloat("v/float", 0), 1.25f);
    EXPECT_EQ(c.ReadDouble("v/double", 0), -0.1);
    EXPECT_EQ(c.ReadInt64("v/int64", 0), 0x0102030405060708);
    char data[2] = {};
    c.ReadData("v/data", data, nullptr, 2);
    EXPECT_EQ(std::string(data, 2), std::string("\0\xFF", 2));
    EXPECT_EQ(c.ReadString("v/text", ""), "caf\xC3\xA9");
    EXPECT_EQ(c.FindItem("v/none")->Type(), TypeNone);
    EXPECT_EQ(copy.SaveBytes(), image);
}

TEST(TreeFileTest, LoadedWordAndCharValuesKeepTheirSign)
{
    TreeImage image;
    image.Header().List(3);
    image.Name("w").Type(4).Number(0xFFFF, 2).List(0);
    image.Name("s").Type(3).Number(0xFFFF, 2).List(0);
    image.Name("c").Type(2).Number(0xFF, 1).List(0);
    TreeConfig tree;
    ASSERT_TRUE(tree.LoadBytes(image.bytes));
    EXPECT_EQ(tree.Root()->ReadInt("w", 0), 65535);
    EXPECT_EQ(tree.Root()->ReadInt("s", 0), -1);
    EXPECT_EQ(tree.Root()->ReadInt("c", 0), -1);
    EXPECT_EQ(tree.SaveBytes(), image.bytes);
}

} // namespace
