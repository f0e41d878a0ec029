#!/usr/bin/env bash
# Two clean builds of the 32-bit executable from the same sources, in folders of different names, give
# the same bytes as each other and as the build under test: no time stamp or path gets in.
# usage: check_reproducible.sh SOURCE_DIR EXE
set -euo pipefail
source_dir=$1
exe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for dir in first second-build; do
  cmake -S "$source_dir" -B "$work/$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
  cmake --build "$work/$dir" --target clipindex >/dev/null
done
status=0
cmp "$work/first/clipindex.exe" "$work/second-build/clipindex.exe" || status=1
cmp "$work/first/clipindex.exe" "$exe" || status=1
[ "$status" = 0 ] && echo "reproducible: $(sha256sum <"$exe" | cut -c1-16)… in all three builds"
exit "$status"
