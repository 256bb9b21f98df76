#!/usr/bin/env bash
# Builds the list control benchmark in Release and prints its figures: select
# all, invert (bulk and item by item), zoom selection (item by item and by
# predicate), walking and clearing the selected items, count changes, and the
# paint of one viewport at the top and at the end, at 1 and 10 million items.
# Usage: bench/run-widgets.sh [Google Benchmark options, e.g. --benchmark_filter=Paint]
# ULMORA_BUILD_DIR picks the build folder (default build-release).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ULMORA_BUILD_DIR:-build-release}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target widgets_bench >/dev/null

runtime="$build/xdg-runtime"
mkdir -p "$runtime" && chmod 700 "$runtime"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} XDG_RUNTIME_DIR="$runtime" "$build/bin/widgets_bench" \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" |
    grep -v -E '_(mean|stddev|cv) '
