#!/usr/bin/env bash
# Figures of export, move and deletion on an MBTiles file written by GDAL
# (87,381 JPEG tiles, zoom 0 to 8: gdal_translate at zoom 8, gdaladdo for the
# rest; about eight minutes on a small machine, so it is kept in
# $ULMORA_BENCH_CACHE, default /var/tmp/ulmora-bench, for later runs):
#  - export into the plate tree against tar -x laying down a tar of that same
#    tree on the same file system, twice each, alternating;
#  - export with Move (files synced before their plates are deleted);
#  - deletion of every plate through the run against SQLite deleting the same
#    tiles one statement per tile in one transaction.
# Trees are removed only after all creation is timed: on ext4, creating many
# files right after a large rm -rf is several times slower for a while.
# Needs scripts/setup.sh --bench. Usage: bench/run-plates.sh. ULMORA_BENCH_DIR picks the work folder (its
# file system is the one measured; default a fresh folder in /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ULMORA_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target plates_bench >/dev/null
bench="$build/bin/plates_bench"
[[ -x "$bench" ]] || bench=$(find "$build" -name plates_bench -type f -perm -u+x | head -1)

cache=${ULMORA_BENCH_CACHE:-/var/tmp/ulmora-bench}
mkdir -p "$cache"
source_mbtiles="$cache/gdal-z8.mbtiles"
if [[ ! -f "$source_mbtiles" ]]; then
    echo "Making $source_mbtiles with GDAL..."
    tmp=$(mktemp -d "$cache/make.XXXXXX")
    half=20037508.342789244
    gdal_translate -q -a_srs EPSG:4326 -a_ullr -180 90 180 -90 /usr/share/xplanet/images/earth.jpg "$tmp/earth.tif"
    gdalwarp -q -t_srs EPSG:3857 -te -$half -$half $half $half -ts 2048 2048 -r average \
        "$tmp/earth.tif" "$tmp/mercator.tif"
    gdal_translate -q -of MBTILES -outsize 65536 65536 -co TILE_FORMAT=JPEG -co QUALITY=60 \
        "$tmp/mercator.tif" "$tmp/z8.mbtiles"
    gdaladdo -q -r average "$tmp/z8.mbtiles" 2 4 8 16 32 64 128 256
    mv "$tmp/z8.mbtiles" "$source_mbtiles"
    rm -rf "$tmp"
fi
tiles=$(sqlite3 "$source_mbtiles" "SELECT count(*) FROM tiles")
bytes=$(sqlite3 "$source_mbtiles" "SELECT sum(length(tile_data)) FROM tiles")

work=${ULMORA_BENCH_DIR:-$(mktemp -d /var/tmp/ulmora-plates.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
echo "Storage: $tiles tiles, $((bytes / 1048576)) MB; work folder $work ($(df -T "$work" | awk 'NR==2 {print $2}'))"

now() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }
# Copies a file without leaving its pages dirty for the next timed step.
copy() { cp "$1" "$2"; sync; }

sync
tar_time() {
    local to=$1 start
    mkdir "$to"
    start=$(now)
    tar -xf "$work/tree.tar" -C "$to"
    calc "$(now) - $start"
}
export_time() { "$bench" export "$source_mbtiles" "$1" | awk '{print $3}'; }

e1=$(export_time "$work/export1"); sync
tar -cf "$work/tree.tar" -C "$work/export1" .; sync
t1=$(tar_time "$work/tar1"); sync
e2=$(export_time "$work/export2"); sync
t2=$(tar_time "$work/tar2"); sync
best() { printf '%s\n' "$@" | sort -g | head -1; }
e=$(best "$e1" "$e2"); t=$(best "$t1" "$t2")
printf 'export   %6d plates in %6.2f s (%6.0f plates/s)   runs %s %s\n' "$tiles" "$e" "$(calc "$tiles / $e")" "$e1" "$e2"
printf 'tar -x   %6d files  in %6.2f s (%6.0f files/s)    runs %s %s\n' "$tiles" "$t" "$(calc "$tiles / $t")" "$t1" "$t2"
printf 'export / tar -x = %.2f (target at most 1.3)\n' "$(calc "$e / $t")"
r=$("$bench" read "$source_mbtiles" | awk '{print $3}')
printf 'reading alone (the plugin fetching every plate, nothing written): %.2f s; export minus reading / tar -x = %.2f\n' \
    "$r" "$(calc "($e - $r) / $t")"

copy "$source_mbtiles" "$work/move.mbtiles"
m=$("$bench" move "$work/move.mbtiles" "$work/moved" | awk '{print $3}'); sync
left=$(sqlite3 "$work/move.mbtiles" "SELECT count(*) FROM tiles")
printf 'move     %6d plates in %6.2f s (%6.0f plates/s), %d left in the storage\n' "$tiles" "$m" "$(calc "$tiles / $m")" "$left"

copy "$source_mbtiles" "$work/delete.mbtiles"
copy "$source_mbtiles" "$work/sqlite.mbtiles"
copy "$source_mbtiles" "$work/plugin.mbtiles"
d=$("$bench" delete "$work/delete.mbtiles" | awk '{print $3}')
p=$("$bench" plugin-delete "$work/plugin.mbtiles" | awk '{print $3}')
s=$("$bench" sqlite-delete "$work/sqlite.mbtiles" | awk '{print $3}')
printf 'delete   %6d plates in %6.2f s (%6.0f plates/s) through the run\n' "$tiles" "$d" "$(calc "$tiles / $d")"
printf 'sqlite   %6d tiles  in %6.2f s (%6.0f tiles/s), one statement per tile, one transaction\n' "$tiles" "$s" "$(calc "$tiles / $s")"
printf 'plugin   %6d plates in %6.2f s (%6.0f plates/s), the plugin called alone\n' "$tiles" "$p" "$(calc "$tiles / $p")"
printf 'delete / sqlite = %.2f (target at most 1.0); plugin alone / sqlite = %.2f\n' "$(calc "$d / $s")" "$(calc "$p / $s")"
