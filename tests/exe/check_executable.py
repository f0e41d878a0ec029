#!/usr/bin/env python3
"""Static checks of a built clipindex.exe, read back with real PE readers: binutils' objdump for the
headers and imports, icoutils' wrestool for the resources.

usage: check_executable.py EXE pe32|pe32+ PAGE_FILE [--max-size BYTES]
"""
import argparse
import re
import struct
import subprocess
import sys

# What the program uses of Windows, and nothing else.
IMPORTS = {
    "KERNEL32.dll": {"GetCommandLineA", "GetModuleFileNameA", "GetFileAttributesA", "ExitProcess"},
    "USER32.dll": {"CharNextA", "MessageBoxA"},
    "ADVAPI32.dll": {"RegCreateKeyExA", "RegSetValueExA", "RegCloseKey", "RegDeleteKeyA"},
}
# (type, name, language): the page, the icon group, the icon.
RESOURCES = [("3", "1", "2052"), ("14", "MAINICON", "2052"), ("23", "CLIPINDEX", "0")]

failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: want {want!r}, got {got!r}")


def run(*command, text=True):
    return subprocess.run(command, check=True, capture_output=True, text=text).stdout


def imports(headers):
    """{dll: {function}} from objdump's import tables."""
    found = {}
    dll = None
    for line in headers.splitlines():
        name = re.match(r"\s*DLL Name: (\S+)", line)
        if name:
            dll = name.group(1)
            found[dll] = set()
            continue
        entry = re.match(r"\s+[0-9a-f]+\s+\d+\s+(\w+)$", line)
        if dll and entry:
            found[dll].add(entry.group(1))
    return found


def resource(exe, rtype, name):
    return run("wrestool", "-x", "--raw", f"--type={rtype}", f"--name={name}", exe, text=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("kind", choices=["pe32", "pe32+"])
    parser.add_argument("page")
    parser.add_argument("--max-size", type=int)
    args = parser.parse_args()
    objdump = "i686-w64-mingw32-objdump" if args.kind == "pe32" else "x86_64-w64-mingw32-objdump"
    headers = run(objdump, "-p", args.exe)

    magic = re.search(r"^Magic\s+([0-9a-f]+)", headers, re.M)
    check("optional header magic", magic and magic.group(1), "010b" if args.kind == "pe32" else "020b")
    subsystem = re.search(r"^Subsystem\s+([0-9a-f]+)", headers, re.M)
    check("subsystem (2: Windows GUI)", subsystem and int(subsystem.group(1), 16), 2)
    check("imports", imports(headers), IMPORTS)
    # ASLR and DEP (and, 64-bit, high-entropy ASLR), with the relocations that moving the image needs
    dll = re.search(r"^DllCharacteristics\s+([0-9a-f]+)", headers, re.M)
    check("DllCharacteristics", dll and int(dll.group(1), 16), 0x140 if args.kind == "pe32" else 0x160)
    flags = re.search(r"^Characteristics\s+0x([0-9a-f]+)", headers, re.M)
    check("relocations stripped", flags and bool(int(flags.group(1), 16) & 0x1), False)
    if args.kind == "pe32":
        # 32-bit code holds absolute addresses, each of which needs an entry; 64-bit code may need none
        relocations = re.search(r"^Entry 5 [0-9a-f]+ ([0-9a-f]+) Base Relocation Directory", headers, re.M)
        check("base relocations present", bool(relocations and int(relocations.group(1), 16)), True)

    listing = run("wrestool", "-l", args.exe)
    entries = re.findall(r"--type=(\d+) --name='?([^' ]+)'? --language=(\d+) \[.*?size=(\d+)\]", listing)
    check("resources (type, name, language)", sorted(e[:3] for e in entries), sorted(RESOURCES))

    page = open(args.page, "rb").read()
    check("page resource bytes equal the page file", resource(args.exe, 23, "CLIPINDEX") == page, True)

    group = resource(args.exe, 14, "MAINICON")
    check("icon group size", len(group), 6 + 14)
    if len(group) == 20:
        reserved, kind, count = struct.unpack_from("<HHH", group)
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
        check("icon group header (reserved, type, count)", (reserved, kind, count), (0, 1, 1))
        check("icon group entry (width, height, colours, bits, size, id)",
              (width, height, colours, bits, size, icon_id), (32, 32, 16, 4, 744, 1))
    icon = resource(args.exe, 3, 1)
    check("icon size", len(icon), 744)
    if len(icon) >= 40:
        _, width, height, _, bits = struct.unpack_from("<IiiHH", icon)
        check("icon bitmap (width, height of colours and mask, bits per pixel)", (width, height, bits), (32, 64, 4))

    if args.max_size is not None:
        size = len(open(args.exe, "rb").read())
        if size > args.max_size:
            failures.append(f"size: {size} bytes, more than {args.max_size}")
        print(f"{args.exe}: {size} bytes")

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"{args.exe}: {args.kind}, GUI subsystem, {sum(map(len, IMPORTS.values()))} imports, three resources "
              "as they should be")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
