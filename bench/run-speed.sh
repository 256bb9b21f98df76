#!/usr/bin/env bash
# Five jobs of ulmora-cli beside the tools a user would pick instead, on the
# same file in the same run, each a median of alternating rounds (the order
# of the sides turns each round), wall time and CPU time (user + system, the
# process and its children) beside each other, with the load average of the
# machine at the start and the end of each row:
#  1. copy of an MBTiles file into a new z/x/y folder, against tar -x of the
#     same tree into a new folder (both write only into folders never used
#     before: creating files soon after a mass deletion is several times
#     slower on some file systems, so every tree is deleted at the end);
#  2. export into a new plate tree, against tar -x of that same tree into a
#     new folder (neither syncs: export without --move does not);
#  3. info, against sqlite3's per-level count and size (GROUP BY zoom_level);
#  4. verify on two threads, against Pillow decoding every tile in two
#     processes (python3-pil), each tile fully decoded by both;
#  5. delete --z ZOOM (one level), against sqlite3's single DELETE ... WHERE
#     zoom_level = ZOOM, the same with PRAGMA secure_delete = OFF (Debian's
#     SQLite overwrites what it deletes unless told not to; the MBTiles plugin
#     tells it not to), and a per-tile DELETE loop in one transaction (Python's
#     sqlite3, the level's keys listed first), each on its own copy of the
#     file made and synced before the clock starts.
# Outputs are checked: the copied and exported trees equal the tar trees file for file,
# info's per-level counts equal sqlite3's, verify's verdict equals Pillow's,
# every deleting side leaves the same count of tiles and none of the level.
# The copy syncs the file system once at the end (that makes it durable), so
# tar's time includes a sync of the file system too (sync -f on the new
# folder), and both are measured the same way. Every side is a process of
# its own, timed from its start: what a user waits for.
# The file is MapProxy's cache of its debug source seeded to zoom 8 (87,381
# PNG tiles, deepest zoom first), made by tests/storages/fixtures/make_fixtures.sh.
# --sqlite-made adds a file made by sqlite3: zoom 0 to 10 in full (1,398,101
# tiles, level by level in rowid order, a unique tile index), its tiles 64
# distinct 256 x 256 PNG pictures made by Pillow (about 770 bytes each); it
# is kept in $ULMORA_BENCH_CACHE (default /var/tmp/ulmora-bench) for later runs.
# Usage: bench/run-speed.sh [--sqlite-made] [FILE.mbtiles ...]   (ULMORA_BENCH_ROUNDS=5;
# ULMORA_BENCH_ZOOM=8 for the MapProxy file; ULMORA_BENCH_DELETE_ZOOM=8;
# ULMORA_BENCH_JOBS="copy export info verify delete" picks rows; ULMORA_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ULMORA_BUILD_DIR:-build}
rounds=${ULMORA_BENCH_ROUNDS:-5}
zoom=${ULMORA_BENCH_ZOOM:-8}
delete_zoom=${ULMORA_BENCH_DELETE_ZOOM:-8}
jobs=" ${ULMORA_BENCH_JOBS:-copy export info verify delete} "
cache=${ULMORA_BENCH_CACHE:-/var/tmp/ulmora-bench}

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
made="$cache/sqlite-made.mbtiles"
if ((sqlite_made)) && [[ ! -f "$made" ]]; then
    mkdir -p "$cache"
    echo "making the 1,398,101-tile file with sqlite3 (kept as $made)..."
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
    mv "$work/sqlite-made.mbtiles" "$made"
