#!/usr/bin/env bash
# A clean build of the executable from the same sources, in a folder of another name and at another
# time, gives the same bytes as the build under test: no time stamp or path gets in.
# usage: check_reproducible.sh SOURCE_DIR PRESET EXE
set -euo pipefail
source_dir=$1
preset=$2
exe=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$source_dir" && cmake --preset "$preset" -B "$work/another-build" >/dev/null)
cmake --build "$work/another-build" --target clipindex >/dev/null
cmp "$work/another-build/clipindex.exe" "$exe"
echo "reproducible: $(sha256sum <"$exe" | cut -c1-16)… from both builds of $(basename "$(dirname "$exe")")"
