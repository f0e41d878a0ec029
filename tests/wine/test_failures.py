#!/usr/bin/env python3
"""Registry operations that fail on the real registry: each run ends with the error box after its
question, leaves what it had done in place, and exits with code 0."""
import sys

from cliptools.wine import (INSTALL_QUESTION, MENU_KEY, MENU_PARENT, REGISTRY_ERROR, UNINSTALL_KEY, UNINSTALL_PARENT,
                            UNINSTALL_QUESTION, gbk, place_exe, read_keys, registry, run_clipindex)
from winetest import installed_keys, main, remove_installation, snapshot, write_installation

EXE_FOLDER = "C:\\Program Files\\Clip Index"
URL = "res://C:\\Program Files\\Clip Index\\clipindex.exe/clipindex"
COMMAND = '"C:\\Program Files\\Clip Index\\clipindex.exe" /Uninstall'


def run_ending_in_error(checks, command_line, question, what):
    exe = place_exe(EXE_FOLDER)
    run = run_clipindex(command_line, ["yes", "ok"], application=gbk(exe))
    checks.run(run, [question, REGISTRY_ERROR], what)


def uninstall_nothing_installed(checks):
    remove_installation()
    before = snapshot()
    run_ending_in_error(checks, b"clipindex.exe /Uninstall", UNINSTALL_QUESTION, "uninstall with nothing installed")
    checks.unchanged(before, snapshot(), "after the failed uninstall")


def uninstall_menu_entry_missing(checks):
    """Another user's install: the machine's uninstall entry is there, this user's menu entry is not."""
    write_installation(URL, COMMAND)
    registry(("delete-tree", MENU_KEY))
    before = snapshot()
    run_ending_in_error(checks, b"clipindex.exe /Uninstall", UNINSTALL_QUESTION, "uninstall without a menu entry")
    checks.unchanged(before, snapshot(), "after the failed uninstall (the uninstall entry stays)")
    remove_installation()


def menu_entry_not_deletable(checks):
    """A subkey under the menu entry key makes its deletion fail; then nothing is deleted."""
    write_installation(URL, COMMAND)
    registry(("create", ("HKCU", MENU_KEY[1] + "\\子项")))
    try:
        before = snapshot()
        run_ending_in_error(checks, b"clipindex.exe /Uninstall", UNINSTALL_QUESTION, "uninstall of a locked menu entry")
        checks.unchanged(before, snapshot(), "after the failed uninstall")
    finally:
        remove_installation()


def menu_entry_not_creatable(checks):
    """Under a volatile MenuExt the system refuses the ordinary menu entry key."""
    remove_installation()
    registry(("delete-tree", MENU_PARENT), ("create-volatile", MENU_PARENT))
    try:
        before = snapshot()
        run_ending_in_error(checks, b"clipindex.exe", INSTALL_QUESTION, "install without a menu entry key")
        checks.unchanged(before, snapshot(), "after the failed install (the uninstall entry was never tried)")
    finally:
        registry(("delete-tree", MENU_PARENT))  # volatile keys live as long as the wineserver


def uninstall_entry_not_creatable(checks):
    """Under a volatile Uninstall key the system refuses the uninstall entry; the menu entry, written
    first, stays written."""
    remove_installation()
    registry(("delete-tree", UNINSTALL_PARENT), ("create-volatile", UNINSTALL_PARENT))
    try:
        run_ending_in_error(checks, b"clipindex.exe", INSTALL_QUESTION, "install without an uninstall entry key")
        menu, uninstall = read_keys(MENU_KEY, UNINSTALL_KEY)
        checks.key(menu, installed_keys(URL, COMMAND)[0], "menu entry key")
        checks.key(uninstall, None, "uninstall entry key")
    finally:
        # back to the ordinary key that the prefix had
        registry(("delete-tree", UNINSTALL_PARENT), ("create", UNINSTALL_PARENT))
        remove_installation()


if __name__ == "__main__":
    sys.exit(main({"uninstall_nothing_installed": uninstall_nothing_installed,
                   "uninstall_menu_entry_missing": uninstall_menu_entry_missing,
                   "menu_entry_not_deletable": menu_entry_not_deletable,
                   "menu_entry_not_creatable": menu_entry_not_creatable,
                   "uninstall_entry_not_creatable": uninstall_entry_not_creatable}))
