"""What the Wine tests share: running clipindex.exe and the helper programs in the session's prefix,
reading the registry, the boxes the program should show, and a small test runner.

The tests find their session and programs through environment variables that CTest sets:
CLIPINDEX_WINE_WORK (this suite's build folder, with session.json), CLIPINDEX_EXE (the x86-64
clipindex.exe), CLIPINDEX_SHIPPED_EXE (the 32-bit one) and CLIPINDEX_WINE_HELPERS (the folder of the helper
programs). The program under test is the shipped 32-bit file where this run runs it (scripts/wow64.py),
else the 64-bit build of the same sources; what must be drawn (the question's picture, the icons) comes
from the build whose windows this Wine draws.
"""
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import traceback
import zlib
from dataclasses import dataclass, field, replace
from pathlib import Path

import session
import wow64

WORK = Path(os.environ.get("CLIPINDEX_WINE_WORK", "."))
BUILD_64_EXE = Path(os.environ.get("CLIPINDEX_EXE", "clipindex.exe"))
SHIPPED_EXE = Path(os.environ.get("CLIPINDEX_SHIPPED_EXE", "clipindex.exe"))
# as the session recorded it, once for the run; none where no session started (the test then skips)
DECISION = (wow64.parse(json.loads((WORK / "session.json").read_text())["decision"])
            if (WORK / "session.json").exists() else wow64.decision())
SHIPPED_RUNS = DECISION.shipped_runs
EXE = SHIPPED_EXE if SHIPPED_RUNS else BUILD_64_EXE
DRAWN_EXE = SHIPPED_EXE if DECISION.drawing().shipped_runs else BUILD_64_EXE
HELPERS = Path(os.environ.get("CLIPINDEX_WINE_HELPERS", "."))
SCREENSHOTS = WORK / "screenshots"

