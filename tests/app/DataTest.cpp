// What the data module does before any window exists.
#include "app/Data.h"

#include "ScriptedBoxes.h"
#include "log/Log.h"
#include "plates/BitmapHeader.h"
#include "plates/ImageLibrary.h"
#include "plugins/Registry.h"

#include <gtest/gtest.h>

namespace {

TEST(DataTest, FillsTheSharedRecordsAndBindsTheDecoder)
{
    UnloadImageLibrary();
    ScriptedBoxes boxes;
    TData data;
    EXPECT_TRUE(data.imagesAvailable);
    EXPECT_TRUE(ImageFunctions().Loaded());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(HostInfo().magic, ULMORA_PLUGIN_MAGIC);
    EXPECT_EQ(HostInfo().size, 16u);
    EXPECT_EQ(HostInfo().hostValue, 0x00010000u);
    EXPECT_EQ(PreviewHeader().sizeImage, 196608u);
    EXPECT_EQ(PreviewHeader().bitCount, 24);
    EXPECT_EQ(Data(), &data);
}

TEST(DataTest, WithoutTheDecoderTheProgramRunsOnAfterOneUnloggedBox)
{
    UnloadImageLibrary();
    ScriptedBoxes boxes;
    std::vector<std::string> logged;
    const int subscription = SubscribeLog([&logged](const std::string& line) { logged.push_back(line); });
    static const char* const kMissing[] = {"jpeg", "no-such-format", nullptr};
    {
        TData data(DataOptions{&InitZelmath, kMissing});
        EXPECT_FALSE(data.imagesAvailable);
    }
    UnsubscribeLog(subscription);
    EXPECT_FALSE(ImageFunctions().Loaded());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Error...");
    EXPECT_EQ(boxes.shown[0].text, "Cannot load GFL library \"Qt image readers\"\n"
                                   "Error: No image reader for no-such-format\n"
                                   "Image show is not possible!");
    EXPECT_TRUE(logged.empty());
}

const char* FailingMaths(int) { return "no coprocessor"; }

TEST(DataDeathTest, AFailingMathsLibraryEndsTheProgramWithCode1)
{
    EXPECT_EXIT(TData(DataOptions{&FailingMaths, nullptr}), ::testing::ExitedWithCode(1),
                "Programm aborted: Errr initialize Zelmath library: no coprocessor");
}

} // namespace
