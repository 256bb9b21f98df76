#!/bin/sh
# Builds the configuration loader's fuzz target with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer in its own build folder, and runs it for a
# bounded time.
#
#   tests/fuzz/run_config_fuzzer.sh [SECONDS] [BUILD_DIR]
#
# SECONDS defaults to 600; BUILD_DIR to build-fuzz in the source tree. The
# corpus grows in BUILD_DIR/fuzz/config-corpus; crashes land in
# BUILD_DIR/fuzz/artifacts. The exit status is libFuzzer's: 0 when nothing
# was found.
set -eu

seconds=${1:-600}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${2:-$source_dir/build-fuzz}

. "$source_dir/tests/fuzz/fuzz_build.sh"
configure_fuzz_build "$source_dir" "$build_dir"
cmake --build "$build_dir" --target config_load_fuzzer

fuzz_dir=$build_dir/fuzz
corpus=$fuzz_dir/config-corpus
mkdir -p "$corpus" "$fuzz_dir/artifacts"

# Seeds: an empty tree, and IDE holding RightW = 200 and a text.
header='TreE\010\000\000\000RTSm0001'
printf "${header}TreE\000\000\000\000" > "$corpus/seed-empty"
printf "${header}TreE\001\000\000\000\003\000IDE\000TreE\002\000\000\000\006\000RightW\006\310\000\000\000TreE\000\000\000\000\004\000Path\012\003\000\000\000ab\000TreE\000\000\000\000" \
  > "$corpus/seed-ide"

exec "$fuzz_dir/config_load_fuzzer" "$corpus" \
  -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$fuzz_dir/artifacts/" -print_final_stats=1
