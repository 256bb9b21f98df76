#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; only
# the missing ones, without questions.
# Usage: scripts/setup.sh [--run] [--bench] [--fixtures]
# (--run adds what starting the program needs: a virtual display; --bench
# what the benchmarks need: GDAL, which writes bench/run-plates.sh's MBTiles,
# MapProxy and Pillow for bench/run-speed.sh;
# --fixtures the tile tools that remake the test fixtures).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev            # Qt Widgets, its platform plugins and image readers
    fonts-dejavu-core       # a font, so that texts have sizes in widget tests
    libgtest-dev libbenchmark-dev
    libsqlite3-dev sqlite3  # the MBTiles plugin, and its benchmark baseline
    libdw-dev libcapstone-dev # the crash helper: stack walk and names, disassembly
    g++-multilib            # the crash reporter's i686 compile check
    zlib1g-dev              # the PMTiles plugin: gzip-compressed directories
    libyaml-dev             # the folder plugin: the tile server configuration beside a cache
    qt6-image-formats-plugins # WebP plates (PMTiles, GeoPackage) in the preview
    time bc                 # bench/run-10m.sh: CPU times and ratios
    nettle-dev              # MD5 content ids of deduplicated MBTiles images
    gcc-mingw-w64-i686 binutils-mingw-w64-i686 # the 32-bit contract check
    xplanet-images          # the Earth picture the demo storage is rendered from
    desktop-file-utils      # the install test checks the menu entry
    dpkg-dev                # the Debian package's Depends (dpkg-shlibdeps)
    libdeflate-dev libspng-dev libjpeg62-turbo-dev libwebp-dev # verify's own PNG, JPEG and WebP decoding
    libpng-dev              # ulmora-cli info's PNG pictures (the tool links no Qt)
    libcurl4-openssl-dev libexpat1-dev # the S3 plugin: HTTP with SigV4, ListObjectsV2 replies
    ceph-mon ceph-osd radosgw ceph-common curl # scripts/object-store.sh: a one-node gateway for the S3 tests
    nodejs                  # the PMTiles tests read written archives with the format's reference reader
    gdal-bin python3-gdal   # the GeoPackage tests open written pyramids with GDAL (gdalinfo, its validator)
)
for option in "$@"; do
    case "$option" in
    --run) packages+=(xvfb xauth) ;;
    --bench) packages+=(gdal-bin mapproxy python3-pil) ;; # MapProxy's file; Pillow, verify's peer
    --fixtures) packages+=(mapproxy gdal-bin) ;; # mapproxy-seed, gdal2tiles
    esac
done

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
# Debian's nodejs comes without npm; some builds of nodejs carry their own.
if ! command -v npm >/dev/null; then
    missing+=(npm)
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The reference PMTiles reader from npm, pinned, where the tests look for it
# (tests/storages/CMakeLists.txt: ULMORA_NODE_MODULES).
node_prefix=/usr/local/lib/ulmora-node
pmtiles_version=4.5.0
if ! grep -qs "\"version\": \"$pmtiles_version\"" "$node_prefix/node_modules/pmtiles/package.json"; then
    echo "Installing the npm package pmtiles@$pmtiles_version into $node_prefix"
    $sudo mkdir -p "$node_prefix"
    $sudo npm install --silent --no-audit --no-fund --prefix "$node_prefix" "pmtiles@$pmtiles_version" >/dev/null
fi
