#include "Commands.h"

#include <string>

namespace cli {

const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = {
        {"info", "STORAGE", 1, "plates, bytes and image formats per level",
         "Per level: plates, bytes, the smallest, mean and largest plate, how much of\n"
         "the level's full quadtree is there, and the image formats found (PNG, JPEG,\n"
         "WebP, other) read from the first bytes of the plates: of the first 64 of\n"
         "each level by default. The note says how the plugin read the storage: a\n"
         "tile tree's layout and a tree's or compact cache's row order, \"assumed\"\n"
         "when nothing told it. To read it otherwise, name it after the path:\n"
         "DIR?layout=tms, DIR?layout=tc&origin=nw, CACHE?origin=sw.\n",
         {"--json", "--formats", "--coverage", "--chart"},
         "  --json           one JSON object\n"
         "  --formats MODE   sample (default), all (read every plate) or none\n"
         "  --coverage FILE  a PNG picture of where one zoom has plates, north up: the\n"
         "                   zoom --z names, else the deepest selected one; a pixel a tile\n"
         "                   up to zoom 12 (4096 x 4096), blocks of tiles beyond. Pixels\n"
         "                   without plates are transparent, the others opaque, darker\n"
         "                   where the plates are larger\n"
         "  --chart FILE     a PNG chart of plates (blue) and bytes (orange) per zoom,\n"
         "                   each on a logarithmic scale, the zoom under its bars\n",
         &Info},
        {"list", "STORAGE", 1, "one plate a line: number, level, size, name",
         "One plate a line, in the plugin's order: its number, level, size in bytes\n"
         "and name, separated by tabs.\n",
         {"--json"},
         "  --json           JSON lines: {\"n\":..,\"level\":..,\"size\":..,\"name\":..,\"z\":..,\"x\":..,\"y\":..}\n"
         "                   (z/x/y for quadtree names: zoom from 0, rows from the top)\n",
         &List},
        {"verify", "STORAGE", 1, "check the container, decode every plate; report damage, broken plates",
         "First checks the storage's container (an SQLite file's pages, a PMTiles\n"
         "archive's directories): each problem is a line \"container\", a tab, the problem;\n"
         "a damaged container hides plates from every listing. Then decodes every\n"
         "selected plate with the preview's image readers, on every core, and reports\n"
         "the plates that are empty, cannot be read or decoded, or are not\n"
         "of the storage's tile size (its most common square size, 256 x 256 when none\n"
         "is square): one line each, name and fault. Exit code 1 when the container is\n"
         "damaged or any plate is broken.\n",
         {"--json", "--names", "--threads"},
         "  --names FILE     write the names of the broken plates to FILE, one a line, for\n"
         "                   export --names FILE or delete --names FILE\n"
         "  --threads N      decode on N threads (default: one per core)\n"
         "  --json           JSON lines: {\"name\":..,\"fault\":..,\"detail\":..}, and for the\n"
         "                   container {\"container\":..,\"finding\":..}\n",
         &Verify},
        {"copy", "SOURCE TARGET", 2, "copy plates from one storage into another",
         "Copies the selected plates from SOURCE into TARGET through the plugins, each\n"
         "replacing a plate of the same name there. A TARGET that does not exist is made:\n"
         "a file name with an extension becomes an empty file (an empty MBTiles storage),\n"
         "anything else an empty folder.\n",
         {"--dry-run", "--layout", "--target-plugin", "--json"},
         "  --dry-run        say how many plates and bytes would be copied; change nothing\n"
         "  --json           end with one JSON object on standard output: {\"command\":..,\n"
         "                   \"selected\":..,\"done\":..,\"bytes\":..,\"skipped\":..,\"failed\":..,\n"
         "                   \"seconds\":..,\"exit\":..,\"code\":..}\n"
         "  --layout NAME    the layout of a new folder target: xyz (default), tms, plates,\n"
         "                   or another the folder plugin knows (see its README)\n"
         "  --target-plugin NAME  the target's plugin, when its path does not tell\n",
         &Copy},
        {"export", "STORAGE DIR", 2, "write plates into a folder tree, one image file a plate",
         "The window's export: every selected plate's data, as stored, into a file under\n"
         "DIR: one folder per letter of its name but the last, the last letter + .jpg\n"
         "(plate t/q/r gives DIR/t/q/r.jpg), written as .jp first and renamed when complete.\n"
         "Errors are logged (see --log) and counted; the run goes on.\n",
         {"--dry-run", "--existing", "--move", "--layout", "--yes", "--json"},
         "  --layout NAME    plates (default: the window's tree), xyz (z/x/y.ext, rows from\n"
         "                   the top) or tms (rows from the bottom); .ext follows the data:\n"
         "                   png, jpg, webp, gif or bmp\n"
         "  --existing WHAT  a file that is already there: ask (default; on a terminal),\n"
         "                   overwrite, keep, or cancel the run\n"
         "  --move           delete each plate from the storage once its file is on disk\n"
         "  --yes, -y        go on without asking when the target seems to lack room\n"
         "                   (without a terminal to ask, the run stops: exit code 4)\n"
         "  --dry-run        say how many plates and bytes would be written; change nothing\n"
         "  --json           end with one JSON object on standard output (see copy)\n",
         &Export},
        {"delete", "STORAGE", 1, "delete plates from the storage",
         "The window's deletion: the selected plates are deleted from the storage after\n"
         "one confirmation, asked on the terminal unless --yes is given.\n",
         {"--dry-run", "--yes", "--json"},
         "  --yes, -y        confirm the deletion without asking\n"
         "  --dry-run        say how many plates and bytes would be deleted; change nothing\n"
         "  --json           end with one JSON object on standard output (see copy)\n",
         &Delete},
        {"meta", "STORAGE", 1, "show or change what describes the storage (its metadata)",
         "The storage's metadata in the format's own keys, one a line: key, a tab, value\n"
         "(control characters escaped; --json gives them exactly). --set and --delete\n"
         "change keys, in the order given, where the format can hold them.\n",
         {"--json", "--set", "--delete"},
         "  --json           one JSON object, the keys under \"metadata\"\n"
         "  --set KEY=VALUE  set KEY, replacing its value\n"
         "  --delete KEY     delete KEY (a key that is not there is no error)\n",
         &Meta},
        {"compact", "STORAGE", 1, "give the storage's free space back to the disk",
         "Writes the storage's file anew without the space that deleted plates left\n"
         "free (SQLite's VACUUM INTO, beside the file), checks the new file and puts it\n"
         "in the old one's place in one step: an interruption leaves the old file as it\n"
         "was. The plates stay byte for byte. Needs room for the new file beside it.\n"
         "MBTiles and GeoPackage files; other storages keep no free space.\n",
         {"--json", "--dry-run"},
         "  --dry-run        say how many bytes are free; change nothing\n"
         "  --json           one JSON object: {\"storage\":..,\"before\":..,\"after\":..,\n"
         "                   \"reclaimed\":..,\"seconds\":..,\"exit\":..,\"code\":..}\n",
         &Compact},
        {"plugins", "", 0, "the storage plugins in the program's plugins folder, with their flags",
         "The storage plugins of the plugins folder beside the program: name, flags,\n"
         "default file extension and description; libraries that are no storage plugin\n"
         "are listed with the reason.\n",
         {"--json"},
         "  --json           JSON lines\n",
         &ListPlugins},
    };
    return commands;
}

const CommandInfo* FindCommand(const std::string& name)
{
    for (const CommandInfo& command : Commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

} // namespace cli
