#!/usr/bin/env bash
# Figures of the coverage map at 10 million plates: building a level's grid
# from the plate list, its picture, the area selection and its marks.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target coverage_bench >/dev/null
ULMORA_BENCH_PLATES=${ULMORA_BENCH_PLATES:-10000000} build-bench/bin/coverage_bench
