#include "Help.h"

#include "Commands.h"

#include <cstdio>
#include <map>
#include <string>

namespace cli {

namespace {

const char* const kSelectionHelp =
    "Selecting plates (every command; a plate must pass each option given):\n"
    "  --levels A-B     levels A to B in the window's numbering: level 1 is the whole\n"
    "                   world, a plate's level is the length of its name (3-8, 5, 3-)\n"
    "  --z A-B          the same in z/x/y numbering, where 0 is the whole world (2-7);\n"
    "                   a range may leave out an end: 3- is 3 and every deeper level,\n"
    "                   -4 every level up to 4 (--z -1 is z 0 and 1). Levels run\n"
    "                   from 1 to 31, z from 0 to 30\n"
    "  --prefix KEY     plates inside a quadtree area: names starting with KEY, which\n"
    "                   is 't' and then q, r, s or t (tq,tr)\n"
    "  --bbox W,S,E,N   plates overlapping a box in degrees (-10.5,35,30,60)\n"
    "  --names FILE     plates named in FILE, a regular file, one name a line (not for\n"
    "                   verify, where --names writes; --from-names FILE selects in\n"
    "                   every command)\n"
    "  --duplicates     plates whose bytes equal another selected plate's: every plate\n"
    "                   of a set of equal plates but the first in the storage's order,\n"
    "                   so that deleting them keeps one of each (compared byte by byte)\n"
    "  --blank          plates whose picture is of one colour, fully transparent ones\n"
    "                   included (not an empty or undecodable plate: see verify)\n"
    "                   These two look at the plates the other options select\n";

const char* const kCommonHelp =
    "Common options:\n"
    "  --plugin NAME    the storage's plugin by name (see: ulmora-cli plugins) or library\n"
    "                   path; by default chosen by what the path is: a folder (whatever\n"
    "                   its name), or the file's extension. A storage to read from must\n"
    "                   exist; only copy makes its target\n"
    "  --quiet, -q      no progress bar and no summary on standard error\n"
    "  --verbose        the log lines on standard error too\n"
    "  --log FILE       write the log lines to FILE, as the window's log file; when\n"
    "                   FILE cannot be written (or is a pipe) nothing is done, and\n"
    "                   log lines lost later turn exit code 0 into 3\n"
    "  --help, -h       this help\n";

const char* const kExitHelp =
    "Exit codes:\n"
    "  0    done\n"
    "  1    some plates failed (verify: broken plates found)\n"
    "  2    wrong command line (an unknown option, a bad value, an empty path)\n"
    "  3    a storage, plugin, decoder or file could not be opened, made or written\n"
    "  4    stopped by an answer (a declined deletion or export, --existing cancel)\n"
    "  5    a fault inside the program ended the command\n"
    "  130  stopped by Ctrl-C; the plate under way was finished, the summary printed\n";

const char* Examples(const std::string& command)
{
    static const std::map<std::string, const char*> examples = {
        {"info", "  ulmora-cli info world.mbtiles\n"
                 "  ulmora-cli info /srv/tiles/osm --z 0-5 --json\n"
                 "  ulmora-cli info world.mbtiles --coverage z8.png --z 8 --chart levels.png\n"},
        {"list", "  ulmora-cli list world.mbtiles --levels 3\n"
                 "  ulmora-cli list world.mbtiles --json | jq -r .name\n"},
        {"verify", "  ulmora-cli verify world.mbtiles --names broken.txt\n"
                   "  ulmora-cli delete world.mbtiles --names broken.txt --yes\n"},
        {"copy", "  ulmora-cli copy world.mbtiles /srv/tiles/world        (a z/x/y tree)\n"
                 "  ulmora-cli copy /srv/tiles/world copy.mbtiles --z 0-10\n"
                 "  ulmora-cli copy world.mbtiles europe.mbtiles --bbox -25,34,45,72 --dry-run\n"},
        {"export", "  ulmora-cli export world.mbtiles /srv/out --levels 1-6\n"
                   "  ulmora-cli export world.mbtiles /srv/www/tiles --layout xyz --z 0-12\n"
                   "  ulmora-cli export world.mbtiles /srv/out --names broken.txt --move --existing overwrite\n"},
        {"delete", "  ulmora-cli delete world.mbtiles --levels 15- --dry-run\n"
                   "  ulmora-cli delete world.mbtiles --duplicates --yes\n"
                   "  ulmora-cli delete world.mbtiles --names broken.txt --yes\n"},
        {"meta", "  ulmora-cli meta world.mbtiles --json\n"
                 "  ulmora-cli meta world.mbtiles --set name=World --delete json\n"},
        {"plugins", "  ulmora-cli plugins\n"},
    };
    auto found = examples.find(command);
    return found != examples.end() ? found->second : "";
}

} // namespace

void PrintToolHelp()
{
    std::printf("ulmora-cli - the storage commands of Ulmora from a terminal\n\n"
                "Usage: ulmora-cli COMMAND [OPTIONS] ARGUMENTS\n"
                "       ulmora-cli --version\n\nCommands:\n");
    for (const CommandInfo& command : Commands())
        std::printf("  %-9s %s\n", command.name, command.summary);
    std::printf("\n'ulmora-cli COMMAND --help' tells more about each.\n\n%s\n%s\n%s\nExamples:\n"
                "  ulmora-cli info world.mbtiles\n"
                "  ulmora-cli verify world.mbtiles --levels 1-5 --names broken.txt\n"
                "  ulmora-cli copy world.mbtiles /srv/tiles/world\n",
                kSelectionHelp, kCommonHelp, kExitHelp);
}

void PrintCommandHelp(const CommandInfo& command)
{
    std::printf("Usage: ulmora-cli %s [OPTIONS] %s\n\n%s\n", command.name, command.arguments, command.description);
    std::printf("Options:\n%s\n", command.optionsHelp);
    if (command.argumentCount > 0)
        std::printf("%s\n", kSelectionHelp);
    std::printf("%s\n%s\nExamples:\n%s", kCommonHelp, kExitHelp, Examples(command.name));
}

} // namespace cli
