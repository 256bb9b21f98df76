// ulmora-demo-mbtiles: renders a demo MBTiles storage of real-looking plates,
// the Web-Mercator tiles of slippy zoom 0 to 4 (plate names of 1 to 5
// letters) cut from an equirectangular picture of the Earth.

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kTileSize = 256;
constexpr const char* kDefaultImage = "/usr/share/xplanet/images/earth.jpg";

struct Options {
    std::string output;
    std::string image = kDefaultImage;
    int maxZoom = 4;
    int quality = 85;
};

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: ulmora-demo-mbtiles [--image FILE] [--max-zoom Z] [--quality Q] OUTPUT.mbtiles\n"
                 "Renders Web-Mercator JPEG tiles of zoom 0 to Z (default 4) from an equirectangular\n"
                 "world image (default %s, from Debian's xplanet-images)\n"
                 "into a new MBTiles file; an existing OUTPUT is replaced.\n",
                 kDefaultImage);
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--image" && hasValue)
            options->image = argv[++i];
        else if (arg == "--max-zoom" && hasValue)
            options->maxZoom = std::atoi(argv[++i]);
        else if (arg == "--quality" && hasValue)
            options->quality = std::atoi(argv[++i]);
        else if (!arg.empty() && arg[0] != '-' && options->output.empty())
            options->output = arg;
        else
            return false;
    }
    // Deeper than 8 the picture has far fewer pixels than the tiles.
    return !options->output.empty() && options->maxZoom >= 0 && options->maxZoom <= 8 &&
           options->quality >= 1 && options->quality <= 100;
}

// Samples an equirectangular picture for the Web-Mercator tiles of one zoom.
class Reprojector {
public:
    // Downscales the picture once per zoom so a tile pixel averages the
    // picture pixels it covers instead of picking one of them.
    Reprojector(const QImage& world, int zoom) {
        const int width = std::min(world.width(), kTileSize << zoom);
        const int height = std::min(world.height(), kTileSize << zoom >> 1);
        source_ = world.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_RGB32);
        worldPixels_ = double(kTileSize) * double(1 << zoom);
    }

    QImage Render(int x, int y) const {
        // Columns map linearly to longitude; rows through the inverse
        // Mercator projection to latitude.
        std::vector<double> u(kTileSize);
        for (int px = 0; px < kTileSize; ++px) {
            const double longitude = ((x * kTileSize + px + 0.5) / worldPixels_) * 360.0 - 180.0;
            u[px] = (longitude + 180.0) / 360.0 * source_.width() - 0.5;
        }
        QImage tile(kTileSize, kTileSize, QImage::Format_RGB32);
        for (int py = 0; py < kTileSize; ++py) {
            const double mercator = std::numbers::pi * (1.0 - 2.0 * (y * kTileSize + py + 0.5) / worldPixels_);
            const double latitude = std::atan(std::sinh(mercator)) * 180.0 / std::numbers::pi;
            const double v = (90.0 - latitude) / 180.0 * source_.height() - 0.5;
            auto* line = reinterpret_cast<QRgb*>(tile.scanLine(py));
            for (int px = 0; px < kTileSize; ++px)
                line[px] = Sample(u[px], v);
        }
        return tile;
    }

private:
    // Bilinear; wraps around the date line, clamps at the poles.
    QRgb Sample(double u, double v) const {
        const int w = source_.width();
        const int h = source_.height();
        const double u0 = std::floor(u);
        const double v0 = std::floor(v);
        const double fu = u - u0;
        const double fv = v - v0;
        const int x0 = ((int(u0) % w) + w) % w;
        const int x1 = (x0 + 1) % w;
        const int y0 = std::clamp(int(v0), 0, h - 1);
        const int y1 = std::clamp(int(v0) + 1, 0, h - 1);
        const auto* top = reinterpret_cast<const QRgb*>(source_.constScanLine(y0));
        const auto* bottom = reinterpret_cast<const QRgb*>(source_.constScanLine(y1));
        auto mix = [&](int (*channel)(QRgb)) {
            const double upper = channel(top[x0]) * (1 - fu) + channel(top[x1]) * fu;
            const double lower = channel(bottom[x0]) * (1 - fu) + channel(bottom[x1]) * fu;
            return std::clamp(int(std::lround(upper * (1 - fv) + lower * fv)), 0, 255);
        };
        return qRgb(mix(qRed), mix(qGreen), mix(qBlue));
    }

    QImage source_;
    double worldPixels_ = 0;
};

