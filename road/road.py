"""The road a user walks with clipindex, walked here under Wine and Chromium:

  1. install: clipindex.exe starts without arguments and the install question is answered Yes; the
     shipped 32-bit file where this machine runs 32-bit code, else the 64-bit build of the same sources
  2. registry: the two entries the install wrote, as a user would read them
  3. page: the page that the menu entry names, read through its res: address from the executable,
     runs in the browser on a page that embeds Flash movies; the first movie is clicked and plays
  4. uninstall: the uninstall entry's command runs as the programs list runs it, answered Yes

Each step prints what it found; the first step that fails stops the road with exit code 1.
Called by ./run (scripts/python road/road.py), after the setup and the builds; ./run --help tells the
options.
"""
import argparse
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

from cliptools import node_version, wine_session, wow64

ROOT = Path(__file__).resolve().parents[1]

STEPS = 4
CHROMIUM = "/usr/bin/chromium"
# the helper programs of build/win64 that the road and its Wine session start
HELPER_PROGRAMS = ("run_clipindex.exe", "registry_tool.exe", "read_res_url.exe", "hold_desktop.exe")
NPM_PACKAGES = ("playwright-core", "@ruffle-rs/ruffle")


class RoadFailed(Exception):
    pass


class Interrupted(BaseException):
    """A signal that stops the road: not an Exception, so that no step's own `except Exception` takes it."""


# the signals that stop the road, as its last line names them
STOP_SIGNALS = {signal.SIGINT: "Ctrl-C", signal.SIGTERM: "SIGTERM", signal.SIGHUP: "SIGHUP"}
# the signal that stops the road, and whether it is held (while the Wine session starts)
STOP = {"came": None, "held": False}


class HelpFormatter(argparse.RawDescriptionHelpFormatter):
    """Wraps option help at blanks only, so a long default folder is never cut inside a name."""

    def _split_lines(self, text, width):
        return textwrap.wrap(" ".join(text.split()), width, break_long_words=False, break_on_hyphens=False)


