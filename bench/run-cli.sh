#!/usr/bin/env bash
# ulmora-cli against the tools a user would otherwise run, each ratio
# measured in this run:
#  1. info on a 10-million-plate MBTiles file (made with SQL) against sqlite3
#     counting the tiles and summing their sizes;
#  2. copy of a GDAL-written MBTiles file (gdal_translate + gdaladdo, zoom 0
#     to 8 of the Earth picture: 87,381 tiles) into a z/x/y folder tree and
#     back into a new MBTiles file, against sqlite3 writing the files with
#     writefile() and reading them back with fsdir()/readfile(), and against
#     tar -x of the same tree;
#  3. verify: plates decoded per second per core, one thread against two.
# Wall times are the best of three runs, with warm caches.
# Usage: bench/run-cli.sh   (ULMORA_BENCH_PLATES=10000000 ULMORA_BENCH_ZOOM=8
# make the storages smaller; ULMORA_BUILD_DIR picks the build, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ULMORA_BUILD_DIR:-build}
plates=${ULMORA_BENCH_PLATES:-10000000}
zoom=${ULMORA_BENCH_ZOOM:-8}

scripts/setup.sh --bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target ulmora-cli ulmora-image-decoder mbtiles folder >/dev/null
cli="$root/$build/bin/ulmora-cli"

work=$(mktemp -d "${ULMORA_BENCH_DIR:-${TMPDIR:-/tmp}}/ulmora-cli-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Best wall time of three runs of a command, in seconds; "failed" when it
# does not succeed.
best() {
    local best_time="" start end elapsed status
    for _ in 1 2 3; do
        [[ -n "${BEFORE:-}" ]] && eval "$BEFORE"
        start=$(date +%s.%N)
        status=0
        "$@" >/dev/null 2>&1 || status=$?
        end=$(date +%s.%N)
        if ((status != 0)); then
            echo failed
            return
        fi
        elapsed=$(awk "BEGIN { print $end - $start }")
        if [[ -z "$best_time" ]] || awk "BEGIN { exit !($elapsed < $best_time) }"; then
            best_time=$elapsed
        fi
    done
    printf '%.3f' "$best_time"
}
ratio() {
    if [[ $1 == failed || $2 == failed ]]; then echo "-"; else awk "BEGIN { printf \"%.2f\", $1 / $2 }"; fi
}
per() {
    if [[ $2 == failed ]]; then echo "-"; else awk "BEGIN { printf \"%.0f\", $1 / $2 / $3 }"; fi
}

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== info on $plates plates (MBTiles made with SQL)"
# One plate per tile of zoom 12, rows in storage order, blobs of 16 to 79 bytes.
sqlite3 ten.mbtiles >/dev/null <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE metadata (name TEXT, value TEXT);
CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < $plates - 1)
INSERT INTO tiles SELECT 12, i % 4096, i / 4096, zeroblob(16 + i % 64) FROM n;
CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);
SQL
sqlite_info=$(best sqlite3 ten.mbtiles "SELECT count(*), sum(length(tile_data)) FROM tiles")
cli_info=$(best "$cli" info ten.mbtiles --formats none --quiet)
cli_info_sampled=$(best "$cli" info ten.mbtiles --quiet)
echo "sqlite3 count + sum:             ${sqlite_info} s"
echo "ulmora-cli info --formats none:  ${cli_info} s  ($(ratio "$cli_info" "$sqlite_info")x sqlite3)"
echo "ulmora-cli info (formats of 64 plates a level): ${cli_info_sampled} s  ($(ratio "$cli_info_sampled" "$sqlite_info")x sqlite3)"
rm -f ten.mbtiles

echo
echo "== copy: GDAL-written MBTiles, zoom 0 to $zoom"
half=20037508.342789244
side=$((256 << zoom))
gdal_translate -q -a_srs EPSG:4326 -a_ullr -180 90 180 -90 /usr/share/xplanet/images/earth.jpg earth.tif
gdalwarp -q -t_srs EPSG:3857 -te -$half -$half $half $half -ts 2048 2048 -r average earth.tif mercator.tif
gdal_translate -q -of MBTILES -outsize "$side" "$side" -r bilinear -co TILE_FORMAT=JPEG -co QUALITY=75 \
    mercator.tif world.mbtiles
