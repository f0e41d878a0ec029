#!/usr/bin/env python3
"""Static checks of a built clipindex.exe, read with binutils' objdump (a real PE reader).

usage: check_executable.py EXE pe32|pe32+
"""
import re
import subprocess
import sys


def objdump_headers(exe):
    tool = "i686-w64-mingw32-objdump" if sys.argv[2] == "pe32" else "x86_64-w64-mingw32-objdump"
    return subprocess.run([tool, "-p", exe], check=True, capture_output=True, text=True).stdout


def main():
    exe, kind = sys.argv[1], sys.argv[2]
    headers = objdump_headers(exe)
    failures = []
    magic = re.search(r"^Magic\s+([0-9a-f]+)", headers, re.M)
    want_magic = "010b" if kind == "pe32" else "020b"
    if not magic or magic.group(1) != want_magic:
        failures.append(f"optional header magic: want {want_magic}, got {magic.group(1) if magic else None}")
    subsystem = re.search(r"^Subsystem\s+([0-9a-f]+)", headers, re.M)
    if not subsystem or int(subsystem.group(1), 16) != 2:
        failures.append(f"subsystem: want 2 (Windows GUI), got {subsystem.group(1) if subsystem else None}")
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"{exe}: {kind}, GUI subsystem")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
