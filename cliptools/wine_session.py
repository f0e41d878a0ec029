"""The Wine session that the tests of one CTest run share (and the road has one of its own): an Xvfb
display, a fresh Wine prefix (a copy of one that Wine's own init made once, under build/wine-prefixes), its
wineserver kept running for the whole run, and a program that keeps Wine's desktop open. `start` makes it
and writes what the tests need to know to session.json; `stop` ends what it started: the prefix's Wine
processes, the server's folder and the Xvfb. (Under ./test and ./run, the run's namespaces end whatever is
left, however the run ends.)

usage: scripts/python -m cliptools.wine_session start|stop WORK_DIR HELPERS_DIR
"""
import fcntl
import hashlib
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from cliptools import wow64

WINE64 = Path("/usr/lib/wine/wine64")
WINESERVER = Path("/usr/lib/wine/wineserver")
SKIP = 77
# Where the prefixes that sessions copy are kept, one for each Wine, WoW64 folder and settings (below).
TEMPLATES = wow64.BUILD / "wine-prefixes"


def missing_tools(decision):
    """What the suite cannot do without; CTest reports the tests as skipped when one is missing."""
    missing = [str(tool) for tool in (WINE64, WINESERVER) if not tool.exists()]
    if shutil.which("Xvfb") is None:
        missing.append("Xvfb")
    if decision.shipped_runs:
        folder = wow64.folder()  # dpkg-query's answer, asked once
        if not wow64.ready(folder):
            missing.append(f"the WoW64 folder {folder}")
    return missing


# Where Wine's server keeps its folder, /tmp/wine-XXXXXX: with TMPDIR set at all, Debian 13's wineserver
# (Wine 10) aborts at start ("free(): invalid pointer"), so Wine never gets the run's TMPDIR.
SERVER_TEMP = Path("/tmp")


def wine_environment(state):
    """Code page 936 through the locale, no debug output, no TMPDIR, and where the shipped 32-bit file runs,
    the 32-bit Windows DLLs of WoW64 mode."""
    env = dict(os.environ)
    env.pop("TMPDIR", None)
    if state.get("wow64"):
        env["WINEDLLPATH"] = state["wow64"]
    env.update(WINEPREFIX=state["prefix"], DISPLAY=state["display"] or "", LC_ALL="zh_CN.UTF-8", WINEDEBUG="-all")
    return env


def read_line(stream, seconds):
    """What a program writes to the pipe up to its first line end, or what it wrote before it closed the
    pipe or `seconds` passed."""
    fd = stream if isinstance(stream, int) else stream.fileno()
    written = b""
    deadline = time.monotonic() + seconds
    while not written.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(fd, 64) if ready else b""
        if not chunk:
            break
        written += chunk
    return written