fi
((sqlite_made)) && files+=("$made")
if ((${#files[@]} == 0)); then
    echo "seeding MapProxy's debug cache to zoom $zoom..."
    tests/storages/fixtures/make_fixtures.sh --mapproxy "$work/mapproxy.mbtiles" "$zoom"
    files=("$work/mapproxy.mbtiles")
fi

load() { cut -d' ' -f1-3 /proc/loadavg; }
# Runs "$@" once, output to $out_file; prints "WALL CPU" in seconds (CPU:
# user + system of the command and the children it waited for), or "failed".
timed() {
    local status=0
    /usr/bin/time -o "$work/time.txt" -f '%e %U %S' "$@" >"$out_file" 2>&1 || status=$?
    if ((status != 0 && status != ${ok_status:-0})); then echo failed; return; fi
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time.txt"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }
# Alternating rounds of commands given as functions taking the round number,
# the first one ours; the order turns by one each round. Sets walls[k] and
# cpus[k], the medians of side k, and prints every round.
alternate() {
    local sides=("$@") n=$# i j k t
    local -a wall cpu
    load_before=$(load)
    for ((i = 1; i <= rounds; i++)); do
        for ((j = 0; j < n; j++)); do
            k=$(((i - 1 + j) % n))
            t=$("${sides[k]}" "$i")
            if [[ $t == failed ]]; then echo "  round $i: ${sides[k]} failed"; cat "$out_file"; exit 1; fi
            wall[k]+="${t% *} "
            cpu[k]+="${t#* } "
        done
    done
    load_after=$(load)
    walls=() cpus=()
    for ((k = 0; k < n; k++)); do
        # shellcheck disable=SC2086
        walls[k]=$(median ${wall[k]})
        # shellcheck disable=SC2086
        cpus[k]=$(median ${cpu[k]})
        echo "  rounds ${sides[k]}: wall ${wall[k]}; cpu ${cpu[k]}"
    done
}
# "wall W s (R x), cpu C s (R x)" of side $1 against side $2.
against() {
    echo "wall ${walls[$1]} s / ${walls[$2]} s = $(ratio "${walls[$1]}" "${walls[$2]}")x, cpu ${cpus[$1]} s / ${cpus[$2]} s = $(ratio "${cpus[$1]}" "${cpus[$2]}")x"
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

cat >"$work/delete_loop.py" <<'PY'
# Deletes one zoom level tile by tile, one statement per tile in one
# transaction, the level's keys listed first.
import sqlite3, sys
db = sqlite3.connect(sys.argv[1], isolation_level=None)
zoom = int(sys.argv[2])
keys = db.execute("SELECT zoom_level, tile_column, tile_row FROM tiles WHERE zoom_level = ?", (zoom,)).fetchall()
db.execute("BEGIN")
db.executemany("DELETE FROM tiles WHERE zoom_level = ? AND tile_column = ? AND tile_row = ?", keys)
db.execute("COMMIT")
print(len(keys))
PY

echo "machine: $(nproc) cores, load average $(load)"
for file in "${files[@]}"; do
    tiles=$(sqlite3 "$file" "SELECT count(*) FROM tiles")
    echo
    echo "== $(basename "$file"): $tiles tiles, $(sqlite3 "$file" "SELECT sum(length(tile_data)) FROM tiles") bytes"
    out_file="$work/out.txt"

    if [[ $jobs == *" copy "* ]]; then
        # 1. copy -> z/x/y against tar -x; the tar holds ulmora's own first copy,
        # checked against the file's rows (count and bytes) first.
        "$cli" copy "$file" "$work/first" --quiet
        tar -cf "$work/tree.tar" -C "$work/first" .
        written=$(find "$work/first" -type f | wc -l)
        written_bytes=$(find "$work/first" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
        copy_ours() { timed "$cli" copy "$file" "$work/copy-$1" --quiet; }
        copy_tar() { mkdir "$work/tar-$1"; timed sh -c 'tar -xf "$1" -C "$2" && sync -f "$2"' tar "$work/tree.tar" "$work/tar-$1"; }
        echo "copy -> z/x/y ($written files, $written_bytes bytes; each syncs the file system once at the end: ulmora-cli itself, tar -x followed by sync -f)"
        alternate copy_ours copy_tar
        same=yes
        for ((i = 1; i <= rounds; i++)); do
            diff -rq "$work/copy-$i" "$work/tar-$i" >/dev/null || same=no
        done
        echo "  ulmora-cli copy against tar -x: $(against 0 1); trees equal: $same; load $load_before -> $load_after"
    fi

    if [[ $jobs == *" export "* ]]; then
        # 2. export into a plate tree against tar -x of ulmora's first export.
        "$cli" export "$file" "$work/efirst" --quiet
        tar -cf "$work/etree.tar" -C "$work/efirst" .
        exported=$(find "$work/efirst" -type f | wc -l)
        export_ours() { timed "$cli" export "$file" "$work/export-$1" --quiet; }
        export_tar() { mkdir "$work/etar-$1"; timed tar -xf "$work/etree.tar" -C "$work/etar-$1"; }
        echo "export -> plate tree ($exported files) against tar -x of the same tree"
        alternate export_ours export_tar
        same=yes
        for ((i = 1; i <= rounds; i++)); do
            diff -rq "$work/export-$i" "$work/etar-$i" >/dev/null || same=no
        done
        echo "  ulmora-cli export against tar -x: $(against 0 1); trees equal: $same; load $load_before -> $load_after"
    fi

    if [[ $jobs == *" info "* ]]; then
        # 3. info against sqlite3's GROUP BY.
        sqlite3 "$file" "SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level" | tr '|' ' ' >"$work/levels-sql.txt"
        info_ours() { timed "$cli" info "$file" --json; }
        info_sqlite3() { timed sqlite3 "$file" "SELECT zoom_level, count(*), sum(length(tile_data)) FROM tiles GROUP BY zoom_level"; }
        echo "info (per-level plates, bytes, sizes, formats of 64 plates a level) against sqlite3 GROUP BY zoom_level"
        alternate info_ours info_sqlite3
        "$cli" info "$file" --json | python3 -c '
import json, sys
for level in json.load(sys.stdin)["levels"]:
    print(level["z"], level["plates"])' >"$work/levels-cli.txt" 2>/dev/null || true
        if cmp -s "$work/levels-sql.txt" "$work/levels-cli.txt"; then counts=equal; else counts=DIFFERENT; fi
        echo "  ulmora-cli info against sqlite3: $(against 0 1); per-level counts $counts; load $load_before -> $load_after"
    fi

    if [[ $jobs == *" verify "* ]]; then
        # 4. verify against Pillow, two of each.
        verify_ours() { ok_status=1 timed "$cli" verify "$file" --threads 2 --quiet; }
        verify_pillow() { timed /usr/bin/python3 "$work/pillow_verify.py" "$file"; }
        echo "verify on 2 threads against Pillow in 2 processes"
        alternate verify_ours verify_pillow
        ours_verdict=$("$cli" verify "$file" --threads 2 2>&1 >/dev/null | tail -1 | awk '{ print $1, $6 }' || true)
        peer_verdict=$(/usr/bin/python3 "$work/pillow_verify.py" "$file")
        echo "  ulmora-cli verify against Pillow: $(against 0 1); checked/broken: ulmora $ours_verdict, Pillow $peer_verdict;" \
            "load $load_before -> $load_after"
    fi

    if [[ $jobs == *" delete "* ]]; then
        # 5. delete of one level, each side on its own synced copy.
        level_tiles=$(sqlite3 "$file" "SELECT count(*) FROM tiles WHERE zoom_level = $delete_zoom")
        fresh() { rm -f "$work"/del-*.mbtiles*; cp "$file" "$work/del-$1.mbtiles"; sync -f "$work/del-$1.mbtiles"; }
        left() { sqlite3 "$work/del-$1.mbtiles" "SELECT count(*), sum(zoom_level = $delete_zoom) FROM tiles" >>"$work/left.txt"; }
        delete_ours() { fresh ours; timed "$cli" delete "$work/del-ours.mbtiles" --z "$delete_zoom" --yes --quiet; left ours; }
        delete_single() { fresh single; timed sqlite3 "$work/del-single.mbtiles" "DELETE FROM tiles WHERE zoom_level = $delete_zoom"; left single; }
        delete_unsecure() { fresh unsecure; timed sqlite3 "$work/del-unsecure.mbtiles" "PRAGMA secure_delete = OFF; DELETE FROM tiles WHERE zoom_level = $delete_zoom"; left unsecure; }
        delete_loop() { fresh loop; timed /usr/bin/python3 "$work/delete_loop.py" "$work/del-loop.mbtiles" "$delete_zoom"; left loop; }
        echo "delete --z $delete_zoom ($level_tiles tiles) against one DELETE ... WHERE zoom_level = $delete_zoom (secure_delete as Debian's sqlite3 has it, on; and off)" \
            "and a per-tile DELETE loop in one transaction"
        : >"$work/left.txt"
        alternate delete_ours delete_single delete_unsecure delete_loop
        if [[ $(sort -u "$work/left.txt") == "$((tiles - level_tiles))|0" ]]; then after=equal; else after="DIFFERENT: $(sort -u "$work/left.txt" | tr '\n' ' ')"; fi
        echo "  ulmora-cli delete against one DELETE: $(against 0 1)"
        echo "  ulmora-cli delete against one DELETE with secure_delete off: $(against 0 2)"
        echo "  ulmora-cli delete against a per-tile loop: $(against 0 3)"
        echo "  tiles left ($((tiles - level_tiles)) expected, none of zoom $delete_zoom): $after; load $load_before -> $load_after"
        rm -f "$work"/del-*.mbtiles*
    fi
    # The trees go only after every row that creates files has run.
    rm -rf "$work"/copy-* "$work"/tar-* "$work/first" "$work/tree.tar" \
        "$work"/export-* "$work"/etar-* "$work/efirst" "$work/etree.tar"
done
