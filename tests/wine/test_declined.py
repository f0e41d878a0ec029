#!/usr/bin/env python3
"""A question answered No, closed without an answer, or never shown changes nothing and shows no other
box."""
import sys

from cliptools.wine import INSTALL_QUESTION, UNINSTALL_QUESTION, gbk, place_exe, run_clipindex
from winetest import main, remove_installation, snapshot, write_installation

EXE_FOLDER = "C:\\Program Files\\Clip Index"


def decline(checks, command_line, want_question):
    """Answers the question No, then closes it (WM_CLOSE, as the title bar's close button does)."""
    exe = place_exe(EXE_FOLDER)
    for answer in ("no", "close"):
        before = snapshot()
        run = run_clipindex(command_line, [answer], application=gbk(exe))
        checks.run(run, [want_question], f"question answered {answer}")
        checks.unchanged(before, snapshot(), f"after {answer}")


def install_question(checks):
    remove_installation()  # not installed: a Yes would create both keys
    decline(checks, b"clipindex.exe", INSTALL_QUESTION)


def install_state():
    # installed: a Yes to the uninstall question would delete both keys
    write_installation("res://C:\\Program Files\\Clip Index\\clipindex.exe/clipindex",
                       '"C:\\Program Files\\Clip Index\\clipindex.exe" /Uninstall')


def uninstall_question(checks):
    install_state()
    decline(checks, b"clipindex.exe /Uninstall", UNINSTALL_QUESTION)
    remove_installation()


def box_not_shown(checks):
    """Without a display MessageBoxA returns 0 at once, which is no Yes either."""
    exe = place_exe(EXE_FOLDER)
    cases = ((b"clipindex.exe", remove_installation), (b"clipindex.exe /Uninstall", install_state))
    for command_line, prepare in cases:
        prepare()
        before = snapshot()
        run = run_clipindex(command_line, ["yes", "ok"], application=gbk(exe), display=False)
        checks.run(run, [], f"{command_line.decode()} without a display")
        checks.unchanged(before, snapshot(), f"after {command_line.decode()} without a display")
    remove_installation()


if __name__ == "__main__":
    sys.exit(main({"install_question": install_question, "uninstall_question": uninstall_question,
                   "box_not_shown": box_not_shown}))