levels=""
for ((f = 2; f <= (1 << zoom); f *= 2)); do levels="$levels $f"; done
gdaladdo -q -r average world.mbtiles $levels
tiles=$(sqlite3 world.mbtiles "SELECT count(*) FROM tiles")
bytes=$(sqlite3 world.mbtiles "SELECT sum(length(tile_data)) FROM tiles")
echo "$tiles tiles, $bytes bytes"

# The baseline extraction: folders made first, then one file per tile, rows from the top.
extract_sql="SELECT writefile('sql/' || zoom_level, NULL, 16877) FROM tiles GROUP BY zoom_level;
SELECT writefile('sql/' || zoom_level || '/' || tile_column, NULL, 16877) FROM tiles GROUP BY zoom_level, tile_column;
SELECT count(writefile('sql/' || zoom_level || '/' || tile_column || '/' || ((1 << zoom_level) - 1 - tile_row) || '.jpg', tile_data)) FROM tiles;"
sqlite_out=$(BEFORE='rm -rf sql' best sqlite3 world.mbtiles "$extract_sql")
rm -rf sql && sqlite3 world.mbtiles "$extract_sql" >/dev/null
tar -cf tree.tar -C sql .
tar_out=$(BEFORE='rm -rf tarred; mkdir tarred' best tar -xf tree.tar -C tarred)
cli_out=$(BEFORE='rm -rf xyz' best "$cli" copy world.mbtiles xyz --quiet)
rm -rf xyz && "$cli" copy world.mbtiles xyz --quiet || echo "(ulmora-cli copy into a folder failed: exit $?)"
copied=$( (find xyz -type f -name '*.*' 2>/dev/null || true) | wc -l)
echo "MBTiles -> z/x/y folder ($copied files written by ulmora-cli)"
echo "  sqlite3 writefile():  ${sqlite_out} s"
echo "  tar -x of the tree:   ${tar_out} s"
echo "  ulmora-cli copy:      ${cli_out} s  ($(ratio "$cli_out" "$sqlite_out")x sqlite3, $(ratio "$cli_out" "$tar_out")x tar -x; it syncs the tree once at the end, the others do not)"

import_sql="CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);
CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);
INSERT INTO tiles SELECT z, x, (1 << z) - 1 - y, data FROM (
  SELECT CAST(substr(name, 5, instr(substr(name, 5), '/') - 1) AS INTEGER) AS z,
         CAST(substr(rest, 1, instr(rest, '/') - 1) AS INTEGER) AS x,
         CAST(substr(rest, instr(rest, '/') + 1, instr(rest, '.') - instr(rest, '/') - 1) AS INTEGER) AS y,
         data
  FROM (SELECT name, data, substr(name, 5 + instr(substr(name, 5), '/')) AS rest
        FROM fsdir('sql') WHERE name LIKE '%.jpg'));"
sqlite_in=$(BEFORE='rm -f sql.mbtiles' best sqlite3 sql.mbtiles "$import_sql")
cli_in=$(BEFORE='rm -f back.mbtiles' best "$cli" copy sql back.mbtiles --quiet)
rm -f back.mbtiles && "$cli" copy sql back.mbtiles --quiet || echo "(ulmora-cli copy into MBTiles failed: exit $?)"
back=$( (sqlite3 back.mbtiles "SELECT count(*) FROM tiles" 2>/dev/null) || echo 0)
same=$( (sqlite3 back.mbtiles "ATTACH 'world.mbtiles' AS w;
  SELECT count(*) FROM main.tiles t JOIN w.tiles o USING (zoom_level, tile_column, tile_row) WHERE t.tile_data = o.tile_data" 2>/dev/null) || echo 0)
echo "z/x/y folder -> MBTiles ($back tiles stored by ulmora-cli, $same equal to GDAL's)"
echo "  sqlite3 fsdir()/readfile(): ${sqlite_in} s"
echo "  ulmora-cli copy:            ${cli_in} s  ($(ratio "$cli_in" "$sqlite_in")x sqlite3)"

echo
echo "== verify: decoding the $tiles GDAL tiles"
one=$(best "$cli" verify world.mbtiles --threads 1 --quiet)
two=$(best "$cli" verify world.mbtiles --threads 2 --quiet)
cores=$(nproc)
echo "1 thread:  ${one} s, $(per "$tiles" "$one" 1) plates/s per core"
echo "2 threads: ${two} s, $(per "$tiles" "$two" 2) plates/s per core"
echo "speed-up from one core to two: $(ratio "$one" "$two")x  (machine: $cores cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
