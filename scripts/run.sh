#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, renders the demo storage when it
# is missing, and starts the program on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --run
scripts/build.sh

bin=build/bin
demo=$bin/demo/earth.mbtiles
config=$bin/demo/demo.hcfg
if [[ ! -f $demo ]]; then
    mkdir -p "$(dirname "$demo")"
    "$bin/ulmora-demo-mbtiles" "$demo"
fi
if [[ ! -f $config ]]; then
    # Plugin paths are kept relative to the program folder.
    cfg=$bin/ulmora-cfg
    "$cfg" set "$config" IDE/Plugins/Count int 2
    "$cfg" set "$config" IDE/Plugins/Item0 string plugins/mbtiles.so
    "$cfg" set "$config" IDE/Plugins/Item1 string plugins/folder.so
    "$cfg" set "$config" IDE/LastUsedPlugin int 0
    # The window takes a relative storage path from the program's folder
    # when it is not found from the current one: a copied bin folder opens
    # its own demo.
    "$cfg" set "$config" IDE/LastUsedData string demo/earth.mbtiles
fi

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display to show the window on: run it under a virtual one with  xvfb-run -a scripts/run.sh"
    exit 1
fi
exec "$bin/ulmora" -CFG=demo/demo.hcfg -LOG=demo/ulmora.log "$@"
