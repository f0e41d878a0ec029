#!/usr/bin/env python3
"""Walks the road (road/road.py) as ./run does after its builds, and checks what a newcomer is promised:
exit code 0, a line for each of the four steps, and the three pictures as real PNG files of a sensible
size; and that the ways it can stop early say so in a line, without a Python traceback.
usage: check_road.py WIN64_BUILD WIN32_BUILD OUT_DIR"""
import contextlib
import hashlib
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from cliptools import wine_session

ROOT = Path(__file__).resolve().parents[2]
# picture: the smallest and largest width and height it may have. A box's size comes from the program's
# text; the page's picture is as large as the window the road chose, so only its being a PNG is checked.
PICTURES = {
    "install-question.png": ((150, 60), (1024, 768)),
    "page.png": None,
    "uninstall-done.png": ((100, 60), (1024, 768)),
}


# what a stop before the road takes at most, on a busy machine: no setup, no build, no Wine
EARLY_STOP_SECONDS = 10
ROAD_TEMP = ("clipindex-road-*", "clipindex-run-*", "wine-*", ".X*-lock", ".X11-unix/X*")


def png_size(path):
    data = path.read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def early_stops(win64, win32):
    """Each way out before the road's end, and the decision of which build it runs: (what, command, environment
    changes, exit code, words of the message). Each is said within seconds, before any Wine prefix is made.

    A None in the changes removes that variable; the words are looked for with blanks and line ends taken as one."""
    empty_build = tempfile.mkdtemp(prefix="clipindex-no-build-")
    old_node = Path(empty_build, "node")  # what Debian 11's node says of itself
    # and, where the case asks, stops the road with a signal while its check step asks it
    old_node.write_text('#!/bin/sh\n[ -z "$STOP_ROAD" ] || kill -"$STOP_ROAD" $PPID\necho v12.22.12\n')
    old_node.chmod(0o755)
    # an apt-get whose package lists take long: a stop comes meanwhile, to the WoW64 folder's download
    Path(empty_build, "apt-get").write_text('#!/bin/sh\ncase "$*" in *" update") echo $$ >"$CLIPINDEX_BUILD/apt";'
                                            ' kill -INT $PPID; exec sleep 30 ;; esac\n')
    Path(empty_build, "apt-get").chmod(0o755)
    # a registry whose Ruffle is not the pinned one
    ruffle = "@ruffle-rs/ruffle/-/ruffle-{}.tgz".format(json.loads((ROOT / "package-lock.json").read_text())[
        "packages"]["node_modules/@ruffle-rs/ruffle"]["version"])
    Path(empty_build, ruffle).parent.mkdir(parents=True)
    Path(empty_build, ruffle).write_text("not Ruffle")
    road = [sys.executable, str(ROOT / "road" / "road.py"), "--win32", win32, "--out", empty_build]
    wow64 = [sys.executable, "-m", "cliptools.wow64"]
    cases = [
        # a narrow terminal wraps the help; the folder must still show whole, however long the checkout's path
        ("--help names the default folder", [str(ROOT / "run"), "--help"], {"COLUMNS": "30"}, 0,
         f"(default: {ROOT / 'build' / 'road'})"),
        # said before any setup or build: at once
        ("--interactive without a display", [str(ROOT / "run"), "--interactive"], {"DISPLAY": None}, 2,
         "needs a display"),
        ("the road alone, --interactive without a display", road + ["--interactive"], {"DISPLAY": None}, 2,
         "needs a display"),
        ("no helper programs for Wine", road + ["--win64", empty_build], {}, 1,
         f"road stopped at the check step: not built (scripts/build win32 win64): {empty_build}/clipindex.exe"),
        ("a node older than playwright-core needs", road + ["--win64", win64],
         {"PATH": empty_build + os.pathsep + os.environ["PATH"]}, 1,
         "road stopped at the check step: Node.js v12.22.12 is too old"),
        # ended by the signal itself (a negative code here), so that a caller's loop stops too
        ("SIGTERM at the check step", road + ["--win64", win64],
         {"PATH": empty_build + os.pathsep + os.environ["PATH"], "STOP_ROAD": "TERM"}, -signal.SIGTERM,
         "road stopped at the check step by SIGTERM; it had started nothing yet"),
        # which build runs where, from the two facts: whether 32-bit code runs, and the Wine
        ("Debian 12 that runs 32-bit code", wow64 + ["decide", "runs", "8.0~repack-4"], {}, 0,
         "shipped-undrawn this machine runs 32-bit code, but Wine 8.0 does not draw a 32-bit program's windows"),
        ("Debian 13 that runs 32-bit code", wow64 + ["decide", "runs", "10.0~repack-6"], {}, 0,
         "shipped this machine runs 32-bit code, and Wine 10.0 draws a 32-bit program's windows"),
        ("a Wine never measured", wow64 + ["decide", "runs", "1:9.0-1"], {}, 0, "shipped-undrawn this machine runs "
         "32-bit code, but Wine 9.0 was never measured here, so it is taken as one that does not draw"),
        ("a decision that a crash passed on", road + ["--win64", win64], {"CLIPINDEX_WOW64_DECISION": "Killed"}, 1,
         "road stopped at the check step: no decision on which clipindex.exe runs under Wine"),
        ("CLIPINDEX_WOW64=off over one passed on",
         [sys.executable, "-c", "from cliptools import wow64; print(wow64.decision())"],
         {"CLIPINDEX_WOW64": "off", "CLIPINDEX_WOW64_DECISION": "shipped x"}, 0,
         "64-bit the 64-bit build stands in for the shipped 32-bit clipindex.exe: CLIPINDEX_WOW64=off"),
        ("Ctrl-C during the WoW64 folder's download", ["sh", "-c", " ".join(wow64) + ' make-folder; echo "ended with '
         '$?, left: $(ls -A "$CLIPINDEX_BUILD/wow64") $(cat /proc/$(cat "$CLIPINDEX_BUILD/apt")/cmdline)(end)"'],
         {"PATH": empty_build + os.pathsep + os.environ["PATH"], "CLIPINDEX_BUILD": empty_build}, 0,
         "ended with 130, left: (end)"),
        ("an npm package that is not the pinned one", [sys.executable, "-m", "cliptools.npm_packages"],
         {"npm_config_registry": f"file://{empty_build}"}, 1,
         f"@ruffle-rs/ruffle: file://{empty_build}/{ruffle} is not the package that package-lock.json pins"),
    ]
    failures = []
    for what, command, changes, code, words in cases:
        env = {**os.environ, **changes}
        env = {name: value for name, value in env.items() if value is not None}
        started = time.monotonic()
        ran = subprocess.run(command, capture_output=True, text=True, timeout=60, check=False, env=env)
        seconds = time.monotonic() - started
        said = ran.stdout + ran.stderr
        if ran.returncode != code or " ".join(words.split()) not in " ".join(said.split()) or "Traceback" in said:
            failures.append(f"{what}: exit code {ran.returncode} (want {code}), want {words!r} and no traceback in:\n"
                            + said)
        if seconds > EARLY_STOP_SECONDS:
            failures.append(f"{what}: took {seconds:.1f} s, more than {EARLY_STOP_SECONDS} s")
        if "a fresh prefix" in said:
            failures.append(f"{what}: made a Wine prefix before it stopped:\n" + said)
    shutil.rmtree(empty_build, ignore_errors=True)
    return failures


