#include "Commands.h"

#include "Cli.h"
#include "Context.h"
#include "Json.h"

#include "base/PlateKey.h"
#include "base/Text.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace cli {

int List(Context& context)
{
    const Options& options = context.options;
    const std::string& storage = options.arguments[0];
    OpenStorage open;
    if (int code = OpenChosen(context, storage, &open); code != kExitDone)
        return code;
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::string line;
    const PlateSink::Each each = [&](int32_t number, const char* name, uint32_t size) {
        const std::size_t length = std::strlen(name);
        if (!options.filter.Empty() && !options.filter.Matches({name, length}))
            return;
        if (options.json) {
            line = Format("{\"n\":%d,\"level\":%zu,\"size\":%u,\"name\":", number, length, size) + JsonString(name);
            // A quadtree key's web-map place: zoom from 0, rows from the top.
            if (const std::optional<PlateKey::Tile> tile = PlateKey({name, length}).ToTile())
                line += Format(",\"z\":%d,\"x\":%u,\"y\":%u", tile->z, tile->x, tile->y);
            line += "}\n";
        } else {
            line = Format("%d\t%zu\t%u\t", number, length, size) + name + "\n";
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
    };
    PlateSink sink(context, *open.action, each);
    const int code = options.filter.ByContent() ? ForEachSelected(context, storage, each) : ListingResult(sink.Run());
    std::fflush(stdout);
    return code;
}

} // namespace cli