MENU_PARENT = ("HKCU", "Software\\Microsoft\\Internet Explorer\\MenuExt")
MENU_KEY = ("HKCU", MENU_PARENT[1] + "\\列出所有 Flash")
# What a 32-bit program writes under HKLM\Software goes to the 32-bit view, which the helpers, 64-bit
# programs, see under Software\WOW6432Node, as on a 64-bit Windows; HKCU\Software is one for both.
VIEWS = ("Software\\WOW6432Node", "Software") if SHIPPED_RUNS else ("Software", "Software\\WOW6432Node")
UNINSTALL_PARENT = ("HKLM", VIEWS[0] + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
UNINSTALL_KEY = ("HKLM", UNINSTALL_PARENT[1] + "\\卸载Clipindex")
UNINSTALL_KEY_OF_THE_OTHER_VIEW = ("HKLM", UNINSTALL_KEY[1].replace(VIEWS[0], VIEWS[1], 1))
DISPLAY_NAME = "卸载IE右键扩展功能（列出Flash）"
REG_SZ = 1
REG_DWORD = 4


def gbk(text):
    """The bytes that the program and the registry see: code page 936."""
    return text.encode("gbk")


def shown(data):
    """Bytes as a reader of the failure wants them: decoded where they are code page 936, and in hex."""
    return f"{data.decode('gbk', errors='replace')!r} ({data.hex() or 'empty'})"


# --- message boxes ------------------------------------------------------------------------------------


@dataclass(frozen=True)
class Box:
    caption: bytes
    text: bytes
    buttons: tuple
    default: str
    icon: str
    owned: bool = False

    def __str__(self):
        return (f"box caption {shown(self.caption)} text {shown(self.text)} buttons {','.join(self.buttons)} "
                f"default {self.default} icon {self.icon}{' owned' if self.owned else ''}")


def question(caption, text):
    """A question: Yes and No, Yes the default, no icon."""
    return Box(gbk(caption), gbk(text), ("yes", "no"), "yes", "none")


def message(caption, text, icon):
    return Box(gbk(caption), gbk(text), ("ok",), "ok", icon)


INSTALL_QUESTION = question("安装", "是否想要安装IE右键扩展功能（列出Flash）。")
INSTALL_DONE = message("安装", "安装完成。", "exclamation")
UNINSTALL_QUESTION = question("卸载", "是否想要卸载IE右键扩展功能（列出Flash）。")
UNINSTALL_DONE = message("卸载", "卸载完成。", "exclamation")
REGISTRY_ERROR = message("错误", "操作注册表错误。", "hand")


@dataclass
class Run:
    boxes: list
    exit_code: object  # an int, or "timeout"
    report: str
    text_pixels: int = -1  # with a picture: pixels that the box's text has drawn on


def session_state():
    """What session.py start wrote: the display and the prefix."""
    return json.loads((WORK / "session.json").read_text())


def wine(program, *arguments, timeout=60, display=True, cwd=None):
    """Runs a Windows program of the session; returns its exit code, standard output and standard error.
    Output goes through files, not pipes: a Wine program may start others that outlive it and would
    hold a pipe open. With display=False the program has no display to show windows on; `cwd` (a
    folder on this machine) is its current folder."""
    state = session_state()
    # Wine's error lines go with the report: a helper that ends before it says anything is told by them.
    env = dict(session.wine_environment(state), WINEDEBUG="-all,err+all")
    if not display:
        del env["DISPLAY"]
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        completed = subprocess.run([str(session.WINE64), str(program), *arguments], env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, timeout=timeout, check=False, cwd=cwd)
        out.seek(0)
        err.seek(0)
        return (completed.returncode, out.read().decode("ascii", errors="replace"),
                err.read().decode("utf-8", errors="replace"))


def run_clipindex(command_line, answers, application=None, picture=None, display=True, pictures=None, timeout=60,
                  cwd=None):
    """Starts clipindex.exe with exactly `command_line` (bytes) and answers its boxes in order. Without
    `application` the system finds the program in the command line, as the programs list does, also in
    the current folder `cwd`.
    `picture` is where a picture of the first box goes, `pictures` maps other box numbers to theirs
    (Windows paths, PPM)."""
    arguments = [application.hex() if application else "-", command_line.hex() or "-"]
    if picture:
        arguments.append("picture=" + picture)
    arguments += [f"picture{number}={path}" for number, path in (pictures or {}).items()]
    code, report, errors = wine(HELPERS / "run_clipindex.exe", *arguments, *answers, display=display,
                                timeout=timeout, cwd=cwd)
    boxes, exit_code, text_pixels = [], None, -1
    for line in report.splitlines():
        words = line.split()
        if words[:1] == ["box"]:
            fields = dict(word.split("=", 1) for word in words[2:])
            boxes.append(Box(bytes.fromhex(fields["caption"].strip("-")), bytes.fromhex(fields["text"].strip("-")),
                             tuple(fields["buttons"].split(",")), fields["default"], fields["icon"],
                             fields["owned"] == "1"))
        elif words[:1] == ["exit"]:
            exit_code = int(words[1])
        elif words[:1] == ["timeout"]:
            exit_code = "timeout"
        elif words[:1] == ["picture"]:
            text_pixels = int(words[1].split("=")[1])
    if exit_code is None:
        errors += f"run_clipindex.exe wrote no exit line; wine64 ended with {ended(code)}\n"
    return Run(boxes, exit_code, report + errors, text_pixels)


def ended(code):
    """How a process ended, from its exit code as subprocess gives it."""
    return f"signal {-code} ({signal.strsignal(-code)})" if code < 0 else f"exit code {code}"


# --- registry -----------------------------------------------------------------------------------------


@dataclass
class Key:
    values: dict = field(default_factory=dict)  # name (bytes) -> (type, stored size, data)
    subkeys: list = field(default_factory=list)  # names (bytes)


def registry(*operations):
    """Runs registry_tool operations, each a tuple such as ("delete-tree", MENU_KEY); texts are encoded to
    code page 936 and hex. Fails the test when an operation fails."""
    arguments = []
    for operation in operations:
        verb, (root, path), *rest = operation
        arguments += [verb, root, gbk(path).hex()]
        if verb == "set":
            name, value_type, data = rest
            arguments += [gbk(name).hex() or "-", str(value_type), data.hex() or "-"]
    code, report, errors = wine(HELPERS / "registry_tool.exe", *arguments)
    if code != 0:
        raise AssertionError(f"registry_tool {' '.join(arguments)} failed with exit code {code}:\n{report}{errors}")
    return report


def read_keys(*keys):
    """The keys as the registry holds them: a Key each, or None for a key that does not exist."""
    report = registry(*[("read", key) for key in keys])
    found, current = [], None
    for line in report.splitlines():
        words = line.split()
        if words[0] == "key":
            current = Key() if words[3] == "present" else None
            found.append(current)
        elif words[0] == "value":
            name = bytes.fromhex(words[1].strip("-"))
            current.values[name] = (int(words[2]), int(words[3]), bytes.fromhex(words[4].strip("-")))
        elif words[0] == "subkey":
            current.subkeys.append(bytes.fromhex(words[1]))
    return found


def read_res_url(address):
    """The bytes that the platform's own res: protocol handler gives for `address` (code page 936
    bytes), or None where the address does not resolve."""
    code, report, errors = wine(HELPERS / "read_res_url.exe", address.hex(), display=False)
    words = report.split()
    if code == 0 and words[:1] == ["ok"]:
        return bytes.fromhex(words[1].strip("-"))
    if code == 1 and words[:1] == ["failed"]:
        return None
    raise AssertionError(f"read_res_url ended with {code}: {report}{errors}")


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


# --- the program in the prefix ------------------------------------------------------------------------


def place_exe(folder, exe=EXE):
    """Copies clipindex.exe (the x86-64 build, or `exe`) into `folder` (a Windows path on drive C:) and returns
    its Windows path."""
    target = prefix_file(folder)
    target.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(exe, target / "clipindex.exe")
    return folder + "\\clipindex.exe"


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


def prefix_file(windows_path):
    """Where a path on drive C: of the prefix lies on this machine."""
    drive, _, rest = windows_path.partition(":\\")
    assert drive.upper() == "C", windows_path
    return Path(session_state()["prefix"], "drive_c", *rest.split("\\"))


def ppm_to_png(ppm, png):
    """The launcher saves pictures as PPM; PNG needs no more than zlib and a CRC."""
    data = ppm.read_bytes()
    magic, size, maximum, pixels = data.split(b"\n", 3)
    assert magic == b"P6" and maximum == b"255", "not an 8-bit PPM picture"
    width, height = map(int, size.split())
    rows = b"".join(b"\0" + pixels[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png.parent.mkdir(parents=True, exist_ok=True)
    png.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
    return width, height


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
    if session.missing_tools(DECISION):
        print("SKIP: Wine tests need " + ", ".join(session.missing_tools(DECISION)) + " (scripts/setup installs them)")
        return session.SKIP
    if sys.argv[1] in shipped_only and not SHIPPED_RUNS:
        print("SKIP: " + DECISION.why)
        return session.SKIP
    checks = Checks()
    try:
        tests[sys.argv[1]](checks)
    except Exception:  # a helper that failed, or a timeout: the test fails with what happened
        checks.failures.append(traceback.format_exc())
    for failure in checks.failures:
        print("FAIL:", failure)
    return 1 if checks.failures else 0