class Database {
public:
    ~Database() { sqlite3_close(db_); }

    bool Create(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            return false;
        return Exec("BEGIN;"
                    "CREATE TABLE metadata (name TEXT, value TEXT);"
                    "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER,"
                    " tile_data BLOB);"
                    "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);");
    }

    bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    bool Metadata(const char* name, const std::string& value) {
        return Run("INSERT INTO metadata (name, value) VALUES (?1, ?2)", [&](sqlite3_stmt* stmt) {
            sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
            sqlite3_bind_text(stmt, 2, value.c_str(), -1, SQLITE_TRANSIENT);
        });
    }

    // MBTiles counts rows from the bottom.
    bool Tile(int z, int x, int y, const QByteArray& data) {
        return Run("INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", [&](sqlite3_stmt* stmt) {
            sqlite3_bind_int(stmt, 1, z);
            sqlite3_bind_int(stmt, 2, x);
            sqlite3_bind_int(stmt, 3, (1 << z) - 1 - y);
            sqlite3_bind_blob(stmt, 4, data.constData(), int(data.size()), SQLITE_TRANSIENT);
        });
    }

    const char* Error() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }

private:
    template <class Bind>
    bool Run(const char* sql, Bind bind) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK)
            return false;
        bind(stmt);
        const bool done = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_finalize(stmt);
        return done;
    }

    sqlite3* db_ = nullptr;
};

int Fail(const std::string& text) {
    std::fprintf(stderr, "ulmora-demo-mbtiles: %s\n", text.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // image format plugins are found through it
    Options options;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        PrintUsage(stdout);
        return 0;
    }
    if (!ParseOptions(argc, argv, &options)) {
        PrintUsage(stderr);
        return 2;
    }

    QImage world(QString::fromStdString(options.image));
    if (world.isNull())
        return Fail("cannot read the image " + options.image);
    if (world.width() != 2 * world.height())
        std::fprintf(stderr, "ulmora-demo-mbtiles: %s is %dx%d, not 2:1; it is stretched to the world\n",
                     options.image.c_str(), world.width(), world.height());

    // Built beside the target and renamed at the end, so a failed run never
    // leaves half a storage under the requested name.
    const std::string partial = options.output + ".part";
    std::remove(partial.c_str());
    int tiles = 0;
    {
        Database db;
        if (!db.Create(partial))
            return Fail(partial + ": " + db.Error());
        const std::string source = QFileInfo(QString::fromStdString(options.image)).fileName().toStdString();
        const std::pair<const char*, std::string> metadata[] = {
            {"name", "Ulmora demo world"},
            {"description", "The Earth in Web Mercator, rendered by ulmora-demo-mbtiles from " + source},
            {"attribution", "Earth imagery: NASA Visible Earth"},
            {"type", "baselayer"},
            {"version", "1.0"},
            {"format", "jpg"},
            {"bounds", "-180.0,-85.051129,180.0,85.051129"},
            {"center", "0.0,0.0,2"},
            {"minzoom", "0"},
            {"maxzoom", std::to_string(options.maxZoom)},
        };
        for (const auto& [name, value] : metadata)
            if (!db.Metadata(name, value))
                return Fail(std::string("writing metadata: ") + db.Error());

        for (int z = 0; z <= options.maxZoom; ++z) {
            const Reprojector reprojector(world, z);
            for (int x = 0; x < (1 << z); ++x)
                for (int y = 0; y < (1 << z); ++y) {
                    QByteArray jpeg;
                    QBuffer buffer(&jpeg);
                    buffer.open(QIODevice::WriteOnly);
                    if (!reprojector.Render(x, y).save(&buffer, "JPG", options.quality))
                        return Fail("JPEG encoding failed (is Qt's jpeg image plugin installed?)");
                    if (!db.Tile(z, x, y, jpeg))
                        return Fail(std::string("writing a tile: ") + db.Error());
                    ++tiles;
                }
        }
        if (!db.Exec("COMMIT"))
            return Fail(std::string("committing: ") + db.Error());
    }
    if (std::rename(partial.c_str(), options.output.c_str()) != 0)
        return Fail(options.output + ": " + std::strerror(errno));
    std::printf("%s: %d tiles of zoom 0 to %d\n", options.output.c_str(), tiles, options.maxZoom);
    return 0;
}