def arguments():
    parser = argparse.ArgumentParser(prog="./run", description="\n\n".join(__doc__.split("\n\n")[:2]),
                                     epilog="Before the road, ./run installs what is missing (scripts/setup) and "
                                            "builds build/win32 and build/win64.",
                                     formatter_class=HelpFormatter, allow_abbrev=False)
    parser.add_argument("--interactive", action="store_true",
                        help="show the boxes on your own display ($DISPLAY) and leave the answers to you")
    parser.add_argument("--keep", action="store_true",
                        help="keep the Wine prefix afterwards, to look around in it (in the pictures' folder)")
    parser.add_argument("--out", type=Path, default=ROOT / "build" / "road", metavar="DIR",
                        help="folder for the pictures (default: %(default)s)")
    # where the builds are, for a test that walks the road: the 64-bit build with the Wine helpers
    # (the one the road runs) and the shipped 32-bit build (the one it points to at the end)
    build = Path(os.environ.get("CLIPINDEX_BUILD", ROOT / "build"))
    parser.add_argument("--win64", type=Path, default=build / "win64", help=argparse.SUPPRESS)
    parser.add_argument("--win32", type=Path, default=build / "win32", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.interactive and not os.environ.get("DISPLAY"):
        parser.error("--interactive needs a display: set DISPLAY, or leave --interactive out")
    return args


def say(text):
    print(text, flush=True)


def registry_lines(root_name, path, key):
    lines = [f"      {root_name}\\{path}"]
    for name, (value_type, _, data) in sorted(key.values.items()):
        shown = data.rstrip(b"\0").decode("gbk") if value_type == 1 else data.hex()
        lines.append(f"        {name.decode('gbk') or '(默认)'}  {'REG_SZ' if value_type == 1 else value_type}  {shown}")
    return lines


def page_shown(browser):
    """What road/page.js printed as its last line: the sample page, its movies, the frame's address and the
    movie Ruffle plays there."""
    lines = browser.stdout.strip().splitlines()
    try:
        shown = json.loads(lines[-1]) if lines else None
    except ValueError:
        shown = None
    if not isinstance(shown, dict) or not {"sample", "movies", "frameUrl", "movie"} <= shown.keys():
        raise RoadFailed("the browser printed no account of the page: " + (browser.stdout.strip()[-400:] or "nothing"))
    if not shown["movies"]:
        raise RoadFailed(f"the page listed no movie on {shown['sample']}")
    return shown


def start_wine(work, helpers, display):
    """A stop that comes while the session starts is held until it has started, and then stops the road: a
    Wine program still starting as the session stops would find no server and start one that stays."""
    STOP["held"] = True
    try:
        started = wine_session.start(work, helpers, display=display)
    except Exception as failure:  # Xvfb or wineboot did not come up: say what, with the end of their log
        log = (work / "session.log").read_text(errors="replace")[-1500:] if (work / "session.log").exists() else ""
        raise RoadFailed(f"Wine did not start: {failure}\n{log}") from failure
    finally:
        STOP["held"] = False
    if STOP["came"]:
        raise Interrupted()
    if started != 0:
        raise RoadFailed("Wine or Xvfb is not installed (scripts/setup installs them)")


def missing_parts(args, helpers):
    """What the road needs besides Wine's prefix, each missing part with how to get it: found in a
    moment, before a prefix takes its seconds to make."""
    missing = []
    try:
        # once for the road, before its prefix: it takes pictures, so it runs the build whose windows are drawn
        decision = wow64.decision().drawing()
    except wow64.NoDecision as failure:
        return [f"no decision on which clipindex.exe runs under Wine: {failure}"]
    os.environ[wow64.VARIABLE] = str(decision)
    built = [args.win64 / "clipindex.exe", args.win32 / "clipindex.exe"]
    built += [helpers / name for name in HELPER_PROGRAMS]
    absent = [str(path) for path in built if not path.is_file()]
    if absent:
        missing.append("not built (scripts/build win32 win64): " + ", ".join(absent))
    tools = wine_session.missing_tools(decision)
    tools += [tool for tool, found in (("node", shutil.which("node")), ("chromium", Path(CHROMIUM).exists()))
              if not found]
    if tools:
        missing.append("not installed (scripts/setup road): " + ", ".join(tools))
    too_old = node_version.problem()
    if too_old:
        missing.append(too_old)
    packages = [name for name in NPM_PACKAGES if not (ROOT / "node_modules" / name / "package.json").is_file()]
    if packages:
        missing.append("npm packages not installed (scripts/setup road installs them): " + ", ".join(packages))
    return missing


def walk(args, work, helpers, progress):
    """The road's steps, each noted in progress["step"] as it starts; returns the pictures it took."""
    # once the road's folder and programs are in the environment, which the driver reads as it loads
    from cliptools import wine as w  # pylint: disable=import-outside-toplevel

    pictures = {}
    args.out.mkdir(parents=True, exist_ok=True)
    if not w.SHIPPED_RUNS:
        say(f"{w.DECISION.why}; the keys shown are where a 64-bit program writes them")
    progress["step"] = "Wine"
    say(f"[0/{STEPS}] Wine: a fresh prefix in {work / 'prefix'}"
        + ("" if args.interactive else ", on a virtual display"))
    start_wine(work, helpers, os.environ["DISPLAY"] if args.interactive else None)
    answer = (lambda *answers: ["user"] * len(answers)) if args.interactive else (lambda *answers: list(answers))
    picture_dir = "C:\\road"
    w.prefix_file(picture_dir).mkdir(parents=True, exist_ok=True)

    def keep_picture(windows_path, name):
        if w.prefix_file(windows_path).exists():
            png = args.out / name
            w.ppm_to_png(w.prefix_file(windows_path), png)
            pictures[name] = png

    progress["step"] = "install"
    # where a 64-bit Windows keeps 32-bit programs, and 64-bit ones
    exe = w.place_exe("C:\\Program Files (x86)\\Clip Index" if w.SHIPPED_RUNS else "C:\\Program Files\\Clip Index")
    say(f"[1/{STEPS}] install: starting {exe} with no arguments"
        + (" (answer the boxes on your display)" if args.interactive else ""))
    run = w.run_clipindex(b"clipindex.exe", answer("yes", "ok"), application=w.gbk(exe), timeout=660,
                          picture=None if args.interactive else picture_dir + "\\install-question.ppm")
    for box in run.boxes:
        say(f"      box {box.caption.decode('gbk')}: {box.text.decode('gbk')}")
    if run.exit_code != 0:
        raise RoadFailed(f"clipindex.exe ended with {run.exit_code}:\n{run.report}")
    if [b.text for b in run.boxes] != [w.INSTALL_QUESTION.text, w.INSTALL_DONE.text]:
        raise RoadFailed("the install did not end with the completion message")
    keep_picture(picture_dir + "\\install-question.ppm", "install-question.png")
    say("      answered Yes; exit code 0")

    progress["step"] = "registry"
    say(f"[2/{STEPS}] registry: what the install wrote")
    menu, uninstall = w.read_keys(w.MENU_KEY, w.UNINSTALL_KEY)
    if menu is None or uninstall is None:
        raise RoadFailed("an entry is missing: menu entry " + ("found" if menu else "missing")
                         + ", uninstall entry " + ("found" if uninstall else "missing"))
    for line in (registry_lines("HKEY_CURRENT_USER", w.MENU_KEY[1], menu)
                 + registry_lines("HKEY_LOCAL_MACHINE", w.UNINSTALL_KEY[1], uninstall)):
        say(line)
    if w.SHIPPED_RUNS:
        say("      (WOW6432Node: a 64-bit Windows keeps there what a 32-bit program writes under HKEY_LOCAL_MACHINE"
            "\\Software; HKEY_CURRENT_USER\\Software is one for both)")

    progress["step"] = "page"
    address = menu.values.get(b"", (0, 0, b""))[2].rstrip(b"\0")
    say(f"[3/{STEPS}] page: {address.decode('gbk')}")
    page = w.read_res_url(address)
    if page is None:
        raise RoadFailed("the address does not resolve through the res: protocol")
    page_file = work / "page-from-exe.htm"
    page_file.write_bytes(page)
    say(f"      the res: protocol gives {len(page)} bytes from the executable's resource")
    browser = subprocess.run(["node", str(ROOT / "road" / "page.js"), str(page_file), str(args.out / "page.png")],
                             capture_output=True, text=True, timeout=120, check=False)
    if browser.returncode != 0:
        raise RoadFailed(f"the page did not run in chromium: {browser.stderr.strip()}")
    shown = page_shown(browser)
    say(f"      on {shown['sample']} it lists {len(shown['movies'])} movies: "
        + ", ".join(movie["name"] for movie in shown["movies"]))
    say(f"      clicked {shown['movies'][0]['name']}: the frame plays {shown['frameUrl']}")
    if shown["frameUrl"] != shown["movies"][0]["href"]:
        raise RoadFailed("the frame did not load the movie that was clicked")
    movie = shown["movie"]
    say(f"      Ruffle plays it: {movie['width']} x {movie['height']}, {movie['frames']} frames at "
        f"{movie['frameRate']} fps, moving")
    pictures["page.png"] = args.out / "page.png"

    progress["step"] = "uninstall"
    command = uninstall.values.get(b"UninstallString", (0, 0, b""))[2].rstrip(b"\0")
    say(f"[4/{STEPS}] uninstall: running {command.decode('gbk')} as the programs list does")
    run = w.run_clipindex(command, answer("yes", "ok"), timeout=660,
                          pictures=None if args.interactive else {2: picture_dir + "\\uninstall-done.ppm"})
    for box in run.boxes:
        say(f"      box {box.caption.decode('gbk')}: {box.text.decode('gbk')}")
    if run.exit_code != 0 or [b.text for b in run.boxes] != [w.UNINSTALL_QUESTION.text, w.UNINSTALL_DONE.text]:
        raise RoadFailed(f"the uninstall did not end with its completion message:\n{run.report}")
    keep_picture(picture_dir + "\\uninstall-done.ppm", "uninstall-done.png")
    menu, uninstall = w.read_keys(w.MENU_KEY, w.UNINSTALL_KEY)
    if menu is not None or uninstall is not None:
        raise RoadFailed("a key is still there after the uninstall")
    say("      both keys are gone")
    return pictures


def stop(work, keep):
    """Stops the road's Wine session and removes its folder, each step even when the one before it failed;
    returns what failed. (./run's namespaces end whatever is left of the road, however it ends.)"""
    failures = []
    for what, step in (("stopping the Wine session", lambda: wine_session.stop(work, say=lambda _: None)),
                       (f"removing {work}", lambda: keep or shutil.rmtree(work))):
        try:
            step()
        except Exception as failure:  # said at the end; the next step runs all the same
            failures.append(f"{what}: {type(failure).__name__}: {failure}")
    return failures


def end_by(number):
    """Ends this process by the signal, as its default action would have: a caller then sees a death by
    Ctrl-C, not an exit code, and a shell's loop around ./run stops too."""
    sys.stdout.flush()
    sys.stderr.flush()
    signal.signal(number, signal.SIG_DFL)
    os.kill(os.getpid(), number)


def main():
    # The first of these signals stops the road where it is, and the stop then ends all it started; one
    # that comes during the stop is noted, never let cut it short, and the road ends by the first.
    caught, stopping = [], []

    def interrupt(number, _frame):
        caught.append(number)
        STOP["came"] = STOP["came"] or number
        if len(caught) == 1 and not stopping and not STOP["held"]:
            raise Interrupted()

    for number in STOP_SIGNALS:
        signal.signal(number, interrupt)
    progress = {"step": "check"}
    work = None
    try:
        args = arguments()
        exe64 = args.win64 / "clipindex.exe"
        helpers = args.win64 / "tests" / "wine" / "helpers"
        missing = missing_parts(args, helpers)
        if missing:
            print("road stopped at the check step: " + "; ".join(missing), file=sys.stderr)
            return 1
        started = time.monotonic()
        # A kept prefix outlives the run, so it is not put in the run's temp folder, which goes with it.
        if args.keep:
            work = args.out / "wine"
            shutil.rmtree(work, ignore_errors=True)
            work.mkdir(parents=True)
        else:
            work = Path(tempfile.mkdtemp(prefix="clipindex-road-"))
        # Every process the road starts writes its temp files into its folder.
        os.environ.update(TMPDIR=str(work), CLIPINDEX_WINE_WORK=str(work), CLIPINDEX_EXE=str(exe64),
                          CLIPINDEX_SHIPPED_EXE=str(args.win32 / "clipindex.exe"),
                          CLIPINDEX_WINE_HELPERS=str(helpers))
        pictures = walk(args, work, helpers, progress)
        failed = None
    except Interrupted:
        failed = None  # said below, once the stop is done
    except RoadFailed as failure:
        failed = str(failure)
    except Exception as failure:  # a helper's output the road did not expect, a timeout, a missing file...
        failed = f"{type(failure).__name__}: {failure}"
    finally:
        stopping.append(True)
        failures = stop(work, args.keep) if work else []
    if caught:
        if failures:
            ended = "could not end all it started: " + "; ".join(failures)
        else:
            ended = "the Wine session is stopped" if work else "it had started nothing yet"
        print(f"road stopped at the {progress['step']} step by {STOP_SIGNALS[caught[0]]}; {ended}", file=sys.stderr)
        end_by(caught[0])
        return 128 + caught[0]  # not reached: the signal has ended the process
    if args.keep:
        say(f"kept the Wine prefix: WINEPREFIX={work / 'prefix'}")
    for failure in failures:
        print(f"could not end all the road started: {failure}", file=sys.stderr)
    if failed:
        print(f"road stopped at the {progress['step']} step: {failed}", file=sys.stderr)
    if failed or failures:
        return 1

    say(f"done in {time.monotonic() - started:.0f} s. Pictures:")
    for name, path in pictures.items():
        say(f"      {path}")
    shipped = args.win32 / "clipindex.exe"
    say(f"clipindex.exe for Windows (32-bit, the one to ship): {shipped}")
    # for a user to compare a copy they were given (on Windows: certutil -hashfile clipindex.exe SHA256)
    say(f"      SHA-256 {hashlib.sha256(shipped.read_bytes()).hexdigest()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
