#!/usr/bin/env bash
# Select -> Duplicates and Blank over every plate of an MBTiles file
# (bench/plates/same_plates), against `sqlite3 FILE "SELECT tile_data FROM
# tiles"` reading the same tiles, in the same run, alternating; and the
# plugin reading every plate once by name, as the plate commands without a
# plate stream do (mode read), and once through its plate stream (mode
# stream), which Duplicates uses. Prints per run and as medians the wall seconds of each, the ratio
# to sqlite3; per run also the CPU seconds (user + system, which a busy
# machine disturbs less), what was found, and the peak resident memory (in
# all and above what the listed process held).
# Everything reads the file from the page cache (the first run warms it).
#
# The file is bench/run-10m.sh's plain one (zoom 0-11 in full, the rest at
# zoom 12, zero blobs of 20 to 69 bytes: 50 distinct contents, so that every
# plate but 50 is a duplicate: the first pass compares them with the kept
# first plates, and nothing is read twice), kept in
# build-bench/mbtiles-10m/ and made with the same SQL when missing; --tiles N
# makes and uses a file of N tiles instead; --distinct gives every tile bytes
# of its own (the best case: nothing is read twice). --blank also times Blank on a
# GDAL-written Earth file (JPEG, zoom 0 to 7, 21845 tiles; needs gdal-bin and
# xplanet-images, scripts/setup.sh --bench).
# BUILD=DIR takes the programs from another build folder (default build-bench).
# Usage: bench/run-duplicates.sh [--tiles N] [--distinct] [--blank] [RUNS]   (RUNS: 3)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/plain-mbtiles.sh

tiles=10000000
blank=0
distinct=0
while [[ "${1:-}" == --* ]]; do
    case "$1" in
    --tiles) tiles=$2; shift 2 ;;
    --blank) blank=1; shift ;;
    --distinct) distinct=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
runs=${1:-3}
build=${BUILD:-build-bench}
cache=build-bench/mbtiles-10m
if [[ $build == build-bench ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target same_plates mbtiles ulmora-image-decoder >/dev/null
plugin=$(realpath "$build/bin/plugins/mbtiles.so")
tool=$build/bin/same_plates
mkdir -p "$cache"

file=$(plain_mbtiles "$cache" "$tiles" "$distinct")

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { echo "scale=2; $1 / $2" | bc; }
seconds() { # command...: wall and CPU seconds
    local start end cpu
    start=$(date +%s.%N)
    cpu=$( { /usr/bin/time -f "%U %S" "$@" >/dev/null; } 2>&1 | tail -1 | awk '{ print $1 + $2 }')
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) $cpu"
}

# One file: sqlite3, read, duplicates (and blank with $2 = 1), $runs times.
measure() {
    local file=$1 with_blank=$2 modes=(read stream duplicates)
    ((with_blank)) && modes+=(blank)
    echo "$file: $(sqlite3 "$file" "SELECT count(*), sum(length(tile_data)) FROM tiles") (tiles, bytes)"
    echo "Machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    sqlite3 "$file" "SELECT tile_data FROM tiles" >/dev/null # warms the page cache
    local -A all=()
    for ((run = 1; run <= runs; ++run)); do
        local base base_cpu line
        read -r base base_cpu <<<"$(seconds sqlite3 "$file" "SELECT tile_data FROM tiles")"
        all[sqlite]+="$base "
        printf "run %d: sqlite3 %.2f s (CPU %.2f s)" "$run" "$base" "$base_cpu"
        for mode in "${modes[@]}"; do
            line=$("$tool" "$mode" "$plugin" "$file")
            read -r _ secs cpu found sets plates peak above <<<"$line"
            all[$mode]+="$secs "
            printf ", %s %.2f s (%sx; CPU %.2f s, %sx; %s found, %s sets, peak %s MB, %s MB above the listing)" \
                "$mode" "$secs" "$(ratio "$secs" "$base")" "$cpu" "$(ratio "$cpu" "$base_cpu")" "$found" "$sets" \
                "$peak" "$above"
        done
        echo
    done
    local base_median
    base_median=$(tr ' ' '\n' <<<"${all[sqlite]}" | grep . | median)
    printf "median: sqlite3 %.2f s" "$base_median"
    for mode in "${modes[@]}"; do
        local m
        m=$(tr ' ' '\n' <<<"${all[$mode]}" | grep . | median)
        printf ", %s %.2f s (%sx sqlite3)" "$mode" "$m" "$(ratio "$m" "$base_median")"
    done
    echo
}

measure "$file" 0

if ((blank)); then
    earth=$cache/earth-z7.mbtiles
    if [[ ! -f $earth ]]; then
        work=$(mktemp -d)
        trap 'rm -rf "$work"' EXIT
        half=20037508.342789244
        # As bench/run-cli.sh renders its GDAL file.
        gdal_translate -q -a_srs EPSG:4326 -a_ullr -180 90 180 -90 /usr/share/xplanet/images/earth.jpg "$work/earth.tif"
        gdalwarp -q -t_srs EPSG:3857 -te -$half -$half $half $half -ts 2048 2048 -r average "$work/earth.tif" \
            "$work/mercator.tif"
        gdal_translate -q -of MBTILES -outsize 32768 32768 -r bilinear -co TILE_FORMAT=JPEG -co QUALITY=75 \
            "$work/mercator.tif" "$work/earth.mbtiles"
        gdaladdo -q -r average "$work/earth.mbtiles" 2 4 8 16 32 64 128
        mv "$work/earth.mbtiles" "$earth"
    fi
    measure "$earth" 1
fi
