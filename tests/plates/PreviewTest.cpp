// Showing a plate: the memory source, the checks of the plugin's block, and
// the decoder reached through its table (a fake one here).
#include "plates/Preview.h"

#include "log/Errors.h"
#include "log/Log.h"
#include "plugins/Registry.h"
#include "TestPluginState.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MemorySourceTest, ReadsTellsAndSeeksInsideTheBlock)
{
    const uint8_t block[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemorySource source{block, sizeof block, 0};
    uint8_t buffer[16] = {};
    EXPECT_EQ(MemorySourceRead(&source, buffer, 0), 0u);
    EXPECT_EQ(MemorySourceRead(&source, buffer, 4), 4u);
    EXPECT_EQ(MemorySourceTell(&source), 4u);
    EXPECT_EQ(MemorySourceRead(&source, buffer, 16), 6u);
    EXPECT_EQ(buffer[5], 9);
    EXPECT_EQ(MemorySourceRead(&source, buffer, 1), 0u) << "a read at the end";

    const struct {
        int32_t offset;
        int origin;
        uint32_t position;
    } seeks[] = {{3, 0, 3}, {-10, 0, 0}, {20, 0, 10}, {2, 0, 2}, {3, 1, 5}, {-9, 1, 0},
                 {4, 2, 6}, {-4, 2, 10}, {20, 2, 0},  {5, 0, 5}, {1, 7, 5}};
    for (const auto& seek : seeks)
        EXPECT_EQ(MemorySourceSeek(&source, seek.offset, seek.origin), seek.position)
            << seek.offset << " from " << seek.origin;
}

// The fake decoder reads the whole block through the callbacks and answers
// by the block's last character (the plate name's last letter):
//   'r' a 256 x 256 blue-green-red picture   'q' a grey one
//   's' a 100 x 50 blue-green-red picture    't' an error
ImageBitmap* MakeBitmap(uint16_t type, int width, int height, int bytesPerPixel)
{
    auto* bitmap = new ImageBitmap;
    bitmap->Type = type;
    bitmap->Width = width;
    bitmap->Height = height;
    bitmap->BytesPerPixel = static_cast<uint16_t>(bytesPerPixel);
    bitmap->BytesPerLine = width * bytesPerPixel;
    bitmap->Data = new uint8_t[static_cast<std::size_t>(bitmap->BytesPerLine * height)]();
    return bitmap;
}

int16_t FakeLoad(void* handle, ImageBitmap** bitmap, ImageLoadParams* params, ImageFileInformation*)
{
    char block[64] = {};
    uint32_t got = params->Read(handle, block, sizeof block - 1);
    if (got == 0 || params->Origin != kOriginBottomLeft || params->ColorModel != kImageBGR)
        return 9;
    switch (block[got - 1]) {
    case 'r': *bitmap = MakeBitmap(kImageBGR, 256, 256, 3); return 0;
    case 'q': *bitmap = MakeBitmap(kImageGrey, 256, 256, 1); return 0;
    case 's': *bitmap = MakeBitmap(kImageBGR, 100, 50, 3); return 0;
    default: return 7;
    }
}

int conversions = 0;
int16_t FakeChange(ImageBitmap* bitmap, ImageBitmap**, int mode, void*)
{
    ++conversions;
    EXPECT_EQ(mode, kModeToBGR);
    bitmap->Type = kImageBGR;
    return 0;
}

int freedBitmaps = 0;
void FakeFree(ImageBitmap* bitmap)
{
    ++freedBitmaps;
    delete[] bitmap->Data;
    delete bitmap;
}

class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = ImageFunctions();
        ImageLibrary& table = ImageFunctions();
        table.GetDefaultLoadParams = [](ImageLoadParams* params) { *params = ImageLoadParams{}; };
        table.LoadBitmapFromHandle = &FakeLoad;
        table.GetErrorString = [](int16_t code) { return code == 7 ? "bad picture" : "other"; };
        table.ChangeColorDepth = &FakeChange;
        table.FreeFileInformation = [](ImageFileInformation*) {};
        table.FreeBitmap = &FakeFree;
        conversions = freedBitmaps = 0;

        FillHostInfo();
        state = KeepTestPluginLoaded(TP_STORAGE_PATH);
        plugin = LoadPlugin(TP_STORAGE_PATH, &HostInfo(), PluginTypeStorage);
        ASSERT_NE(plugin, nullptr);
        action = plugin->CreateAction();
        ASSERT_TRUE(action->Open("/data/cache.db"));
        logSubscription = SubscribeLog([this](const std::string& line) { logged.push_back(line); });
    }
    void TearDown() override
    {
        UnsubscribeLog(logSubscription);
        plugin.reset();
        ImageFunctions() = saved_;
    }
    PreviewResult Show(const char* name, bool drawWorks = true)
    {
        PlateItem plate;
        plate.name = name;
        plate.nameLength = static_cast<int>(std::strlen(name));
        plate.size = 15360;
        return PreviewPlate(*action, plate, [&](const ImageBitmap& bitmap) {
            drawnType = bitmap.Type;
            return drawWorks;
        });
    }

    ImageLibrary saved_;
    TestPluginControl* state = nullptr;
    std::unique_ptr<StoragePlugin> plugin;
    StorageAction* action = nullptr;
    std::vector<std::string> logged;
    int logSubscription = 0;
    int drawnType = -1;
};

