#!/usr/bin/env bash
# Listing a folder tree of a million files through the folder plugin (Open and
# Enumerate, sizes included) against `find DIR -type f -printf '%s %p\n'` on
# the same tree in the same run: the tool a user would otherwise list it with.
# Both the plugin alone (folder_list_bench) and the real load as the window
# does it (load_storage: the plugin, StorageConnection and the plate list)
# are timed; the load's resident memory is printed per plate.
# The tree is made here (1,048,576 files of 4 bytes: zoom 0 to 9 and two
# thirds of zoom 10; a block each, about 4 GB on ext4) and removed at the end. Both sides run on warm caches, alternately, three
# times; the medians are compared, in wall time and in CPU time.
# Usage: bench/run-folder-listing.sh [FILES] [xyz|plates]   (default 1048576 xyz)
# ULMORA_BENCH_DIR picks the file system (default: the system's temporary folder).
# Mind ext4 after a large `rm -rf`: creating many files right after it is slow
# for a while. That slows the making of the next tree, not the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-1048576}
layout=${2:-xyz}
build=build-bench

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target folder_tree_maker folder_list_bench load_storage folder >/dev/null

work=$(mktemp -d -p "${ULMORA_BENCH_DIR:-${TMPDIR:-/tmp}}" ulmora-folder-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
tree="$work/tree"

now() { date +%s.%N; }
start=$(now)
"$build/bin/folder_tree_maker" "$tree" "$files" "$layout" >/dev/null
echo "made $files files ($layout) in $(echo "$(now) - $start" | bc) s"
echo "find sees $(find "$tree" -type f -printf '%s %p\n' | wc -l) files"

# Wall time, and CPU time (user + system), which a busy machine disturbs less.
TIMEFORMAT='%R %U %S'
find_wall=() find_cpu=() plugin_wall=() plugin_cpu=() load_wall=() load_cpu=()
folder_plugin=$(realpath "$build/bin/plugins/folder.so")
for round in 1 2 3; do
    read -r wall user system < <({ time find "$tree" -type f -printf '%s %p\n' >/dev/null; } 2>&1)
    find_wall+=("$wall") find_cpu+=("$(echo "$user + $system" | bc)")
    { time "$build/bin/folder_list_bench" "$tree" >"$work/plugin.out"; } 2>"$work/plugin.time"
    read -r plates bytes _ maxrss <"$work/plugin.out"
    read -r wall user system <"$work/plugin.time"
    plugin_wall+=("$wall") plugin_cpu+=("$(echo "$user + $system" | bc)")
    printf 'round %d: find %.2f s (cpu %.2f s), plugin %.2f s (cpu %.2f s; %d plates, %d bytes, peak %d MB)\n' \
        "$round" "${find_wall[-1]}" "${find_cpu[-1]}" "$wall" "${plugin_cpu[-1]}" "$plates" "$bytes" \
        $((maxrss / 1024))
    { time "$build/bin/load_storage" "$folder_plugin" "$tree" >"$work/load.out"; } 2>"$work/load.time"
    read -r _ loaded _ _ _ _ _ rss_after _ rss_peak <"$work/load.out"
    read -r wall user system <"$work/load.time"
    if [[ "$loaded" != "$plates" ]]; then
        echo "the load listed $loaded plates; the plugin $plates" >&2
        exit 1
    fi
    load_wall+=("$wall") load_cpu+=("$(echo "$user + $system" | bc)")
    printf 'round %d: load through StorageConnection %.2f s (cpu %.2f s), resident after %.1f MB (%.1f bytes/plate), peak %.1f MB (%.1f bytes/plate)\n' \
        "$round" "$wall" "${load_cpu[-1]}" "$rss_after" "$(echo "$rss_after * 1048576 / $loaded" | bc -l)" \
        "$rss_peak" "$(echo "$rss_peak * 1048576 / $loaded" | bc -l)"
done
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
ratio() { echo "$1 / $2" | bc -l; }
fw=$(median "${find_wall[@]}") fc=$(median "${find_cpu[@]}")
pw=$(median "${plugin_wall[@]}") pc=$(median "${plugin_cpu[@]}")
printf 'median wall: find %.2f s, plugin %.2f s, plugin/find %.2f\n' "$fw" "$pw" "$(ratio "$pw" "$fw")"
printf 'median cpu:  find %.2f s, plugin %.2f s, plugin/find %.2f\n' "$fc" "$pc" "$(ratio "$pc" "$fc")"
lw=$(median "${load_wall[@]}") lc=$(median "${load_cpu[@]}")
printf 'median wall: find %.2f s, load through StorageConnection %.2f s, load/find %.2f\n' "$fw" "$lw" "$(ratio "$lw" "$fw")"
printf 'median cpu:  find %.2f s, load through StorageConnection %.2f s, load/find %.2f\n' "$fc" "$lc" "$(ratio "$lc" "$fc")"
