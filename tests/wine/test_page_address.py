#!/usr/bin/env python3
"""The page address through the platform's own res: protocol handler, the one the browser uses: it
resolves to exactly the page's bytes inside the executable, also as the install really wrote it from
folders whose names need care; a wrong name or another resource type does not resolve."""
import os
import sys
from pathlib import Path

from cliptools.wine import (HELPERS, INSTALL_QUESTION, MENU_KEY, REGISTRY_ERROR, SHIPPED_EXE, gbk, place_exe,
                            prefix_file, read_keys, read_res_url)
from winetest import fresh_install_from, install_from, main, remove_installation, snapshot, write_installation

PAGE = Path(os.environ.get("CLIPINDEX_PAGE", "clipindex.htm")).read_bytes()


def addresses(checks):
    exe = gbk(place_exe("C:\\Tools"))
    # the shipped 32-bit file where a 64-bit Windows keeps 32-bit programs
    shipped = gbk(place_exe("C:\\Program Files (x86)\\Clip Index", SHIPPED_EXE))
    place_other_type()
    cases = [
        # address, resolves to the page
        (b"res://" + exe + b"/clipindex", True),
        (b"res://" + exe + b"/CLIPINDEX", True),  # resource names match without regard to case
        (b"res://" + exe + b"/clipindex.htm", False),
        (b"res://" + exe + b"/clipinde", False),
        (b"res://C:\\Tools\\missing.exe/clipindex", False),
        (b"res://C:\\Tools\\page_other_type.exe/clipindex", False),  # the page stored as RCDATA
        (b"res://" + shipped + b"/clipindex", True),  # a 64-bit browser reads the 32-bit file as a data file
    ]
    for address, resolves in cases:
        got = read_res_url(address)
        checks.equal(got == PAGE, resolves, f"{address.decode('gbk')} resolves to the page")
    # the RCDATA copy is there: named with its type, the same address finds it
    checks.equal(read_res_url(b"res://C:\\Tools\\page_other_type.exe/10/clipindex") == PAGE, True,
                 "the page stored as RCDATA, named with its type")


def place_other_type():
    target = prefix_file("C:\\Tools\\page_other_type.exe")
    target.write_bytes((HELPERS / "page_other_type.exe").read_bytes())


def installed_from(folder, address):
    def test(checks):
        if address is None:
            write_installation("res://C:\\Old\\clipindex.exe/clipindex", "C:\\Old\\clipindex.exe /Uninstall")
            before = snapshot()
            run = install_from(folder, ["yes", "ok"])
            checks.run(run, [INSTALL_QUESTION, REGISTRY_ERROR], f"install from {folder}")
            checks.unchanged(before, snapshot(), f"install from {folder}")
            remove_installation()
            return
        fresh_install_from(checks, folder)
        (menu,) = read_keys(MENU_KEY)
        checks.true(menu is not None and b"" in menu.values, "the install wrote no page address")
        if menu is None or b"" not in menu.values:
            return
        written = menu.values[b""][2].rstrip(b"\0")
        checks.equal(written, gbk(address), "the page address, byte for byte")
        checks.equal(read_res_url(written) == PAGE, True, f"the written address {written.decode('gbk')} resolves")
        remove_installation()

    return test


# name: folder, and the page address the install writes (None: it writes nothing and says so). A folder
# name that code page 936 cannot write reaches the program as '?'s (C:\???\clipindex.exe under Wine) or
# as look-alikes (C:\Bale\clipindex.exe), a path that names no file; pinyin letters it does write.
FOLDERS = {
    "blanks": ("C:\\Program Files\\Clip Index", "res://C:\\Program Files\\Clip Index\\clipindex.exe/clipindex"),
    "program_files_x86": ("C:\\Program Files (x86)\\Clip Index",
                          "res://C:\\Program Files (x86)\\Clip Index\\clipindex.exe/clipindex"),
    "chinese": ("C:\\剪辑 工具\\誠", "res://C:\\剪辑 工具\\誠\\clipindex.exe/clipindex"),
    "percent_and_hash": ("C:\\Tools\\100% #1 c%20d", "res://C:\\Tools\\100%25 %231 c%2520d\\clipindex.exe/clipindex"),
    "pinyin": ("C:\\José Müller", "res://C:\\José Müller\\clipindex.exe/clipindex"),
    "korean": ("C:\\한국어", None),
    "look_alike": ("C:\\Bâle", None),
    # where only a 64-bit program could have put it: a 32-bit program's file calls there go to SysWOW64,
    # where it finds no file of its own path, so it writes no address that only a 64-bit reader resolves
    "system32": ("C:\\windows\\system32", None),
}
# rows of what only the shipped 32-bit file does (the 64-bit build finds itself in system32 and installs)
SHIPPED_ONLY = ("installed_program_files_x86", "installed_system32")

if __name__ == "__main__":
    tests = {"addresses": addresses}
    tests.update({"installed_" + name: installed_from(*row) for name, row in FOLDERS.items()})
    sys.exit(main(tests, SHIPPED_ONLY))
