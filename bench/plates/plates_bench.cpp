// One timed step of the plates benchmark, run by bench/run-plates.sh:
//   plates_bench export <file.mbtiles> <folder>   export every plate (a copy)
//   plates_bench move <file.mbtiles> <folder>     export every plate with Move
//   plates_bench read <file.mbtiles>              fetch every plate's data through the plugin
//                                                 and write nothing: the export's floor
//   plates_bench plugin-delete <file.mbtiles>     delete every plate by calling the plugin
//                                                 alone: what the run adds is the difference
//   plates_bench delete <file.mbtiles>            delete every plate through the run
//   plates_bench sqlite-delete <file.mbtiles>     SQLite deleting the same tiles, one
//                                                 statement per tile in one transaction
// Prints "<step> <plates> <seconds>"; the plate list is loaded before the clock starts.
#include "base/ListSelection.h"
#include "browse/PlateList.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "log/Operation.h"
#include "plates/DeleteRun.h"
#include "plates/ExportRun.h"
#include "plugins/Plugin.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Says yes to the confirmation; reports any other box, which a clean run never shows.
class YesBoxes final : public BoxPresenter {
public:
    void ShowError(BoxOwner, const std::string&, const std::string& text) override
    {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }
    Answer Ask(BoxOwner, const std::string&, const std::string& text, Buttons, bool) override
    {
        if (std::strncmp(text.c_str(), "Delete ", 7) != 0)
            std::fprintf(stderr, "question: %s\n", text.c_str());
        return {BoxYes, false};
    }
    void ShowFatal(const std::string&, const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

struct Lister {
    PlateList plates;
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t size)
    {
        plates.Append(name, number, size);
        return true;
    }
};

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int SqliteDelete(const char* path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path, &db) != SQLITE_OK)
        return 1;
    std::vector<int> keys;
    sqlite3_stmt* list = nullptr;
    sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row FROM tiles", -1, &list, nullptr);
    while (sqlite3_step(list) == SQLITE_ROW)
        for (int i = 0; i < 3; ++i)
            keys.push_back(sqlite3_column_int(list, i));
    sqlite3_finalize(list);

    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* remove = nullptr;
    sqlite3_prepare_v2(db, "DELETE FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3", -1,
                       &remove, nullptr);
    for (std::size_t i = 0; i < keys.size(); i += 3) {
        for (int k = 0; k < 3; ++k)
            sqlite3_bind_int(remove, k + 1, keys[i + static_cast<std::size_t>(k)]);
        if (sqlite3_step(remove) != SQLITE_DONE)
            return 1;
        sqlite3_reset(remove);
    }
    sqlite3_finalize(remove);
    const bool committed = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    std::printf("sqlite-delete %zu %.3f\n", keys.size() / 3, Seconds(start));
    return committed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string step = argv[1];
    if (step == "sqlite-delete")
        return SqliteDelete(argv[2]);

    static const PluginHostInfo host{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    std::unique_ptr<StoragePlugin> plugin = LoadPlugin(MBTILES_PLUGIN, &host, PluginTypeStorage);
    StorageAction* action = plugin ? plugin->CreateAction() : nullptr;
    if (action == nullptr || !action->Open(argv[2])) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[2], ErrorText(kCurrentError).c_str());
        return 1;
    }
    Lister lister;
    action->Enumerate(0, StorageAction::PlateHandler::Bind<&Lister::OnPlate>(&lister), 2);
    ListSelection selection(lister.plates.Count());
    selection.SelectAll();

    YesBoxes boxes;
    SetBoxPresenter(&boxes);
    QuietOperation operation;
    PRPeriod period(400);
    QuietRunHost runHost;
    const PlateRun run{*action, lister.plates, selection, operation, period, runHost, nullptr};

    const auto start = std::chrono::steady_clock::now();
    PlateRunResult result;
    if (step == "plugin-delete") {
        PlateItem plate;
        for (int i = 0; lister.plates.At(i, &plate); ++i)
            if (action->Write(plate.name, nullptr, 0, WriteModeDelete) == Done)
                ++result.done;
        result.selected = lister.plates.Count();
    } else if (step == "read") {
        PlateItem plate;
        for (int i = 0; lister.plates.At(i, &plate); ++i) {
            const void* data = nullptr;
            uint32_t size = 0;
            if (action->GetPlateData(plate.name, &data, &size) == Done)
                ++result.done;
        }
        result.selected = lister.plates.Count();
    } else if (step == "delete") {
        result = RunDelete(run);
    } else if ((step == "export" || step == "move") && argc > 3) {
        ExportOptions options;
        options.BasePath = BasePathOf(argv[3]);
        options.Over = OverWrite;
        options.Move = step == "move";
        options.AskOnError = false;
        result = RunExport(run, options);
    } else {
        return 2;
    }
    // The storage's last batch is committed when the action closes.
    plugin->FreeAction(action);
    const double seconds = Seconds(start);
    std::printf("%s %d %.3f\n", step.c_str(), result.done, seconds);
    return result.done == result.selected ? 0 : 1;
}