TEST_F(PreviewTest, APlateOfTheRightKindShowsWithoutALogLine)
{
    const PreviewResult result = Show("tr");
    EXPECT_TRUE(result.shown);
    EXPECT_EQ(result.label, "Item: tr\nSizes: 256x256 (15.360K)");
    EXPECT_EQ(drawnType, kImageBGR);
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(freedBitmaps, 1);
}

TEST_F(PreviewTest, OtherColourModelsAreConvertedAndOtherSizesWarned)
{
    EXPECT_TRUE(Show("tq").shown);
    EXPECT_EQ(conversions, 1);
    EXPECT_EQ(logged, std::vector<std::string>{"Change image colorspace from 2 to BGR"});
    logged.clear();
    const PreviewResult odd = Show("ts");
    EXPECT_TRUE(odd.shown);
    EXPECT_EQ(odd.label, "Item: ts\nSizes: 100x50 (15.360K)");
    EXPECT_EQ(logged, std::vector<std::string>{"Loaded bitmap [ts] has wrong sizes 100x50 (Tarvel has 256x256"});
}

TEST_F(PreviewTest, EveryFailureSaysWhyUnderThePicture)
{
    EXPECT_EQ(Show("tt").label, "Error loading plate data!\nPlate: tt\nFile: \nError: bad picture");
    EXPECT_EQ(freedBitmaps, 0) << "nothing to free when decoding failed";

    state->plateDataResult = Failed;
    std::snprintf(state->errorText, sizeof state->errorText, "plate is gone");
    EXPECT_EQ(Show("tr").label, "Error loading plate data!\nPlate: tr\nFile: \nError: plate is gone");

    state->plateDataResult = Empty;
    SetErrorText("the last reason");
    EXPECT_EQ(Show("tr").label, "Error loading plate data!\nPlate: tr\nFile: \nError: the last reason");

    state->plateDataResult = Done;
    state->plateDataBadPointer = 1;
    EXPECT_EQ(Show("tr").label, "Error loading plate data!\nPlate: tr\nFile: \n"
                                "Error: Plugin returns bad data pointer: 0x10[10] (1) for plate \"tr\"");
    state->plateDataBadPointer = 2; // a readable block of no bytes: the probe says so
    EXPECT_NE(Show("tr").label.find("[0] (0) for plate"), std::string::npos);
    state->plateDataBadPointer = 0;

    logged.clear();
    const PreviewResult notDrawn = Show("tr", false);
    EXPECT_FALSE(notDrawn.shown);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("Error draw item image (img: ", 0), 0u) << logged[0];
    EXPECT_EQ(freedBitmaps, 1) << "freed also when drawing failed";
}

TEST_F(PreviewTest, WithoutADecoderNothingIsCalled)
{
    ImageFunctions() = ImageLibrary{};
    const PreviewResult result = Show("tr");
    EXPECT_FALSE(result.shown);
    EXPECT_EQ(result.label, "Error loading plate data!\nPlate: tr\nFile: \nError: Image show is not possible!");
}

} // namespace
