#!/usr/bin/env python3
"""The Wine session that the tests of one CTest run share: an Xvfb display, a fresh Wine prefix made
with `wineboot -i`, its wineserver kept running for the whole run, and a program that keeps Wine's
desktop open. `start` makes it and writes what the tests need to know to session.json; `stop` ends the
processes it started, by their process ids.

usage: session.py start|stop WORK_DIR HELPERS_DIR
"""
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

WINE64 = Path("/usr/lib/wine/wine64")
WINESERVER = Path("/usr/lib/wine/wineserver")
SKIP = 77


def missing_tools():
    """What the suite cannot do without; CTest reports the tests as skipped when one is missing."""
    missing = [str(tool) for tool in (WINE64, WINESERVER) if not tool.exists()]
    if shutil.which("Xvfb") is None:
        missing.append("Xvfb")
    return missing


def wine_environment(prefix, display):
    """Code page 936 through the locale, and no debug output."""
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), DISPLAY=display, LC_ALL="zh_CN.UTF-8", WINEDEBUG="-all")
    return env


def start_xvfb(log):
    """Xvfb picks a free display itself and writes its number to the pipe (-displayfd)."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=[write_end],
                            start_new_session=True)
    os.close(write_end)
    # Read to the end of the line: closing the pipe while Xvfb still writes to it makes Xvfb give up.
    written = b""
    deadline = time.monotonic() + 30
    while not written.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(read_end, 64) if ready else b""
        if not chunk:
            break
        written += chunk
    os.close(read_end)
    number = written.decode().strip()
    if not number:
        xvfb.kill()
        raise RuntimeError("Xvfb did not report a display within 30 s")
    return xvfb, ":" + number


def start(work, helpers, display=None):
    """Makes the session; on `display` when given (a person's own screen), else on an Xvfb of its own."""
    if missing_tools():
        print("SKIP: Wine tests need " + ", ".join(missing_tools()) + " (scripts/setup installs them)")
        return SKIP
    state_file = work / "session.json"
    if state_file.exists():
        stop(work)  # a run that was cut short left its session behind
    prefix = work / "prefix"
    shutil.rmtree(prefix, ignore_errors=True)
    prefix.mkdir(parents=True)
    log = open(work / "session.log", "w")

    xvfb = None
    if display is None:
        xvfb, display = start_xvfb(log)
    env = wine_environment(prefix, display)
    # -p: the server stays up between runs, so volatile keys live for the whole test run.
    server = subprocess.Popen([str(WINESERVER), "-f", "-p"], env=env, stdin=subprocess.DEVNULL, stdout=log,
                              stderr=log, start_new_session=True)
    state = {"display": display, "prefix": str(prefix), "xvfb": xvfb and xvfb.pid, "wineserver": server.pid}
    # A wine64 started before this server listens finds the prefix's lock taken and waits for it.
    state_file.write_text(json.dumps(state))
    started = time.monotonic()
    # No offer to install Mono or Gecko while the prefix is made. Only then: the res: protocol that the
    # page address goes through lives in mshtml, and a disabled mshtml refuses it.
    subprocess.run([str(WINE64), "wineboot", "-i"], env=dict(env, WINEDLLOVERRIDES="mscoree,mshtml="),
                   stdin=subprocess.DEVNULL, stdout=log, stderr=log, check=True, timeout=180)
    # Without a window manager on the display, Wine waits for one on every box it hides; windows that
    # Wine manages itself close at once and carry their caption in the pictures.
    subprocess.run([str(WINE64), str(helpers / "registry_tool.exe"), "set", "HKCU",
                    b"Software\\Wine\\X11 Driver".hex(), b"Managed".hex(), "1", b"N\0".hex()],
                   env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log, check=True, timeout=60)
    # This Wine does not find Marlett, the font of the caption buttons, in its own folder and draws the
    # close button as a plain "r"; a copy in the prefix's Fonts folder is found.
    marlett = Path("/usr/share/wine/fonts/marlett.ttf")
    if marlett.exists():
        shutil.copy(marlett, prefix / "drive_c" / "windows" / "Fonts")
    subprocess.Popen([str(WINE64), str(helpers / "hold_desktop.exe")], env=env, stdin=subprocess.DEVNULL,
                     stdout=log, stderr=log, start_new_session=True)
    print(f"Wine session on display {display}, prefix {prefix} (wineboot took {time.monotonic() - started:.1f} s)")
    return 0


def is_running(pid, name):
    """True when `pid` is still the process that was started (not a later one that reuses the number)."""
    try:
        return name in Path(f"/proc/{pid}/cmdline").read_bytes().decode(errors="replace")
    except OSError:
        return False


def end_process(pid, name, seconds=10):
    if not is_running(pid, name):
        return
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and is_running(pid, name):
        time.sleep(0.05)
    if is_running(pid, name):
        os.kill(pid, signal.SIGKILL)


def remove_server_folder(prefix):
    """The server leaves its lock file behind, in a folder named after the prefix's device and inode."""
    if not prefix.exists():
        return
    info = prefix.stat()
    for folder in Path(tempfile.gettempdir()).glob(f"wine-*/server-{info.st_dev:x}-{info.st_ino:x}"):
        shutil.rmtree(folder, ignore_errors=True)
        if not any(folder.parent.iterdir()):
            folder.parent.rmdir()


def stop(work):
    state_file = work / "session.json"
    if not state_file.exists():
        print("no Wine session to stop")
        return 0
    state = json.loads(state_file.read_text())
    if is_running(state["wineserver"], "wineserver"):
        # -k ends the programs of this prefix (the desktop and the services wineboot started) and then
        # the server itself.
        subprocess.run([str(WINESERVER), "-k"], env=wine_environment(state["prefix"], state["display"]),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    end_process(state["wineserver"], "wineserver")
    if state["xvfb"]:
        end_process(state["xvfb"], "Xvfb")
    remove_server_folder(Path(state["prefix"]))
    state_file.unlink()
    print(f"stopped the Wine session on display {state['display']}")
    return 0


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("start", "stop"):
        print(__doc__)
        return 2
    work, helpers = Path(sys.argv[2]), Path(sys.argv[3])
    work.mkdir(parents=True, exist_ok=True)
    return start(work, helpers) if sys.argv[1] == "start" else stop(work)


if __name__ == "__main__":
    sys.exit(main())
