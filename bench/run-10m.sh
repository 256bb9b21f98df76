#!/usr/bin/env bash
# Ten million plates through the MBTiles plugin against sqlite3 counting and
# summing the same tiles, on the plain layout and on the deduplicated one
# (map and images tables behind a tiles view; sqlite3 then reads the view).
# Prints per run and as medians: wall seconds of each (and per run their CPU
# seconds, user + system, which a busy machine disturbs less), the ratio of
# the wall times, and the peak resident memory of a host that only counts
# (bench/storages/plugin_list), in all and above what it held before opening
# the file, per plate. Both read the file from the page cache (the first run
# warms it).
#
# The two files (zoom 0-11 in full, the rest at zoom 12, blobs of 20 to 69
# bytes; 0.8 and 0.5 GB) are made with sqlite3 alone, which takes one to two
# minutes, so they are kept in build-bench/mbtiles-10m/ for the next run;
# --fresh makes them again.
# Usage: bench/run-10m.sh [--fresh] [RUNS]   (RUNS: 3 by default)
set -euo pipefail
cd "$(dirname "$0")/.."

fresh=0
if [[ "${1:-}" == "--fresh" ]]; then
    fresh=1
    shift
fi
runs=${1:-3}
build=build-bench
cache=$build/mbtiles-10m
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target plugin_list load_storage mbtiles >/dev/null
plugin=$(realpath "$build/bin/plugins/mbtiles.so")
lister=$build/bin/plugin_list
loader=$build/bin/load_storage # the real StorageConnection, as the window loads
mkdir -p "$cache"

# Every level up to 11 in full, then level 12 up to ten million tiles, in
# rowid order level by level as a seeding tool writes them.
tiles_cte="WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < 12),
 n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 16777215)"
tiles_where="i < (1 << (2 * z)) AND (z < 12 OR i < 10000000 - 5592405)"

make_file() { # name, SQL
    local path=$cache/$1
    if ((fresh)) || [[ ! -f $path ]]; then
        rm -f "$path" "$path.part"
        echo "Making $path ..." >&2
        sqlite3 "$path.part" "$2" >/dev/null
        mv "$path.part" "$path"
    fi
}

make_file plain.mbtiles "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -200000;
CREATE TABLE metadata (name TEXT, value TEXT);
CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);
BEGIN;
$tiles_cte
INSERT INTO tiles SELECT z, i >> z, i & ((1 << z) - 1), zeroblob(20 + (i % 50)) FROM z, n WHERE $tiles_where;
COMMIT;
CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"

# One image for every ten neighbouring tiles, as sea and land repeat.
make_file dedup.mbtiles "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -400000;
CREATE TABLE metadata (name TEXT, value TEXT);
CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT, grid_id TEXT);
CREATE TABLE images (tile_data BLOB, tile_id TEXT);
CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS tile_column,
 map.tile_row AS tile_row, images.tile_data AS tile_data FROM map JOIN images ON images.tile_id = map.tile_id;
BEGIN;
$tiles_cte
INSERT INTO map SELECT z, i >> z, i & ((1 << z) - 1), printf('%08x', ((1 << (2 * z)) / 3 + i) / 10), NULL
 FROM z, n WHERE $tiles_where;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999999)
INSERT INTO images SELECT zeroblob(20 + (i % 50)), printf('%08x', i) FROM n;
COMMIT;
CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);
CREATE UNIQUE INDEX images_id ON images (tile_id);"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
# sqlite3 runs on one core and the load on all of them: on a shared machine
# whose cores run at different speeds, that decides much of the ratio, so
# each core's speed is shown (the plain count pinned to it, once).
speeds=""
for ((core = 0; core < $(nproc); ++core)); do
    start=$EPOCHREALTIME
    taskset -c "$core" sqlite3 "$cache/plain.mbtiles" "SELECT count(*), sum(length(tile_data)) FROM tiles" >/dev/null
    speeds+=" core $core $(printf %.2f "$(echo "$EPOCHREALTIME - $start" | bc -l)") s;"
