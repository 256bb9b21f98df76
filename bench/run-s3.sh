#!/usr/bin/env bash
# The S3 plugin against a one-node gateway of its own (scripts/object-store.sh),
# with rclone (provider Ceph) as the peer on the same tiles in the same run:
#  - copying a z/x/y folder of TILES tiles (21,845: zoom 0 to 7, 1 to 8 KB
#    each) into a bucket: ulmora-cli copy against rclone copy;
#  - listing them: ulmora-cli list against rclone lsf -R;
#  - KEYS keys (1,000,000) put by s3_fill, listed by both, and DELETES of them
#    (100,000, named in a file) deleted by ulmora-cli delete.
# Copies and listings run three times, alternately; the medians are compared.
# Usage: bench/run-s3.sh   (TILES, KEYS, DELETES from the environment;
# ULMORA_BENCH_BUILD names a build folder to use instead of build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
tiles=${TILES:-21845}
keys=${KEYS:-1000000}
deletes=${DELETES:-100000}
build=${ULMORA_BENCH_BUILD:-build-bench}
command -v rclone >/dev/null || { echo "rclone is missing: scripts/setup.sh --bench installs it" >&2; exit 1; }

if [[ $build == build-bench ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DULMORA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target ulmora-cli s3 folder s3_fill >/dev/null
cli=$build/bin/ulmora-cli
fill=$(find "$build" -name s3_fill -type f -perm -u+x | head -1)

work=$(mktemp -d -p "${ULMORA_BENCH_DIR:-${TMPDIR:-/tmp}}" ulmora-s3-bench.XXXXXX)
env=$work/store.env
cleanup() {
    scripts/object-store.sh stop "$env" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
STORE_BYTES=${STORE_BYTES:-8589934592} scripts/object-store.sh start "$env" >/dev/null 2>"$work/store.log"
if grep -q OBJECT_STORE_UNAVAILABLE "$env"; then
    cat "$env" "$work/store.log" >&2
    exit 1
fi
set -a
. "$env"
set +a
export RCLONE_CONFIG=$work/rclone.conf RCLONE_CONFIG_GW_TYPE=s3 RCLONE_CONFIG_GW_PROVIDER=Ceph \
    RCLONE_CONFIG_GW_ACCESS_KEY_ID=$AWS_ACCESS_KEY_ID RCLONE_CONFIG_GW_SECRET_ACCESS_KEY=$AWS_SECRET_ACCESS_KEY \
    RCLONE_CONFIG_GW_ENDPOINT=$AWS_ENDPOINT_URL RCLONE_CONFIG_GW_REGION=$AWS_DEFAULT_REGION
: >"$RCLONE_CONFIG"
# rclone 1.60's AWS SDK refuses AWS_CA_BUNDLE with its own HTTP transport; plain HTTP needs none.
unset AWS_CA_BUNDLE
echo "gateway at $AWS_ENDPOINT_URL; rclone $(rclone version | head -1 | cut -d' ' -f2)"

# The tiles: z/x/y.png, whole zooms from 0, each a PNG signature and 1 to 8 KB.
python3 - "$work/tree" "$tiles" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
random.seed(7)
made, z = 0, 0
while made < count:
    for x in range(1 << z):
        os.makedirs(f"{root}/{z}/{x}", exist_ok=True)
        for y in range(1 << z):
            if made == count:
                break
            with open(f"{root}/{z}/{x}/{y}.png", "wb") as f:
                f.write(b"\x89PNG\r\n\x1a\n" + os.urandom(random.randint(1024, 8192)))
            made += 1
    z += 1
PY
echo "tree: $(find "$work/tree" -type f | wc -l) files, $(du -sk "$work/tree" | cut -f1) KB"

TIMEFORMAT='%R'
timed() { { time "$@" >"$work/out" 2>"$work/err"; } 2>&1 || { cat "$work/err" >&2; exit 1; }; }
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
rcopy=() ucopy=() rlist=() ulist=()
for round in 1 2 3; do
    rclone mkdir "gw:ulmora-$round" 2>/dev/null
    rcopy+=("$(timed rclone copy "$work/tree" "gw:rclone-$round/t")")
    ucopy+=("$(timed "$cli" copy "$work/tree" "s3://ulmora-$round/t")")
    cat "$work/out" "$work/err" | grep -q "$tiles of $tiles plates copied" || { cat "$work/out" "$work/err" >&2; exit 1; }
    rlist+=("$(timed rclone lsf -R --files-only "gw:rclone-$round")")
    rn=$(wc -l <"$work/out")
    ulist+=("$(timed "$cli" list "s3://ulmora-$round/t")")
    un=$(wc -l <"$work/out")
    printf 'round %d: copy  rclone %6.2f s  ulmora %6.2f s\n' "$round" "${rcopy[-1]}" "${ucopy[-1]}"
    printf 'round %d: list  rclone %6.2f s  ulmora %6.2f s  (%d and %d keys)\n' "$round" "${rlist[-1]}" "${ulist[-1]}" "$rn" "$un"
done
rc=$(median "${rcopy[@]}") uc=$(median "${ucopy[@]}") rl=$(median "${rlist[@]}") ul=$(median "${ulist[@]}")
printf 'copy %d tiles (median): rclone copy %.2f s, ulmora-cli copy %.2f s: %.2f x rclone (target <= 1.5)\n' \
    "$tiles" "$rc" "$uc" "$(echo "$uc / $rc" | bc -l)"
printf 'list %d tiles (median): rclone lsf -R %.2f s, ulmora-cli list %.2f s: %.2f x rclone (target <= 1)\n' \
    "$tiles" "$rl" "$ul" "$(echo "$ul / $rl" | bc -l)"

read -r put seconds < <("$fill" many-keys t "$keys")
printf 'put %d keys with s3_fill in %.1f s (%.0f a second)\n' "$put" "$seconds" "$(echo "$put / $seconds" | bc -l)"
rl=$(timed rclone lsf -R --files-only gw:many-keys)
rn=$(wc -l <"$work/out")
ul=$(timed "$cli" list s3://many-keys/t)
un=$(wc -l <"$work/out")
awk -v n="$deletes" 'NR <= n { print $4 }' "$work/out" >"$work/names"
printf 'list %d keys: rclone lsf -R %.2f s (%d), ulmora-cli list %.2f s (%d): %.2f x rclone\n' \
    "$keys" "$rl" "$rn" "$ul" "$un" "$(echo "$ul / $rl" | bc -l)"
ud=$(timed "$cli" delete s3://many-keys/t --names "$work/names" --yes)
left=$("$cli" list s3://many-keys/t | wc -l)
printf 'delete %d of them: ulmora-cli delete %.2f s (%.0f a second); %d keys left\n' \
    "$(wc -l <"$work/names")" "$ud" "$(echo "$(wc -l <"$work/names") / $ud" | bc -l)" "$left"
