#!/usr/bin/env bash
# Three jobs of ulmora-cli beside the tool a user would pick instead, on the
# same file in the same run, each a median of alternating rounds:
#  1. copy of an MBTiles file into a new z/x/y folder, against tar -x of the
#     same tree into a new folder (both write only into folders never used
#     before: creating files soon after a mass deletion is several times
#     slower on some file systems, so every tree is deleted at the end);
#  2. info, against sqlite3's per-level count and size (GROUP BY zoom_level);
#  3. verify on two threads, against Pillow decoding every tile in two
#     processes (python3-pil), each tile fully decoded by both.
# Outputs are checked: the copied tree equals the tar tree file for file,
# info's per-level counts equal sqlite3's, verify's verdict equals Pillow's.
# The copy syncs the file system once at the end (that makes it durable), so
# tar's time includes a sync of the file system too (sync -f on the new
# folder), and both are measured the same way.
# The file is MapProxy's cache of its debug source seeded to zoom 8 (87,381
# PNG tiles, deepest zoom first), made by tests/storages/fixtures/make_fixtures.sh.
# --sqlite-made adds a file made by sqlite3: zoom 0 to 10 in full (1,398,101
# tiles, level by level in rowid order, a unique tile index), its tiles 64
# distinct 256 x 256 PNG pictures made by Pillow (about 770 bytes each).
# Usage: bench/run-speed.sh [--sqlite-made] [FILE.mbtiles ...]   (ULMORA_BENCH_ROUNDS=5;
# ULMORA_BENCH_ZOOM=8 for the MapProxy file; ULMORA_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ULMORA_BUILD_DIR:-build}
rounds=${ULMORA_BENCH_ROUNDS:-5}
zoom=${ULMORA_BENCH_ZOOM:-8}

scripts/setup.sh --bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target ulmora-cli ulmora-image-decoder mbtiles folder >/dev/null
cli="$root/$build/bin/ulmora-cli"

work=$(mktemp -d "${ULMORA_BENCH_DIR:-${TMPDIR:-/tmp}}/ulmora-speed-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

sqlite_made=0
if [[ "${1:-}" == --sqlite-made ]]; then
    sqlite_made=1
    shift
fi
files=("$@")
if ((sqlite_made)); then
    echo "making the 1,398,101-tile file with sqlite3..."
    /usr/bin/python3 - "$work/pictures.sqlite" <<'PY'
# 64 distinct 256 x 256 PNG pictures: stripes of two colours.
import io, sqlite3, sys
from PIL import Image, ImageDraw
db = sqlite3.connect(sys.argv[1])
db.execute("CREATE TABLE pictures (n INTEGER PRIMARY KEY, data BLOB)")
for n in range(64):
    picture = Image.new("RGB", (256, 256), (n * 4, 255 - n * 4, 128))
    draw = ImageDraw.Draw(picture)
    for x in range(0, 256, 8 + n % 16):
        draw.line([(x, 0), (x, 255)], fill=(255, n * 4, 0), width=2)
    out = io.BytesIO()
    picture.save(out, "PNG")
    db.execute("INSERT INTO pictures VALUES (?, ?)", (n, out.getvalue()))
db.commit()
PY
    sqlite3 "$work/sqlite-made.mbtiles" "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;
ATTACH '$work/pictures.sqlite' AS p;
CREATE TABLE metadata (name TEXT, value TEXT);
INSERT INTO metadata VALUES ('name', 'sqlite-made'), ('format', 'png');
CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);
WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < 10),
 n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 1048575)
INSERT INTO tiles SELECT z, i >> z, i & ((1 << z) - 1), (SELECT data FROM p.pictures WHERE n = (i * 7 + z) % 64)
 FROM z, n WHERE i < (1 << (2 * z));
CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);" >/dev/null
    rm -f "$work/pictures.sqlite"
    files+=("$work/sqlite-made.mbtiles")
