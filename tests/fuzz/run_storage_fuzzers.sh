#!/bin/sh
# Builds the fuzz targets of the storage plugins' readers (PMTiles and
# GeoPackage) with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# their own build folder, and runs each for a bounded time.
#
#   tests/fuzz/run_storage_fuzzers.sh [SECONDS] [BUILD_DIR] [TARGETS...]
#
# SECONDS (per target) defaults to 300; BUILD_DIR to build-fuzz in the
# source tree; TARGETS to "pmtiles geopackage". Corpora grow in
# BUILD_DIR/fuzz/<target>-corpus, crashes land in BUILD_DIR/fuzz/artifacts.
# The exit status is 0 when no target found anything.
# Needs clang, python3 (PMTiles seeds) and sqlite3 (GeoPackage seeds).
set -eu

seconds=${1:-300}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${2:-$source_dir/build-fuzz}
shift $(($# < 2 ? $# : 2))
targets=${*:-pmtiles geopackage}

. "$source_dir/tests/fuzz/fuzz_build.sh"
configure_fuzz_build "$source_dir" "$build_dir"
for target in $targets; do
  cmake --build "$build_dir" --target "${target}_fuzzer"
done

fuzz_dir=$build_dir/fuzz
fixtures=$source_dir/tests/storages/fixtures
mkdir -p "$fuzz_dir/artifacts"

seed_pmtiles() {
  cp "$fixtures"/pmtiles/*.pmtiles "$1"/
  # Uncompressed directories, which mutations reach better than gzip:
  # zoom 0 to 2 with a run of three, in the root or in leaves of four.
  python3 - "$1" <<'PY'
import struct, sys
def varint(v):
    out = bytearray()
    while v >= 0x80:
        out.append(v & 0x7F | 0x80); v >>= 7
    out.append(v); return bytes(out)
def directory(entries):
    out = varint(len(entries)); last = 0
    for e in entries: out += varint(e[0] - last); last = e[0]
    for e in entries: out += varint(e[3])
    for e in entries: out += varint(e[2])
    for i, e in enumerate(entries):
        out += varint(0 if i and e[1] == entries[i-1][1] + entries[i-1][2] else e[1] + 1)
    return out
tiles = [(i, 3 * i, 3, 1) for i in range(18)] + [(18, 54, 3, 3)]
data = bytes(57)
for name, leaf in (("seed-root", 0), ("seed-leaves", 4)):
    leaves = b""
    if leaf:
        root_entries = []
        for first in range(0, len(tiles), leaf):
            d = directory(tiles[first:first + leaf])
            root_entries.append((tiles[first][0], len(leaves), len(d), 0)); leaves += d
        root = directory(root_entries)
    else:
        root = directory(tiles)
    meta = b"{}"
    offsets = [127, len(root), 127 + len(root), len(meta), 127 + len(root) + len(meta), len(leaves)]
    offsets += [offsets[4] + len(leaves), len(data), 21, len(tiles), len(tiles)]
    head = b"PMTiles\x03" + struct.pack("<11Q", *offsets) + bytes([1, 1, 1, 2, 0, 2]) + bytes(25)
    open(f"{sys.argv[1]}/{name}.pmtiles", "wb").write(head + root + meta + leaves + data)
PY
}

seed_geopackage() {
  # The GDAL-written fixtures as SQL, with their tiles cut to a few bytes.
  for name in world several pseudo-tms; do
    copy=$(mktemp)
    cp "$fixtures/geopackage/$name.gpkg" "$copy"
    for table in $(sqlite3 "$copy" "SELECT table_name FROM gpkg_contents"); do
      sqlite3 "$copy" "UPDATE \"$table\" SET tile_data = substr(tile_data, 1, 4)"
    done
    sqlite3 "$copy" .dump > "$1/seed-$name.sql"
    rm -f "$copy"
  done
}

status=0
for target in $targets; do
  corpus=$fuzz_dir/$target-corpus
  mkdir -p "$corpus"
  if [ -z "$(ls -A "$corpus")" ]; then
    "seed_$target" "$corpus"
  fi
  options=""
  max_len=65536
  if [ "$target" = geopackage ]; then
    options="-dict=$source_dir/tests/fuzz/geopackage.dict"
  else
    max_len=800000
  fi
  echo "== ${target}_fuzzer for $seconds s"
  "$fuzz_dir/${target}_fuzzer" "$corpus" $options \
    -max_total_time="$seconds" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$fuzz_dir/artifacts/$target-" -print_final_stats=1 || status=$?
done
exit $status