def start_xvfb(log, env):
    """Xvfb picks a free display itself and writes its number to the pipe (-displayfd)."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=[write_end],
                            start_new_session=True, env=env)
    os.close(write_end)
    # Read to the end of the line: closing the pipe while Xvfb still writes to it makes Xvfb give up.
    written = read_line(read_end, 30)
    os.close(read_end)
    number = written.decode().strip()
    if not number:
        xvfb.kill()
        raise RuntimeError("Xvfb did not report a display within 30 s")
    return xvfb, ":" + number


def start_time(pid):
    """Field 22 of /proc/PID/stat, counted after the command name (which may hold blanks): with the number,
    it names one process, not a later one that took its number."""
    try:
        return int(Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[19])
    except (OSError, IndexError, ValueError):
        return None


def end_xvfb(pid, started):
    """SIGTERM, so that Xvfb removes its socket and lock, to the Xvfb that the session started, if it runs."""
    try:
        handle = os.pidfd_open(pid)
    except OSError:  # gone
        return
    try:
        if start_time(pid) == started:
            signal.pidfd_send_signal(handle, signal.SIGTERM)
    finally:
        os.close(handle)


def start(work, helpers, display=None):
    """Makes the session; on `display` when given (a person's own screen), else on an Xvfb of its own. It
    records the run's decision (cliptools/wow64.py), passed on or made now, for the tests to read."""
    decision = wow64.decision()
    if missing_tools(decision):
        print("SKIP: Wine tests need " + ", ".join(missing_tools(decision)) + " (scripts/setup installs them)")
        return SKIP
    state_file = work / "session.json"
    if state_file.exists():
        stop(work)  # a run that was cut short left its session behind
    prefix = work / "prefix"
    shutil.rmtree(prefix, ignore_errors=True)
    prefix.mkdir(parents=True)
    log = open(work / "session.log", "w")

    # Written before anything starts: a stop then finds the prefix whose processes to end.
    state = {"display": display, "prefix": str(prefix), "decision": str(decision),
             "wow64": str(wow64.folder()) if decision.shipped_runs else None}
    state_file.write_text(json.dumps(state))
    if display is None:
        xvfb, state["display"] = start_xvfb(log, wine_environment(state))
        display = state["display"]
        state["xvfb"] = [xvfb.pid, start_time(xvfb.pid)]
        state_file.write_text(json.dumps(state))
    env = wine_environment(state)
    started = time.monotonic()
    template = prefix_template(helpers, state, state_file, log)
    subprocess.run(["cp", "-a", "--no-target-directory", str(template), str(prefix)], check=True, timeout=120)
    # -p: the server stays up between the tests' programs, so volatile keys live for the whole test run.
    start_server(env, log)
    # Started, and waited for: a program still starting when the session stops would find no server and
    # start one of its own.
    desktop = subprocess.Popen([str(WINE64), str(helpers / "hold_desktop.exe")], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=log, start_new_session=True)
    said = read_line(desktop.stdout, 60)
    desktop.stdout.close()
    if said.strip() != b"desktop":
        raise RuntimeError(f"hold_desktop.exe did not say within 60 s that it holds Wine's desktop; it said {said!r}")
    print(f"Wine session on display {display}, prefix {prefix}, a copy of {template.name} (it took "
          f"{time.monotonic() - started:.1f} s)")
    return 0


# What a new prefix is given besides what Wine's own init puts there. No offer to install Mono or Gecko while
# the prefix is made; only then, as the res: protocol that the page address goes through lives in mshtml,
# and a disabled mshtml refuses it. Without a window manager on the display, Wine waits for one on every
# box it hides; windows that Wine manages itself close at once and carry their caption in the pictures.
# Debian 13's Wine finds no font for Chinese text by itself (Debian 12's finds one through fontconfig) and
# drew the boxes' text as empty squares: SimSun, which Wine links to for it, stands for the one that is here.
SETTINGS = ["set", "HKCU", b"Software\\Wine\\X11 Driver".hex(), b"Managed".hex(), "1", b"N\0".hex(),
            "set", "HKCU", b"Software\\Wine\\Fonts\\Replacements".hex(), b"SimSun".hex(), "1",
            b"WenQuanYi Micro Hei\0".hex()]
# This Wine does not find Marlett, the font of the caption buttons, in its own folder and draws the close
# button as a plain "r"; a copy in the prefix's Fonts folder is found.
MARLETT = Path("/usr/share/wine/fonts/marlett.ttf")


def start_server(env, log):
    """The server first, alone: without -f it returns once it listens. A program started beside a server
    that is still starting races it to make the prefix's server folder (Debian's Wine names it in a file in
    the prefix, written by whichever comes first) and may lose: "chdir to /tmp/wine-…: No such file", or a
    second server that nothing stops."""
    subprocess.run([str(WINESERVER), "-p"], env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log, check=True,
                   timeout=60)


def end_server(env):
    """-k ends the programs of the prefix and then its server, which saves the registry; -w waits until the
    server has gone."""
    for option in ("-k", "-w"):
        subprocess.run([str(WINESERVER), option], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=10, check=False)


def prefix_template(helpers, state, state_file, log):
    """The prefix that a session copies, made once for this Wine, WoW64 folder and settings and kept under
    the build folder: a copy takes a moment, Wine's own init of a new prefix seconds. The copy is as fresh
    as a prefix just made; nothing ever runs in the template itself."""
    version = wow64.wine_version() or "none"
    key = hashlib.sha256(repr((SETTINGS, MARLETT.exists())).encode()).hexdigest()[:12]
    template = TEMPLATES / f"wine-{version}-{'wow64' if state['wow64'] else 'x64'}-{key}"
    if (template / "system.reg").is_file():
        return template
    TEMPLATES.mkdir(parents=True, exist_ok=True)
    # One maker at a time: a session beside (the road beside the Wine suite) waits for the other's, which
    # its own timeouts bound, and then copies it.
    with open(TEMPLATES / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (template / "system.reg").is_file():
            make_template(template, version, key, helpers, state, state_file, log)
    return template


def make_template(template, version, key, helpers, state, state_file, log):
    """Makes the template, under the lock: in a folder of its own, named when it is whole."""
    # what a maker that was cut short left, and the templates of another Wine or other settings (not the
    # other flavour of these, which a session beside may use)
    for old in TEMPLATES.iterdir():
        if old.name.startswith(".making-") or old.name.startswith("wine-") and not (
                old.name.startswith(f"wine-{version}-") and old.name.endswith(key)):
            shutil.rmtree(old, ignore_errors=True)
    making = Path(tempfile.mkdtemp(dir=TEMPLATES, prefix=".making-")) / "prefix"
    making.mkdir()
    # recorded first: a stop then ends the maker's Wine too
    state["making"] = str(making)
    state_file.write_text(json.dumps(state))
    env = dict(wine_environment(state), WINEPREFIX=str(making))
    start_server(env, log)
    # The first program of a new prefix makes it: Wine runs `wineboot --init` itself and lets the program
    # begin only when the prefix is ready.
    subprocess.run([str(WINE64), str(helpers / "registry_tool.exe"), *SETTINGS],
                   env=dict(env, WINEDLLOVERRIDES="mscoree,mshtml="), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                   check=True, timeout=180)
    if MARLETT.exists():
        shutil.copy(MARLETT, making / "drive_c" / "windows" / "Fonts")
    end_server(env)
    remove_server_folder(making)
    (making / "wineserver").unlink(missing_ok=True)  # names this prefix's server folder, which a copy must not use
    making.rename(template)
    shutil.rmtree(making.parent, ignore_errors=True)
    del state["making"]
    state_file.write_text(json.dumps(state))


def remove_server_folder(prefix):
    """The server leaves its lock file behind, in a folder named after the prefix's device and inode."""
    if not prefix.exists():
        return
    info = prefix.stat()
    for folder in SERVER_TEMP.glob(f"wine-*/server-{info.st_dev:x}-{info.st_ino:x}"):
        shutil.rmtree(folder, ignore_errors=True)
        if not any(folder.parent.iterdir()):
            folder.parent.rmdir()


def stop(work, say=print):
    state_file = work / "session.json"
    if not state_file.exists():
        say("no Wine session to stop")
        return 0
    state = json.loads(state_file.read_text())
    # The session's prefix, and a template's that was being made. Each step runs even when one before it
    # failed or timed out; session.json stays then, for the next start to try again.
    prefixes = [state["prefix"], *([state["making"]] if "making" in state else [])]
    try:
        for prefix in prefixes:
            end_server(dict(wine_environment(state), WINEPREFIX=prefix))
    finally:
        try:
            for prefix in prefixes:
                remove_server_folder(Path(prefix))
        finally:
            if "xvfb" in state:
                end_xvfb(*state["xvfb"])
    state_file.unlink()
    say(f"stopped the Wine session on display {state['display']}")
    return 0


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("start", "stop"):
        print(__doc__)
        return 2
    work, helpers = Path(sys.argv[2]), Path(sys.argv[3])
    if sys.argv[1] == "stop":
        return stop(work)
    work.mkdir(parents=True, exist_ok=True)
    return start(work, helpers)


if __name__ == "__main__":
    sys.exit(main())
