#!/usr/bin/env bash
# Ten million tiles of an MBTiles file into a new PMTiles archive through the
# PMTiles plugin (bench/storages/pmtiles_write: SQLite reads the tiles, the
# plugin spools them and writes the archive when closed), against
# `sqlite3 FILE "SELECT tile_data FROM tiles"` reading the same tiles, in the
# same run, alternating. Prints per run and as medians: wall seconds of each
# (per run also their CPU seconds, user + system, which a busy machine
# disturbs less), their ratio, the plugin's store and close (archive writing) seconds, and
# the CPU seconds of the same reading without stores, the peak resident
# memory per tile, in all and above what the process held
# before the first store. Both read the file from the page cache (the first
# run warms it).
#
# The source is the plain MBTiles file of bench/run-10m.sh (zoom 0-11 in
# full, the rest at zoom 12, zero blobs of 20 to 69 bytes: 50 distinct
# contents), kept in build-bench/mbtiles-10m/plain.mbtiles and made with the
# same SQL when missing. --tiles N makes and uses a file of N tiles instead
# (build-bench/mbtiles-10m/plain-N.mbtiles); --distinct gives every tile
# bytes of its own (the memory's worst case: no tile shares its content);
# --cli also times `ulmora-cli copy FILE OUT.pmtiles` in every run, the
# whole tool (listing, copy, archive), wall and CPU, with its ratios to the
# same run's sqlite3; --window times the window's copy of the file already
# listed (bench/plates/copy_listed: RunCopy through the core, the listing
# not timed, as the window lists at the load) the same way.
# Usage: bench/run-pmtiles-write.sh [--tiles N] [--distinct] [--cli] [--window] [RUNS]   (RUNS: 3)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/plain-mbtiles.sh

tiles=10000000
cli=0
window=0
distinct=0
while [[ "${1:-}" == --* ]]; do
    case "$1" in
    --tiles) tiles=$2; shift 2 ;;
    --cli) cli=1; shift ;;
    --window) window=1; shift ;;
    --distinct) distinct=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
runs=${1:-3}
build=build-bench
cache=$build/mbtiles-10m
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target pmtiles_write pmtiles mbtiles ulmora-cli copy_listed >/dev/null
plugin=$(realpath "$build/bin/plugins/pmtiles.so")
writer=$build/bin/pmtiles_write
mkdir -p "$cache"