def left_of_a_run(namespaces_before, temp_before=frozenset(), mark=None):
    """The processes of each PID namespace not in `namespaces_before`, and of the others those whose environment
    holds `mark`; what of a road's temp files is new in /tmp."""
    found = {}
    for entry in Path("/proc").glob("[0-9]*"):
        with contextlib.suppress(OSError):  # gone meanwhile
            namespace = os.readlink(entry / "ns" / "pid")
            if namespace not in namespaces_before or mark and mark in (entry / "environ").read_bytes():
                found.setdefault(namespace, []).append(entry.name)
    temp = {str(path) for pattern in ROAD_TEMP for path in Path("/tmp").glob(pattern)}
    return found, sorted(temp - temp_before)


def stopped_runs(build, out):
    """./run stopped as soon as its road's Wine session is up: by SIGKILL, which no trap takes, where a run has namespaces
    (a PID namespace and a /tmp of its own); by Ctrl-C to its process group in a container without CAP_SYS_ADMIN,
    as root, where it has none. Within 10 s nothing of it is left."""
    namespaces = os.environ.get("CLIPINDEX_NAMESPACES") or subprocess.run(  # outside ./test: found as ./test does
        ["bash", "-c", '. "$0" && find_namespaces 2>/dev/null && echo "$CLIPINDEX_NAMESPACES"', ROOT / "scripts" / "stops.sh"],
        capture_output=True, text=True, check=False).stdout.strip()
    xvfb, display = wine_session.start_xvfb(subprocess.DEVNULL, os.environ)
    failures = []
    try:
        # what, the command's prefix, the stop, the exit code and words it then gives, whether it runs here
        for what, prefix, stop, code, words, runs_here in [
                ("SIGKILL of ./run", [], lambda run: run.kill(), -signal.SIGKILL, "", namespaces == "full"),
                ("Ctrl-C, in a container", ["setpriv", "--bounding-set", "-sys_admin", "--inh-caps", "-sys_admin"],
                 lambda run: os.killpg(run.pid, signal.SIGINT), -signal.SIGINT, "run: no namespaces here (a container "
                 "without CAP_SYS_ADMIN): a Ctrl-C, SIGTERM or SIGHUP still ends all it starts", os.geteuid() == 0)]:
            if not runs_here:
                print(f"{what}: not checked here, where a run has {namespaces} namespaces, as user {os.geteuid()}")
                continue
            before, temp = left_of_a_run(())
            mark = f"CLIPINDEX_STOP_CASE={time.monotonic_ns()}"
            with subprocess.Popen(prefix + [str(ROOT / "run"), "--interactive", "--out", out], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, start_new_session=True,
                                  env={**os.environ, "CLIPINDEX_BUILD": build, "DISPLAY": display,
                                       mark.split("=")[0]: mark.split("=")[1]}) as run:
                said, deadline = b"", time.monotonic() + 120
                up = b"Wine session on display"
                while up not in said and (line := wine_session.read_line(run.stdout, deadline - time.monotonic())):
                    said += line
                stop(run)
                said += run.communicate(timeout=60)[0]
            if up not in said or run.returncode != code or words.encode() not in said:
                failures.append(f"{what}: exit code {run.returncode} (want {code}), want {up!r}, {words!r} in {said!r}")
            deadline = time.monotonic() + 10
            while any(left := left_of_a_run(before, set(temp), mark.encode())) and time.monotonic() < deadline:
                time.sleep(0.1)  # polls for the event: what the run started gone
            failures += [f"{what}: left after 10 s (processes, in /tmp): {left}"] if any(left) else []
    finally:
        xvfb.terminate()
    return failures


