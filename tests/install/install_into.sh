# Sourced: installs the build into a fresh temporary DESTDIR with the prefix
# /usr, removed on exit. Sets WORK (the temporary folder) and ROOT
# (DESTDIR/usr). Arguments of the sourcing script: CMAKE BUILD_DIR.
set -euo pipefail
cmake_command=$1
build_dir=$2
WORK=$(mktemp -d)
cleanup() {
    chmod -R u+w "$WORK" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
DESTDIR=$WORK/dest "$cmake_command" --install "$build_dir" --prefix /usr >"$WORK/install.log"
ROOT=$WORK/dest/usr

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
