"""Runs clipindex.exe and the helper programs in the Wine session's prefix, for the Wine tests and the
road: the boxes the program should show and those it showed, the registry as the program leaves it, the
page through the res: protocol, and the pictures.

The session and the programs are found through environment variables (CTest sets them for the tests, the
road for itself): CLIPINDEX_WINE_WORK (the folder with session.json), CLIPINDEX_EXE (the x86-64
clipindex.exe), CLIPINDEX_SHIPPED_EXE (the 32-bit one) and CLIPINDEX_WINE_HELPERS (the folder of the helper
programs). The program run is the shipped 32-bit file where this run runs it (cliptools/wow64.py), else
the 64-bit build of the same sources; what must be drawn (the question's picture, the icons) comes from
the build whose windows this Wine draws.
"""
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import zlib
from dataclasses import dataclass, field
from pathlib import Path

from cliptools import wine_session, wow64

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

MENU_PARENT = ("HKCU", "Software\\Microsoft\\Internet Explorer\\MenuExt")
MENU_KEY = ("HKCU", MENU_PARENT[1] + "\\列出所有 Flash")
# What a 32-bit program writes under HKLM\Software goes to the 32-bit view, which the helpers, 64-bit
# programs, see under Software\WOW6432Node, as on a 64-bit Windows; HKCU\Software is one for both.
VIEWS = ("Software\\WOW6432Node", "Software") if SHIPPED_RUNS else ("Software", "Software\\WOW6432Node")
UNINSTALL_PARENT = ("HKLM", VIEWS[0] + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
UNINSTALL_KEY = ("HKLM", UNINSTALL_PARENT[1] + "\\卸载Clipindex")
UNINSTALL_KEY_OF_THE_OTHER_VIEW = ("HKLM", UNINSTALL_KEY[1].replace(VIEWS[0], VIEWS[1], 1))
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
    """What the session wrote as it started: the display and the prefix."""
    return json.loads((WORK / "session.json").read_text())


# Now and then (once in some thousands of starts here) Wine's loader finds the page of the shared user
# data, 0x7ffe0000, taken and ends with exit code 1 before the program runs.
START_FAILURE = "wine: failed to map the shared user data"


def wine(program, *arguments, timeout=60, display=True, cwd=None):
    """Runs a Windows program of the session; returns its exit code, standard output and standard error.
    Output goes through files, not pipes: a Wine program may start others that outlive it and would
    hold a pipe open. With display=False the program has no display to show windows on; `cwd` (a
    folder on this machine) is its current folder. A start that Wine's loader failed (START_FAILURE),
    where nothing ran, is made again, at most twice."""
    state = session_state()
    # Wine's error lines go with the report: a helper that ends before it says anything is told by them.
    env = dict(wine_session.wine_environment(state), WINEDEBUG="-all,err+all")
    if not display:
        del env["DISPLAY"]
    for _ in range(3):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            completed = subprocess.run([str(wine_session.WINE64), str(program), *arguments], env=env,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout, check=False,
                                       cwd=cwd)
            out.seek(0)
            err.seek(0)
            ran = (completed.returncode, out.read().decode("ascii", errors="replace"),
                   err.read().decode("utf-8", errors="replace"))
        if ran[0] != 1 or ran[1] or START_FAILURE not in ran[2]:
            break
        print(f"{program.name}: Wine's loader did not start it ({START_FAILURE}); starting it again", file=sys.stderr)
    return ran


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


# --- the program in the prefix ------------------------------------------------------------------------


def place_exe(folder, exe=EXE):
    """Copies clipindex.exe (the x86-64 build, or `exe`) into `folder` (a Windows path on drive C:) and returns
    its Windows path."""
    target = prefix_file(folder)
    target.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(exe, target / "clipindex.exe")
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
