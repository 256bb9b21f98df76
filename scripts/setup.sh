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
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
