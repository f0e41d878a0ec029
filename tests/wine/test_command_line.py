#!/usr/bin/env python3
"""The first argument as the program reads it from a command line that reaches it byte for byte: the
question that appears tells whether the run is an install or an uninstall. Every question is answered
No, so the registry stays as it was."""
import sys

from cliptools.wine import INSTALL_QUESTION, UNINSTALL_QUESTION, gbk, place_exe, run_clipindex
from winetest import main, snapshot

EXE_FOLDER = "C:\\Program Files\\Clip Index"
INSTALL, UNINSTALL = INSTALL_QUESTION, UNINSTALL_QUESTION

CASES = [
    # command line, the question it should bring
    ("clipindex.exe", INSTALL),
    ("clipindex.exe /Uninstall", UNINSTALL),
    ('clipindex.exe "/Uninstall"', UNINSTALL),
    ('clipindex.exe "" /Uninstall', UNINSTALL),  # a pair of quotes before a token is no argument
    ('clipindex.exe ""/Uninstall', UNINSTALL),
    ('clipindex.exe /Unin"stall"', UNINSTALL),  # touching stretches join into one token
    ('clipindex.exe "/Uninstall"x', INSTALL),  # /Uninstallx
    ('clipindex.exe " /Uninstall"', INSTALL),  # the quoted blank belongs to the token
    ('clipindex.exe /Uninstall"', UNINSTALL),  # a quote left open at the end adds nothing
    ('clipindex.exe \\"/Uninstall\\"', INSTALL),  # a backslash escapes nothing: \/Uninstall\
    ("clipindex.exe /uninstall", INSTALL),
    ("clipindex.exe /UNINSTALL", INSTALL),
    ("clipindex.exe -Uninstall", INSTALL),
    ("clipindex.exe /Uninstall more words", UNINSTALL),  # arguments after the first are ignored
    ("clipindex.exe\t/Uninstall", UNINSTALL),  # a control character separates like a blank
    ('"C:\\Program Files\\Clip Index\\clipindex.exe" /Uninstall', UNINSTALL),
    # the unquoted path with blanks makes "Files\Clip" the first argument
    ("C:\\Program Files\\Clip Index\\clipindex.exe /Uninstall", INSTALL),
    ('"C:\\剪辑工具\\clipindex.exe" /Uninstall', UNINSTALL),  # code page 936 in the program's name
]


def cases(checks):
    exe = place_exe(EXE_FOLDER)
    before = snapshot()
    for command_line, question in CASES:
        run = run_clipindex(gbk(command_line), ["no"], application=gbk(exe))
        checks.run(run, [question], f"command line {command_line!r}")
        print(f"{command_line!r}: {'uninstall' if run.boxes[:1] == [UNINSTALL] else 'install'} question")
    checks.unchanged(before, snapshot(), "after the questions answered No")


if __name__ == "__main__":
    sys.exit(main({"cases": cases}))
