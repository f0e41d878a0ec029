#!/usr/bin/env python3
"""Static checks of a built clipindex.exe, read back with real PE readers: pefile for the headers and
imports, icoutils' wrestool for the resources.

usage: check_executable.py EXE pe32|pe32+ PAGE_FILE --windows VERSION [--max-size BYTES]
  VERSION: the OS and subsystem version the file must carry, the oldest Windows it promises to start on
"""
import argparse
import re
import shutil
import struct
import subprocess
import sys

try:
    import pefile
except ImportError:  # the test skips, saying so
    pefile = None

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


def imports(pe):
    """{dll: {function}} from the import directory; a function imported by number shows as "#N"."""
    return {entry.dll.decode(): {imported.name.decode() if imported.name else f"#{imported.ordinal}"
                                 for imported in entry.imports}
            for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def resource(exe, rtype, name):
    return run("wrestool", "-x", "--raw", f"--type={rtype}", f"--name={name}", exe, text=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("kind", choices=["pe32", "pe32+"])
    parser.add_argument("page")
    parser.add_argument("--windows", required=True)
    parser.add_argument("--max-size", type=int)
    args = parser.parse_args()
    if pefile is None or shutil.which("wrestool") is None:
        print("SKIP: the PE readers pefile and wrestool are not both installed (Debian packages python3-pefile and "
              "icoutils; scripts/setup installs them)")
        return 77
    pe = pefile.PE(args.exe)
    optional = pe.OPTIONAL_HEADER

    check("optional header magic", hex(optional.Magic), "0x10b" if args.kind == "pe32" else "0x20b")
    check("subsystem (2: Windows GUI)", optional.Subsystem, 2)
    for version in ("OperatingSystem", "Subsystem"):
        check(f"{version} version", "{}.{}".format(*(getattr(optional, f"{side}{version}Version")
                                                       for side in ("Major", "Minor"))), args.windows)
    check("imports", imports(pe), IMPORTS)
    # ASLR and DEP (and, 64-bit, high-entropy ASLR), with the relocations that moving the image needs
    check("DllCharacteristics", hex(optional.DllCharacteristics), "0x140" if args.kind == "pe32" else "0x160")
    check("relocations stripped", bool(pe.FILE_HEADER.Characteristics & 0x1), False)
    if args.kind == "pe32":
        # 32-bit code holds absolute addresses, each of which needs an entry; 64-bit code may need none
        relocations = optional.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
        check("base relocations present", relocations.Size > 0, True)

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
