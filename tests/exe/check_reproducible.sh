#!/usr/bin/env bash
# A second build of the executable from the same sources, in a folder of another name and at another
# time, gives the same bytes as the build under test: no time stamp or path gets in. The second build is
# made from clean in OTHER_DIR the first time, and kept and brought up to date like the first after that.
# usage: check_reproducible.sh SOURCE_DIR PRESET EXE OTHER_DIR
set -euo pipefail
source_dir=$1
preset=$2
exe=$3
other=$4
[ -f "$other/CMakeCache.txt" ] || (cd "$source_dir" && cmake --preset "$preset" -B "$other" >/dev/null)
cmake --build "$other" --target clipindex >/dev/null
cmp "$other/clipindex.exe" "$exe"
echo "reproducible: $(sha256sum <"$exe" | cut -c1-16)… from both builds of $(basename "$(dirname "$exe")")"
