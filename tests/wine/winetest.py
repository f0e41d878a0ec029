"""What the Wine tests share besides the driver (cliptools/wine.py): the installations they make and
compare, and a small test runner whose checks report every failure with the value it got."""
import sys
import traceback
from dataclasses import replace

from cliptools import wine_session
from cliptools.wine import (DECISION, DRAWN_EXE, EXE, INSTALL_DONE, INSTALL_QUESTION, MENU_KEY, MENU_PARENT, REG_SZ,
                            SHIPPED_EXE, SHIPPED_RUNS, UNINSTALL_KEY, UNINSTALL_PARENT, WORK, Key, gbk, place_exe,
                            prefix_file, read_keys, registry, run_clipindex, shown)

SCREENSHOTS = WORK / "screenshots"
DISPLAY_NAME = "卸载IE右键扩展功能（列出Flash）"


# --- installations ------------------------------------------------------------------------------------


def text_value(text):
    """A REG_SZ value as stored: code page 936 with its NUL, so the size is the length plus one."""
    data = gbk(text) + b"\0"
    return (REG_SZ, len(data), data)


def snapshot():
    """Both keys and their parents, to show that a run changed nothing."""
    return read_keys(MENU_PARENT, MENU_KEY, UNINSTALL_PARENT, UNINSTALL_KEY)


def remove_installation():
    registry(("delete-tree", MENU_KEY), ("delete-tree", UNINSTALL_KEY))


def write_installation(url, command):
    """The two keys as an install leaves them, written directly: the menu entry with `url`, the uninstall
    entry with the display name and `command`."""
    registry(("delete-tree", MENU_KEY), ("delete-tree", UNINSTALL_KEY),
             ("set", MENU_KEY, "", REG_SZ, gbk(url) + b"\0"),
             ("set", UNINSTALL_KEY, "DisplayName", REG_SZ, gbk(DISPLAY_NAME) + b"\0"),
             ("set", UNINSTALL_KEY, "UninstallString", REG_SZ, gbk(command) + b"\0"))


def installed_keys(url, command):
    """The two keys, as Key objects, that an install with these texts leaves behind."""
    return (Key({b"": text_value(url)}),
            Key({b"DisplayName": text_value(DISPLAY_NAME), b"UninstallString": text_value(command)}))


def install_from(folder, answers):
    """Copies clipindex.exe into `folder` and starts it with no arguments. A folder that code page 936
    cannot write cannot be named through CreateProcessA: the program is then found in the current folder."""
    exe = place_exe(folder)
    try:
        return run_clipindex(b"clipindex.exe", answers, application=gbk(exe))
    except UnicodeEncodeError:
        return run_clipindex(b"clipindex.exe", answers, cwd=prefix_file(folder))


def fresh_install_from(checks, folder):
    """Copies clipindex.exe into `folder`, removes any installation, installs answering Yes and checks
    the two boxes; returns the executable's Windows path."""
    remove_installation()
    run = install_from(folder, ["yes", "ok"])
    checks.run(run, [INSTALL_QUESTION, INSTALL_DONE], f"install from {folder}")
    return folder + "\\clipindex.exe"


# --- checks and the runner ----------------------------------------------------------------------------


class Checks:
    """Collects failures so that one run reports all it got wrong, each with the value it got."""

    def __init__(self):
        self.failures = []

    def equal(self, got, want, what):
        if got != want:
            self.failures.append(f"{what}:\n    got  {got}\n    want {want}")

    def true(self, condition, what):
        if not condition:
            self.failures.append(what)

    def run(self, run, want_boxes, what, exe=None):
        """A run of `exe` (default: the program under test) showed exactly these boxes, in order, and ended
        with exit code 0. Wine 8 draws no icon in a 32-bit program's box: there the icons are not compared
        (test_install.icons_of_the_64_bit_build compares them where Wine draws them)."""
        shown = str if icons_drawn(exe or EXE) else lambda box: str(replace(box, icon="(not drawn by this Wine)"))
        got = [shown(box) for box in run.boxes]
        want = [shown(box) for box in want_boxes]
        if got != want:
            self.failures.append(f"{what}: boxes\n    got  " + "\n         ".join(got or ["none"]) +
                                 "\n    want " + "\n         ".join(want or ["none"]) + f"\n  report:\n{run.report}")
        self.equal(run.exit_code, 0, f"{what}: exit code")

    def unchanged(self, before, after, what):
        """Two snapshot() results hold the same keys and values."""
        for name, got, want in zip(("MenuExt", "menu entry key", "Uninstall", "uninstall entry key"), after, before):
            self.key(got, want, f"{what}: {name}")

    def key(self, got, want, what):
        """A key holds exactly these values (name -> (type, size, data)) and subkeys, or is missing (None)."""
        if want is None or got is None:
            self.equal("missing" if got is None else "present", "missing" if want is None else "present", what)
            return
        for name in sorted(set(got.values) | set(want.values)):
            self.equal(describe_value(got.values.get(name)), describe_value(want.values.get(name)),
                       f"{what}, value {shown(name)}")
        self.equal([shown(name) for name in sorted(got.subkeys)], [shown(name) for name in sorted(want.subkeys)],
                   f"{what}, subkeys")


def describe_value(value):
    if value is None:
        return "no such value"
    value_type, size, data = value
    return f"type {value_type}, size {size}, data {shown(data)}"


def icons_drawn(exe):
    """Whether this Wine draws a box's icon for `exe`: Wine 8 draws none for a 32-bit program."""
    return exe != SHIPPED_EXE or DRAWN_EXE == SHIPPED_EXE


def main(tests, shipped_only=()):
    """Runs the test named on the command line: one of `tests`, a dict of name -> function(checks). Those
    named in `shipped_only` check what only the shipped 32-bit file does: they skip, saying why, where the
    64-bit build stands in (./test lets exactly that skip pass)."""
    if len(sys.argv) != 2 or sys.argv[1] not in tests:
        print("usage: " + sys.argv[0] + " " + "|".join(tests))
        return 2
    if wine_session.missing_tools(DECISION):
        print("SKIP: Wine tests need " + ", ".join(wine_session.missing_tools(DECISION)) + " (scripts/setup installs them)")
        return wine_session.SKIP
    if sys.argv[1] in shipped_only and not SHIPPED_RUNS:
        print("SKIP: " + DECISION.why)
        return wine_session.SKIP
    checks = Checks()
    try:
        tests[sys.argv[1]](checks)
    except Exception:  # a helper that failed, or a timeout: the test fails with what happened
        checks.failures.append(traceback.format_exc())
    for failure in checks.failures:
        print("FAIL:", failure)
    return 1 if checks.failures else 0
