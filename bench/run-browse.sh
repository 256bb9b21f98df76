#!/usr/bin/env bash
# Figures of browsing: scan rate and list memory at 10 million plates, zoom
# selection, the selection summary, and the preview's decode and draw of a
# JPEG plate.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target browse_bench >/dev/null
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} ULMORA_BENCH_PLATES=${ULMORA_BENCH_PLATES:-10000000} \
    build-bench/bin/browse_bench
