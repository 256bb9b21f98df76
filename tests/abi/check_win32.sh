#!/bin/sh
# Builds the layout check as a 32-bit Windows DLL and checks that its export
# table holds the plain name QueryPluginInterface.
# Usage: check_win32.sh SOURCE INCLUDE_DIR OUTPUT_DIR
set -eu
source=$1 include=$2 out=$3
cc=i686-w64-mingw32-gcc
objdump=i686-w64-mingw32-objdump
if ! command -v "$cc" >/dev/null 2>&1; then
    echo "FAIL: $cc is not installed (scripts/setup.sh installs gcc-mingw-w64-i686)"
    exit 1
fi
mkdir -p "$out"
# A plugin with the metadata extension exports its second function by its
# plain name too.
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror -shared -Wl,--kill-at -DABI_WITH_EXTENSION \
    -I"$include" -o "$out/abi_ext_plugin.dll" "$source"
extExports=$("$objdump" -p "$out/abi_ext_plugin.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
echo "$extExports"
for name in QueryPluginInterface QueryPluginExtension; do
    echo "$extExports" | grep -qw "$name" || { echo "FAIL: $name not exported"; exit 1; }
done
if echo "$extExports" | grep -q 'Query[A-Za-z]*@'; then
    echo "FAIL: an export name is decorated"
    exit 1
fi
# --kill-at drops the @8 that __stdcall adds to exported names.
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror -shared -Wl,--kill-at \
    -I"$include" -o "$out/abi_plugin.dll" "$source"
exports=$("$objdump" -p "$out/abi_plugin.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
echo "$exports"
echo "$exports" | grep -qw 'QueryPluginInterface' || { echo "FAIL: QueryPluginInterface not exported"; exit 1; }
if echo "$exports" | grep -q 'QueryPluginInterface@'; then
    echo "FAIL: the export name is decorated"
    exit 1
fi
echo "32-bit layout and export name: OK"
