// The demo generator, checked through the MBTiles plugin: a world picture
// whose quarters have different colours must come out with each colour on
// the plate of its quadrant.
#include "plugin_host.h"
#include "sqlite_db.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>

namespace storage_test {
namespace {

int RunTool(const std::string& arguments) {
    return std::system((std::string(DEMO_MBTILES_TOOL) + " " + arguments + " >/dev/null 2>&1").c_str());
}

TEST(DemoMbtiles, PutsEachQuarterOfTheWorldOnItsPlate) {
    TempDir dir;
    // North-west red, north-east green, the south blue.
    QImage world(512, 256, QImage::Format_RGB32);
    for (int y = 0; y < world.height(); ++y)
        for (int x = 0; x < world.width(); ++x)
            world.setPixel(x, y, y >= 128 ? qRgb(0, 0, 255) : x < 256 ? qRgb(255, 0, 0) : qRgb(0, 255, 0));
    ASSERT_TRUE(world.save(QString::fromStdString(dir / "world.png")));
    const std::string output = dir / "demo.mbtiles";
    ASSERT_EQ(RunTool("--max-zoom 1 --image " + (dir / "world.png") + " " + output), 0);

    LoadedPlugin plugin(MBTILES_PLUGIN);
    Action action(plugin);
    ASSERT_TRUE(action.Open(output)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), static_cast<uint32_t>(Done));
    ASSERT_EQ(plates.size(), 5u);

    const std::map<std::string, QColor> expected = {
        {"tq", Qt::red}, {"tr", Qt::green}, {"tt", Qt::blue}, {"ts", Qt::blue}};
    for (const auto& [name, colour] : expected) {
        std::string bytes;
        ASSERT_EQ(action.GetPlateData(name, &bytes), static_cast<uint32_t>(Done)) << name;
        QImage tile;
        ASSERT_TRUE(tile.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()),
                                      "JPG"))
            << name;
        EXPECT_EQ(tile.size(), QSize(256, 256)) << name;
        // Away from the equator and the meridian, where the colours meet.
        const QColor centre = tile.pixelColor(128, 128);
        EXPECT_LT(std::abs(centre.red() - colour.red()) + std::abs(centre.green() - colour.green()) +
                      std::abs(centre.blue() - colour.blue()),
                  60)
            << name << " is " << centre.name().toStdString();
    }
    action.Close();

    SqliteDb db(output);
    EXPECT_EQ(db.Int("SELECT count(*) FROM metadata WHERE name = 'format' AND value = 'jpg'"), 1);
    EXPECT_EQ(db.Int("SELECT value FROM metadata WHERE name = 'maxzoom'"), 1);
}

TEST(DemoMbtiles, RefusesWhatItCannotDo) {
    TempDir dir;
    const std::string output = dir / "demo.mbtiles";
    struct Case {
        std::string arguments;
        int exitCode;
    };
    const Case cases[] = {
        {"", 2},
        {"--max-zoom 9 " + output, 2},
        {"--image " + (dir / "missing.jpg") + " " + output, 1},
    };
    for (const Case& c : cases) {
        const int status = RunTool(c.arguments);
        EXPECT_TRUE(WIFEXITED(status)) << c.arguments;
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << c.arguments;
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

} // namespace
} // namespace storage_test
