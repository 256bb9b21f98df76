# cmake --install lays the program out under the prefix, and the installed
# ulmora-cli finds its plugins and its image decoder there.
# Usage: installed_cli_test.sh CMAKE BUILD_DIR VERSION FIXTURE
source "$(dirname "$0")/install_into.sh"
version=$3
fixture=$4

for file in bin/ulmora bin/ulmora-cli lib/ulmora/ulmora-crash lib/ulmora/ulmora-image-decoder.so \
    lib/ulmora/plugins/folder.so lib/ulmora/plugins/geopackage.so lib/ulmora/plugins/mbtiles.so \
    lib/ulmora/plugins/pmtiles.so lib/ulmora/plugins/tilebundle.so share/ulmora/Ulmora.mld share/applications/ulmora.desktop \
    share/mime/packages/ulmora.xml share/icons/hicolor/scalable/apps/ulmora.svg \
    share/icons/hicolor/48x48/apps/ulmora.png share/icons/hicolor/128x128/apps/ulmora.png; do
    [[ -f $ROOT/$file ]] || fail "not installed: $file"
done
# Nothing of the build folder's own beside the programs.
extra=$(ls "$ROOT/bin" | grep -v -x -e ulmora -e ulmora-cli || true)
[[ -z $extra ]] || fail "more than the two programs in bin/: $extra"

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$ROOT/share/applications/ulmora.desktop" || fail "the menu entry is not valid"
fi

cli=$ROOT/bin/ulmora-cli
[[ $("$cli" --version) == "ulmora-cli $version" ]] || fail "--version says '$("$cli" --version)', not $version"

# Run from elsewhere, so that nothing is found through the current folder.
cd "$WORK"
out=$("$cli" info "$fixture") || fail "info ended with $?"
grep -q "(plugin mbtiles)" <<<"$out" || fail "info did not choose the installed MBTiles plugin: $out"
grep -q "^total  *21 " <<<"$out" || fail "info did not count the fixture's 21 plates: $out"

plugins=$("$cli" plugins) || fail "plugins ended with $?"
for name in folder geopackage mbtiles pmtiles tilebundle; do
    grep -q "$name" <<<"$plugins" || fail "plugins does not list $name: $plugins"
done

# verify decodes through the image decoder installed in lib/ulmora/.
out=$("$cli" verify --quiet "$fixture" 2>&1) || fail "verify ended with $?: $out"
echo "installed ulmora-cli: version, info, plugins and verify work"
