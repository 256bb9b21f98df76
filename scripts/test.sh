#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# As root the object-store tests can start their gateway: a failed start fails the run then.
if [[ $(id -u) -eq 0 ]]; then
    export ULMORA_REQUIRE_OBJECT_STORE=1
fi
ctest --test-dir build --output-on-failure -j2 --timeout 300