source_file=$(plain_mbtiles "$cache" "$tiles" "$distinct")
work=$(mktemp -d "$cache/pmtiles.XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$work/out.pmtiles

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); source $source_file"
: >"$work/ratios"; : >"$work/sqlite"; : >"$work/plugin"; : >"$work/peak"; : >"$work/above"
: >"$work/cli"; : >"$work/cli-ratios"; : >"$work/cli-cpu-ratios"
: >"$work/window"; : >"$work/window-ratios"; : >"$work/window-cpu-ratios"
for ((run = 1; run <= runs; ++run)); do
    start=$EPOCHREALTIME
    /usr/bin/time -f "%U %S" -o "$work/cpu" sqlite3 "$source_file" "SELECT tile_data FROM tiles" >/dev/null
    sqlite_s=$(echo "$EPOCHREALTIME - $start" | bc -l)
    sqlite_cpu=$(awk '{ print $1 + $2 }' "$work/cpu")
    rm -f "$out"
    start=$EPOCHREALTIME
    line=$(/usr/bin/time -f "%U %S" -o "$work/cpu" "$writer" "$plugin" "$source_file" "$out")
    plugin_s=$(echo "$EPOCHREALTIME - $start" | bc -l)
    plugin_cpu=$(awk '{ print $1 + $2 }' "$work/cpu")
    # The same reading without the plugin's stores: the part of the time
    # that is SQLite handing out four columns.
    /usr/bin/time -f "%U %S" -o "$work/cpu" "$writer" "$plugin" "$source_file" "$work/none.pmtiles" --read-only >/dev/null
    reading_cpu=$(awk '{ print $1 + $2 }' "$work/cpu")
    read -r _ count _ bytes _ store_s _ close_s _ _ _ before _ peak _ size <<<"$line"
    # The header's count of addressed tiles must be every tile read.
    addressed=$(od -An -t u8 -j 72 -N 8 "$out" | tr -d ' ')
    if [[ "$addressed" != "$count" ]]; then
        echo "the archive addresses $addressed tiles; $count were stored" >&2
        exit 1
    fi
    ratio=$(echo "$plugin_s / $sqlite_s" | bc -l)
    per_tile=$(echo "$peak * 1024 / $count" | bc -l)
    above=$(echo "($peak - $before) * 1024 / $count" | bc -l)
    printf "run %d: sqlite3 %.3f s (CPU %.2f s), plugin %.3f s (CPU %.2f s; store %.3f s, close %.3f s), ratio %.2f (CPU %.2f; reading alone CPU %.2f s); peak %.1f MB, %.1f bytes/tile (%.1f above start); %d tiles, %d bytes into an archive of %d bytes\n" \
        "$run" "$sqlite_s" "$sqlite_cpu" "$plugin_s" "$plugin_cpu" "$store_s" "$close_s" "$ratio" \
        "$(echo "$plugin_cpu / $sqlite_cpu" | bc -l)" "$reading_cpu" "$(echo "$peak / 1024" | bc -l)" "$per_tile" \
        "$above" "$count" "$bytes" "$size"
    echo "$sqlite_s" >>"$work/sqlite"; echo "$plugin_s" >>"$work/plugin"; echo "$ratio" >>"$work/ratios"
    echo "$per_tile" >>"$work/peak"; echo "$above" >>"$work/above"
    if ((cli)); then
        rm -f "$out"
        start=$EPOCHREALTIME
        /usr/bin/time -f "%U %S %M" -o "$work/cli.time" "$build/bin/ulmora-cli" copy --quiet "$source_file" "$out" >/dev/null
        cli_s=$(echo "$EPOCHREALTIME - $start" | bc -l)
        read -r user system rss <"$work/cli.time"
        cli_cpu=$(echo "$user + $system" | bc -l)
        addressed=$(od -An -t u8 -j 72 -N 8 "$out" | tr -d ' ')
        printf "run %d: ulmora-cli copy into PMTiles %.3f s (CPU %.2f s), ratio to sqlite3 %.2f (CPU %.2f); peak %.1f MB, %.1f bytes/tile (the whole tool); %s tiles addressed\n" \
            "$run" "$cli_s" "$cli_cpu" "$(echo "$cli_s / $sqlite_s" | bc -l)" "$(echo "$cli_cpu / $sqlite_cpu" | bc -l)" \
            "$(echo "$rss / 1024" | bc -l)" "$(echo "$rss * 1024 / $count" | bc -l)" "$addressed"
        echo "$cli_s" >>"$work/cli"; echo "$cli_s / $sqlite_s" | bc -l >>"$work/cli-ratios"
        echo "$cli_cpu / $sqlite_cpu" | bc -l >>"$work/cli-cpu-ratios"
    fi
    if ((window)); then
        rm -f "$out"
        read -r window_s window_cpu done listed < <("$build/bin/copy_listed" "$(realpath "$build/bin/plugins/mbtiles.so")" \
            "$source_file" "$plugin" "$out")
        printf "run %d: the window's copy of the listed file into PMTiles %.3f s (CPU %.2f s), ratio to sqlite3 %.2f (CPU %.2f); %d of %d plates\n" \
            "$run" "$window_s" "$window_cpu" "$(echo "$window_s / $sqlite_s" | bc -l)" \
            "$(echo "$window_cpu / $sqlite_cpu" | bc -l)" "$done" "$listed"
        echo "$window_s" >>"$work/window"; echo "$window_s / $sqlite_s" | bc -l >>"$work/window-ratios"
        echo "$window_cpu / $sqlite_cpu" | bc -l >>"$work/window-cpu-ratios"
    fi
done
printf "%s tiles, median of %d: sqlite3 %.3f s, plugin %.3f s, ratio plugin/sqlite3 %.2f, peak %.1f bytes/tile (%.1f above start)\n" \
    "$count" "$runs" "$(median <"$work/sqlite")" "$(median <"$work/plugin")" "$(median <"$work/ratios")" \
    "$(median <"$work/peak")" "$(median <"$work/above")"
if ((cli)); then
    printf "ulmora-cli copy, median of %d: %.3f s, ratio to sqlite3 %.2f (CPU %.2f)\n" "$runs" "$(median <"$work/cli")" \
        "$(median <"$work/cli-ratios")" "$(median <"$work/cli-cpu-ratios")"
fi
if ((window)); then
    printf "window's copy, median of %d: %.3f s, ratio to sqlite3 %.2f (CPU %.2f)\n" "$runs" "$(median <"$work/window")" \
        "$(median <"$work/window-ratios")" "$(median <"$work/window-cpu-ratios")"
fi
