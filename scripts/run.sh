#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --run
scripts/build.sh

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display to show the window on: run it under a virtual one with  xvfb-run -a scripts/run.sh"
    exit 1
fi
exec build/bin/ulmora "$@"