fi
if ((${#files[@]} == 0)); then
    echo "seeding MapProxy's debug cache to zoom $zoom..."
    tests/storages/fixtures/make_fixtures.sh --mapproxy "$work/mapproxy.mbtiles" "$zoom"
    files=("$work/mapproxy.mbtiles")
fi

seconds() { date +%s.%N; }
# Runs "$@" once, output to $out_file; prints the wall time, or "failed".
timed() {
    local start end status=0
    start=$(seconds)
    "$@" >"$out_file" 2>&1 || status=$?
    end=$(seconds)
    if ((status != 0 && status != ${ok_status:-0})); then echo failed; else awk "BEGIN { print $end - $start }"; fi
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }
# Alternating rounds of two commands given as functions taking the round
# number; sets ours_median and peer_median.
alternate() {
    local ours=() peer=() i t
    for ((i = 1; i <= rounds; i++)); do
        if ((i % 2)); then
            t=$("$1" "$i"); [[ $t == failed ]] && { echo "  round $i: $1 failed"; cat "$out_file"; exit 1; }; ours+=("$t")
            t=$("$2" "$i"); [[ $t == failed ]] && { echo "  round $i: $2 failed"; cat "$out_file"; exit 1; }; peer+=("$t")
        else
            t=$("$2" "$i"); [[ $t == failed ]] && { echo "  round $i: $2 failed"; cat "$out_file"; exit 1; }; peer+=("$t")
            t=$("$1" "$i"); [[ $t == failed ]] && { echo "  round $i: $1 failed"; cat "$out_file"; exit 1; }; ours+=("$t")
        fi
    done
    ours_median=$(median "${ours[@]}")
    peer_median=$(median "${peer[@]}")
    echo "  rounds (ours): ${ours[*]}"
    echo "  rounds (peer): ${peer[*]}"
}

cat >"$work/pillow_verify.py" <<'PY'
# Decodes every tile of an MBTiles file with Pillow in two processes; prints
# "checked broken" as ulmora-cli verify counts them.
import io, sqlite3, sys
from multiprocessing import Pool
from PIL import Image

def judge(part):
    path, parts, index = part
    db = sqlite3.connect(f"file:{path}?mode=ro", uri=True)
    checked = broken = 0
    for (data,) in db.execute("SELECT tile_data FROM tiles WHERE rowid % ? = ?", (parts, index)):
        checked += 1
        try:
            if not data:
                raise ValueError("empty")
            picture = Image.open(io.BytesIO(data))
            picture.load()
            if picture.size != (256, 256):
                broken += 1
        except Exception:
            broken += 1
    return checked, broken

if __name__ == "__main__":
    with Pool(2) as pool:
        results = pool.map(judge, [(sys.argv[1], 2, 0), (sys.argv[1], 2, 1)])
    print(sum(r[0] for r in results), sum(r[1] for r in results))
PY

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for file in "${files[@]}"; do
    tiles=$(sqlite3 "$file" "SELECT count(*) FROM tiles")
    echo
    echo "== $(basename "$file"): $tiles tiles, $(sqlite3 "$file" "SELECT sum(length(tile_data)) FROM tiles") bytes"
    out_file="$work/out.txt"

    # 1. copy -> z/x/y against tar -x; the tar holds ulmora's own first copy,
    # checked against the file's rows (count and bytes) first.
    "$cli" copy "$file" "$work/first" --quiet
    tar -cf "$work/tree.tar" -C "$work/first" .
    written=$(find "$work/first" -type f | wc -l)
    written_bytes=$(find "$work/first" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    copy_ours() { timed "$cli" copy "$file" "$work/copy-$1" --quiet; }
    copy_peer() { mkdir "$work/tar-$1"; timed sh -c 'tar -xf "$1" -C "$2" && sync -f "$2"' tar "$work/tree.tar" "$work/tar-$1"; }
    echo "copy -> z/x/y ($written files, $written_bytes bytes; each syncs the file system once at the end: ulmora-cli itself, tar -x followed by sync -f)"
    alternate copy_ours copy_peer
    same=yes
    for ((i = 1; i <= rounds; i++)); do
        diff -rq "$work/copy-$i" "$work/tar-$i" >/dev/null || same=no
    done
    echo "  ulmora-cli copy ${ours_median} s, tar -x ${peer_median} s: $(ratio "$ours_median" "$peer_median")x tar -x; trees equal: $same"

    # 2. info against sqlite3's GROUP BY.
    sqlite3 "$file" "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level" | tr '|' ' ' >"$work/levels-sql.txt"
    info_ours() { timed "$cli" info "$file" --json; }
    info_peer() { timed sqlite3 "$file" "SELECT zoom_level, count(*), sum(length(tile_data)) FROM tiles GROUP BY zoom_level"; }
    echo "info (per-level plates, bytes, sizes, formats of 64 plates a level) against sqlite3 GROUP BY zoom_level"
    alternate info_ours info_peer
    "$cli" info "$file" --json | python3 -c '
import json, sys
for level in json.load(sys.stdin)["levels"]:
    print(level["z"], level["plates"])' >"$work/levels-cli.txt" 2>/dev/null || true
    if cmp -s "$work/levels-sql.txt" "$work/levels-cli.txt"; then counts=equal; else counts=DIFFERENT; fi
    echo "  ulmora-cli info ${ours_median} s, sqlite3 ${peer_median} s: $(ratio "$ours_median" "$peer_median")x sqlite3; per-level counts $counts"

    # 3. verify against Pillow, two of each.
    verify_ours() { ok_status=1 timed "$cli" verify "$file" --threads 2 --quiet; }
    verify_peer() { timed /usr/bin/python3 "$work/pillow_verify.py" "$file"; }
    echo "verify on 2 threads against Pillow in 2 processes"
    alternate verify_ours verify_peer
    ours_verdict=$("$cli" verify "$file" --threads 2 2>&1 >/dev/null | tail -1 | awk '{ print $1, $6 }' || true)
    peer_verdict=$(/usr/bin/python3 "$work/pillow_verify.py" "$file")
    echo "  ulmora-cli verify ${ours_median} s, Pillow ${peer_median} s: $(ratio "$ours_median" "$peer_median")x Pillow;" \
        "checked/broken: ulmora $ours_verdict, Pillow $peer_verdict"

    rm -rf "$work"/copy-* "$work"/tar-* "$work/first" "$work/tree.tar"
done
