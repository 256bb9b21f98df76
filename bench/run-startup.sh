#!/usr/bin/env bash
# Start-up and shutdown time of the program with the shipped plugins registered:
# ten cold processes, then the median of each figure.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target startup_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for run in $(seq 10); do
    build-bench/bin/startup_bench "$work/run$run" 2>/dev/null
done | tee "$work/runs"
median() { awk -v f="$1" '{ print $f }' "$work/runs" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "median of 10 runs: exec-to-main $(median 2) ms, main-to-shown $(median 5) ms, shutdown $(median 8) ms"
