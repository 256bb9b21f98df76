# Sourced by the bench scripts that read bench/run-10m.sh's plain file.
# plain_mbtiles CACHE TILES DISTINCT prints the path of the file for TILES
# tiles (zoom 0-11 in full, the rest at zoom 12; zero blobs of 20 to 69
# bytes, or with DISTINCT=1 bytes of each tile's own) in the folder CACHE,
# and makes it with run-10m.sh's SQL when it is missing.
plain_mbtiles() {
    local cache=$1 tiles=$2 distinct=$3
    local file=$cache/plain.mbtiles blob="zeroblob(20 + (i % 50))"
    ((tiles == 10000000)) || file=$cache/plain-$tiles.mbtiles
    if ((distinct)); then
        file=$cache/distinct-$tiles.mbtiles
        blob="CAST(printf('%08x', (1 << (2 * z)) / 3 + i) AS BLOB) || zeroblob(12 + (i % 50))"
    fi
    if [[ ! -f $file ]]; then
        echo "Making $file ..." >&2
        mkdir -p "$cache"
        rm -f "$file.part"
        sqlite3 "$file.part" "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -200000;
CREATE TABLE metadata (name TEXT, value TEXT);
CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);
BEGIN;
WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < 12),
 n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 16777215)
INSERT INTO tiles SELECT z, i >> z, i & ((1 << z) - 1), $blob FROM z, n
 WHERE i < (1 << (2 * z)) AND (z < 12 OR i < $tiles - 5592405) AND (1 << (2 * z)) / 3 + i < $tiles;
COMMIT;
CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);" >/dev/null
        mv "$file.part" "$file"
    fi
    echo "$file"
}
