#!/usr/bin/env bash
# Builds and runs the storage plugin benchmarks and prints the figures:
# listing a 100,000-tile MBTiles file through the plugin against SQLite
# reading the same columns, listing 100,000 files of each folder layout, and
# deleting 20,000 plates from MBTiles files of both layouts.
# The storages are made in a temporary folder (about 650 MB, a minute on a
# small machine) that is removed at the end.
# Usage: bench/run-storages.sh [Google Benchmark options, e.g. --benchmark_filter=Folder]
# ULMORA_BUILD_DIR picks the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ULMORA_BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target storages_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ULMORA_BENCH_DIR="$work" "$build/bin/storages_bench" \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" |
    grep -v -E '_(mean|stddev|cv) '
