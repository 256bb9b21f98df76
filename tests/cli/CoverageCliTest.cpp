// ulmora-cli info --coverage and --chart: the pictures of real storages,
// read back and compared pixel by pixel.
#include "CliRun.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <png.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using cli_test::Quote;

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tool's exit code.
int RunCli(const TempFolder& folder, const std::vector<std::string>& arguments)
{
    return cli_test::RunCli(folder, arguments).code;
}

// An MBTiles storage of zoom z's tiles that pass keep(x, y), y from the top.
std::string Storage(const TempFolder& folder, const std::string& name, int z, const std::string& keep)
{
    const std::string file = folder.File(name);
    const int side = 1 << z;
    const std::string sql =
        "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
        " WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(side * side - 1) +
        "), t(x, y) AS (SELECT i % " + std::to_string(side) + ", i / " + std::to_string(side) + " FROM n)"
        " INSERT INTO tiles SELECT " + std::to_string(z) + ", x, " + std::to_string(side - 1) +
        " - y, randomblob(50 + (x * 7 + y) % 200) FROM t WHERE " + keep + ";";
    EXPECT_EQ(Shell("sqlite3 -batch " + Quote(file) + " " + Quote(sql)), 0);
    return file;
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* At(int x, int y) const { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
};

bool ReadPng(const std::string& file, Picture* picture)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str()))
        return false;
    image.format = PNG_FORMAT_RGBA;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->rgba.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture->rgba.data(), 0, nullptr) != 0;
}

TEST(CoverageCliTest, PicturesShowExactlyTheSelectedTiles)
{
    TempFolder folder;
    const std::string full = Storage(folder, "full.mbtiles", 8, "1");
    const std::string holed = Storage(folder, "holed.mbtiles", 8, "NOT (x < 128 AND y < 128)");
    const struct {
        const char* what;
        std::string storage;
        std::vector<std::string> options;
        int side;
        std::function<bool(int x, int y)> tile; // where the picture has a tile
    } cases[] = {
        {"the north-west quarter deleted", holed, {}, 256, [](int x, int y) { return x >= 128 || y >= 128; }},
        {"the same, its zoom named", holed, {"--z", "8"}, 256, [](int x, int y) { return x >= 128 || y >= 128; }},
        // tqr: the north-west quarter's north-east quarter.
        {"a single prefix", full, {"--prefix", "tqr"}, 256,
         [](int x, int y) { return x >= 64 && x < 128 && y < 64; }},
        {"an empty level", full, {"--z", "5"}, 32, [](int, int) { return false; }},
        {"an empty level below", full, {"--levels", "11"}, 1024, [](int, int) { return false; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = folder.File("coverage.png");
        fs::remove(out);
        std::vector<std::string> arguments = {"info", c.storage, "--coverage", out, "--formats", "none"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(RunCli(folder, arguments), 0) << ReadWholeFile(folder.File("stderr"));
        Picture picture;
        ASSERT_TRUE(ReadPng(out, &picture));
        ASSERT_EQ(picture.width, c.side);
        ASSERT_EQ(picture.height, c.side);
        int wrong = 0;
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) {
                const uint8_t* pixel = picture.At(x, y);
                const bool tile = c.tile(x, y);
                // Fully transparent without a tile, opaque and coloured with one.
                const bool right = tile ? pixel[3] == 255 && pixel[0] + pixel[1] + pixel[2] > 0
                                        : pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0 && pixel[3] == 0;
                if (!right && ++wrong <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " alpha " << int(pixel[3]);
            }
        EXPECT_EQ(wrong, 0);
    }
}

// Beyond zoom 12 a pixel is a block of tiles: zoom 13's 8192 x 8192 tiles
// in 4096 x 4096 pixels of 2 x 2 tiles.
TEST(CoverageCliTest, DeeperZoomsAreDrawnInBlocks)
{
    TempFolder folder;
    const std::string file = folder.File("deep.mbtiles");
    // TMS rows: row 8191 is the top.
    const std::string sql =
        "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
        " INSERT INTO tiles VALUES (13, 0, 8191, randomblob(9)), (13, 1, 8190, randomblob(9)),"
        " (13, 8191, 0, randomblob(9)), (13, 4000, 8191 - 2001, randomblob(9)), (12, 5, 5, randomblob(9));";
    ASSERT_EQ(Shell("sqlite3 -batch " + Quote(file) + " " + Quote(sql)), 0);
    const std::string out = folder.File("deep.png");
    ASSERT_EQ(RunCli(folder, {"info", file, "--coverage", out, "--formats", "none"}), 0)
        << ReadWholeFile(folder.File("stderr"));
    Picture picture;
    ASSERT_TRUE(ReadPng(out, &picture));
    ASSERT_EQ(picture.width, 4096);
    ASSERT_EQ(picture.height, 4096);
    std::vector<std::pair<int, int>> opaque;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (picture.At(x, y)[3] != 0)
                opaque.emplace_back(x, y);
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {2000, 1000}, {4095, 4095}};
    EXPECT_EQ(opaque, expected);
}

TEST(CoverageCliTest, ChartHasABarPairForEachZoomGrowingWithIt)
{
    TempFolder folder;
    const std::string chart = folder.File("chart.png");
    ASSERT_EQ(RunCli(folder, {"info", FIXTURE_MBTILES, "--chart", chart}), 0) << ReadWholeFile(folder.File("stderr"));
    Picture picture;
    ASSERT_TRUE(ReadPng(chart, &picture));
    // Zooms 0 to 2 hold 1, 4 and 16 plates: three bars of each colour, left
    // to right, each taller than the one before.
    auto bars = [&](auto isColour) {
        std::vector<int> heights;
        for (int x = 0; x < picture.width; ++x) {
            int height = 0;
            for (int y = 0; y < picture.height; ++y)
                height += isColour(picture.At(x, y)) ? 1 : 0;
            if (height > 0 && (heights.empty() || heights.back() != height))
                heights.push_back(height);
        }
        return heights;
    };
    const std::vector<int> blue = bars([](const uint8_t* p) { return p[2] > 150 && p[0] < 100; });
    const std::vector<int> orange = bars([](const uint8_t* p) { return p[0] > 200 && p[2] < 100; });
    ASSERT_EQ(blue.size(), 3u);
    ASSERT_EQ(orange.size(), 3u);
    EXPECT_LT(blue[0], blue[1]);
    EXPECT_LT(blue[1], blue[2]);
    EXPECT_LT(orange[0], orange[1]);
    EXPECT_LT(orange[1], orange[2]);
}

TEST(CoverageCliTest, APictureThatCannotBeWrittenStopsWithCode3)
{
    TempFolder folder;
    const std::string out = folder.File("missing/coverage.png");
    EXPECT_EQ(RunCli(folder, {"info", FIXTURE_MBTILES, "--coverage", out}), 3);
    EXPECT_NE(ReadWholeFile(folder.File("stderr")).find("cannot write"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