def main():
    signal.signal(signal.SIGTERM, signal.default_int_handler)  # a stop's SIGTERM ends what the test started
    win64, win32, out = sys.argv[1], sys.argv[2], Path(sys.argv[3])
    for name in PICTURES:
        (out / name).unlink(missing_ok=True)
    with subprocess.Popen([sys.executable, str(ROOT / "road" / "road.py"), "--win64", win64, "--win32", win32,
                           "--out", str(out)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as road:
        try:
            said = road.communicate(timeout=240)
        except subprocess.TimeoutExpired:  # SIGTERM, not a kill: the road then stops all it started
            road.terminate()
            said = road.communicate(timeout=60)
    road = subprocess.CompletedProcess(road.args, road.returncode, *said)
    print(road.stdout + road.stderr)
    failures = []
    if road.returncode != 0:
        failures.append(f"the road ended with exit code {road.returncode}")
    for step in range(1, 5):
        if f"[{step}/4]" not in road.stdout:
            failures.append(f"no line for step {step}")
    if "both keys are gone" not in road.stdout:
        failures.append("the road did not show both keys gone")
    if f"SHA-256 {hashlib.sha256(Path(win32, 'clipindex.exe').read_bytes()).hexdigest()}" not in road.stdout:
        failures.append("the road did not give the shipped file's SHA-256")
    for name, bounds in PICTURES.items():
        size = png_size(out / name) if (out / name).exists() else None
        if size is None:
            failures.append(f"{name}: no PNG picture")
        elif bounds and not all(low <= got <= high for low, got, high in zip(bounds[0], size, bounds[1])):
            failures.append(f"{name}: {size[0]} x {size[1]}, want between {bounds[0]} and {bounds[1]}")
        elif str(out / name) not in road.stdout:
            failures.append(f"{name}: the road did not say where it is")
    failures += early_stops(win64, win32)
    failures += stopped_runs(str(Path(win64).parent), str(out / "stopped-run"))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
