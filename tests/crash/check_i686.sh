#!/bin/sh
# Checks that the crash reporter's part inside the program compiles for i686
# (the registers and the report lines have a 32-bit branch each), with the
# project's warnings as errors. Syntax only, to stay fast; the helper's
# 32-bit libraries (Qt, libdw, Capstone) are not installed.
# Usage: check_i686.sh SOURCE_DIR
set -eu
src=$1
if ! echo 'int main(void){return 0;}' | g++ -m32 -x c++ -o /dev/null - >/dev/null 2>&1; then
    echo "FAIL: g++ -m32 does not work (scripts/setup.sh installs g++-multilib)"
    exit 1
fi
for file in CrashHandler ExceptionCodes ReportLines; do
    g++ -m32 -std=c++20 -Wall -Wextra -Wpedantic -Wshadow -Werror -I"$src/src" -fsyntax-only \
        "$src/src/crash/$file.cpp"
done
echo "i686 compile of the crash reporter: OK"
