#!/usr/bin/env python3
"""Uninstalling the way the programs list does: it reads "UninstallString" from the uninstall entry and
starts it as a command line, leaving the system to find the program in it."""
import sys

from cliptools.wine import MENU_KEY, UNINSTALL_DONE, UNINSTALL_KEY, UNINSTALL_QUESTION, read_keys, run_clipindex
from winetest import fresh_install_from, installed_keys, main, snapshot

FOLDERS = {
    # test name: folder, the uninstall command that the install should write
    "program_files": ("C:\\Program Files\\Clip Index", '"C:\\Program Files\\Clip Index\\clipindex.exe" /Uninstall'),
    # 誠 is 0xD5 0x5C in code page 936: its second byte is a backslash's, and must stay part of the name
    "chinese_folder": ("C:\\剪辑工具\\誠", "C:\\剪辑工具\\誠\\clipindex.exe /Uninstall"),
}


def from_programs_list(folder, command):
    def test(checks):
        exe = fresh_install_from(checks, folder)
        menu, uninstall = read_keys(MENU_KEY, UNINSTALL_KEY)
        want_menu, want_uninstall = installed_keys("res://" + exe + "/clipindex", command)
        checks.key(menu, want_menu, "menu entry key")
        checks.key(uninstall, want_uninstall, "uninstall entry key")
        if uninstall is None or b"UninstallString" not in uninstall.values:
            return

        stored = uninstall.values[b"UninstallString"][2]
        run = run_clipindex(stored[:-1] if stored.endswith(b"\0") else stored, ["yes", "ok"])
        checks.run(run, [UNINSTALL_QUESTION, UNINSTALL_DONE], "the uninstall string started as a command line")
        menu_parent, menu, uninstall_parent, uninstall = snapshot()
        checks.key(menu, None, "menu entry key after the uninstall")
        checks.key(uninstall, None, "uninstall entry key after the uninstall")
        checks.true(menu_parent is not None, "the uninstall took MenuExt away; only the menu entry key should go")
        checks.true(uninstall_parent is not None, "the uninstall took the programs list's Uninstall key away")

    return test


if __name__ == "__main__":
    sys.exit(main({name: from_programs_list(*folder) for name, folder in FOLDERS.items()}))
