#!/usr/bin/env bash
# Builds and runs the GeoPackage and PMTiles listing benchmarks and prints
# the figures: each plugin listing the same 100,000 tiles as the MBTiles
# plugin, and the PMTiles plugin listing a million-tile archive against
# reading and inflating that archive's directories alone.
# The storages are made in a temporary folder (about 800 MB, a minute or
# two on a small machine) that is removed at the end.
# Usage: bench/run-geo-storages.sh [Google Benchmark options, e.g. --benchmark_filter=Pmtiles]
# ULMORA_BUILD_DIR picks the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ULMORA_BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target geo_storages_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ULMORA_BENCH_DIR="$work" "$build/bin/geo_storages_bench" \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" |
    grep -v -E '_(mean|stddev|cv) '