done
echo "sqlite3 on the plain file, pinned:$speeds"
for layout in plain dedup; do
    file=$cache/$layout.mbtiles
    echo "== $layout layout: $file"
    : >"$cache/sqlite.times"
    : >"$cache/plugin.times"
    : >"$cache/ratios"
    : >"$cache/peak"
    : >"$cache/above"
    : >"$cache/load.ratios"
    : >"$cache/load.peak"
    : >"$cache/load.after"
    for ((run = 1; run <= runs; ++run)); do
        # The two alternate, so that both meet the same load of the machine.
        start=$EPOCHREALTIME
        counted=$(/usr/bin/time -f "%U %S" -o "$cache/cpu" \
            sqlite3 "$file" "SELECT count(*), sum(length(tile_data)) FROM tiles")
        sqlite_s=$(echo "$EPOCHREALTIME - $start" | bc -l)
        sqlite_cpu=$(awk '{ print $1 + $2 }' "$cache/cpu")
        start=$EPOCHREALTIME
        listed=$(/usr/bin/time -f "%U %S" -o "$cache/cpu" "$lister" "$plugin" "$file")
        plugin_s=$(echo "$EPOCHREALTIME - $start" | bc -l)
        plugin_cpu=$(awk '{ print $1 + $2 }' "$cache/cpu")
        read -r _ plates _ bytes _ _ _ peak _ before <<<"$listed"
        if [[ "$counted" != "$plates|$bytes" ]]; then
            echo "the plugin listed $plates plates of $bytes bytes; sqlite3 counted $counted" >&2
            exit 1
        fi
        read -r _ loaded _ load_s _ rss_before _ rss_after _ rss_peak <<<"$("$loader" "$plugin" "$(realpath "$file")")"
        if [[ "$loaded" != "$plates" ]]; then
            echo "the load listed $loaded plates; the plugin $plates" >&2
            exit 1
        fi
        load_ratio=$(echo "$load_s / $sqlite_s" | bc -l)
        load_peak=$(echo "$rss_peak * 1048576 / $plates" | bc -l)
        load_after=$(echo "$rss_after * 1048576 / $plates" | bc -l)
        printf "run %d: load through StorageConnection %.3f s, ratio %.2f; resident %.1f MB before, %.1f MB after (%.1f bytes/plate), peak %.1f MB (%.1f bytes/plate)\n" \
            "$run" "$load_s" "$load_ratio" "$rss_before" "$rss_after" "$load_after" "$rss_peak" "$load_peak"
        echo "$load_ratio" >>"$cache/load.ratios"
        echo "$load_peak" >>"$cache/load.peak"
        echo "$load_after" >>"$cache/load.after"
        ratio=$(echo "$plugin_s / $sqlite_s" | bc -l)
        per_plate=$(echo "$peak * 1024 / $plates" | bc -l)
        above=$(echo "($peak - $before) * 1024 / $plates" | bc -l)
        printf "run %d: sqlite3 %.3f s (CPU %.2f s), plugin %.3f s (CPU %.2f s), ratio %.2f; plugin peak %d KiB (%.2f bytes/plate), %.2f bytes/plate above its start\n" \
            "$run" "$sqlite_s" "$sqlite_cpu" "$plugin_s" "$plugin_cpu" "$ratio" "$peak" "$per_plate" "$above"
        echo "$sqlite_s" >>"$cache/sqlite.times"
        echo "$plugin_s" >>"$cache/plugin.times"
        echo "$ratio" >>"$cache/ratios"
        echo "$per_plate" >>"$cache/peak"
        echo "$above" >>"$cache/above"
    done
    printf "%s, %s plates, median of %d: sqlite3 %.3f s, plugin %.3f s, ratio plugin/sqlite3 %.2f, peak %.2f bytes/plate (%.2f above start)\n" \
        "$layout" "$plates" "$runs" "$(median <"$cache/sqlite.times")" "$(median <"$cache/plugin.times")" \
        "$(median <"$cache/ratios")" "$(median <"$cache/peak")" "$(median <"$cache/above")"
    printf "%s, the real load (plugin + StorageConnection + plate list), median of %d: ratio load/sqlite3 %.2f, peak %.1f bytes/plate, after %.1f bytes/plate\n" \
        "$layout" "$runs" "$(median <"$cache/load.ratios")" "$(median <"$cache/load.peak")" "$(median <"$cache/load.after")"
done
rm -f "$cache"/*.times "$cache"/*ratios "$cache"/*peak "$cache/above" "$cache/load.after" "$cache/cpu"
