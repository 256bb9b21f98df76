#!/bin/sh
# Builds the folder plugin's name-parsing fuzz target with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer in its own build folder, and runs it for a
# bounded time.
#
#   tests/fuzz/run_folder_layout_fuzzer.sh [SECONDS] [BUILD_DIR]
#
# SECONDS defaults to 300; BUILD_DIR to build-fuzz in the source tree. Crashes
# land in BUILD_DIR/fuzz/artifacts; the exit status is libFuzzer's.
set -eu

seconds=${1:-300}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${2:-$source_dir/build-fuzz}

. "$source_dir/tests/fuzz/fuzz_build.sh"
configure_fuzz_build "$source_dir" "$build_dir"
cmake --build "$build_dir" --target folder_layout_fuzzer

fuzz_dir=$build_dir/fuzz
corpus=$fuzz_dir/folder-layout-corpus
mkdir -p "$corpus" "$fuzz_dir/artifacts"
for seed in "tiles?layout=tc&origin=nw" "L12" "R000003e8" "C00000abc" "0748" "2748" "005" \
    "103232313100" ".png" "5.Jpeg"; do
    printf '%s' "$seed" > "$corpus/seed-$(printf '%s' "$seed" | tr -c 'A-Za-z0-9' '_')"
done

exec "$fuzz_dir/folder_layout_fuzzer" "$corpus" \
  -max_total_time="$seconds" -max_len=256 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$fuzz_dir/artifacts/" -print_final_stats=1
