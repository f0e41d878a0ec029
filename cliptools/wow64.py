"""Which clipindex.exe a run runs under Wine, decided once for the run, and the WoW64 folder that the
shipped 32-bit file needs there.

Two facts about the machine decide it:
- whether it runs 32-bit code in a 64-bit process (scripts/probe_32bit), which is all that the 64-bit
  Wine's WoW64 mode needs to run a 32-bit program, given the 32-bit Windows DLLs: Debian's libwine:i386 of
  the installed Wine's version, downloaded (never installed: apt would remove wine64 for it) and unpacked
  into a folder under build/wow64, made once and reused, given to Wine through WINEDLLPATH;
- whether this Wine draws a 32-bit program's windows, told by its version, as measured: Wine 8.0 (Debian
  12) gives a 32-bit program no working device context, so its boxes stay black though their buttons
  answer; Wine 10.0 (Debian 13) draws them in full. A version never measured here (Wine 9, say) is taken
  as one that does not draw: its pictures then come from the 64-bit build, a weaker check but no false one.

The decision is a word, then why:
  shipped          the road and every Wine test run the shipped file
  shipped-undrawn  the Wine tests run the shipped file, but for what must be drawn (the road, the
                   question's picture, the icons), which the 64-bit build of the same sources shows
  64-bit           the 64-bit build stands in everywhere (this machine refuses 32-bit code, or
                   CLIPINDEX_WOW64=off); the tests of what only the shipped file does skip, saying why
Setup makes it once for a run, after its packages and before the folder, which it makes only where the
shipped file runs, and writes it to build/wow64/decision; ./run and ./test pass it on in
CLIPINDEX_WOW64_DECISION, unless CLIPINDEX_WOW64=off asks for the 64-bit build. Where none was passed on (a
plain ctest, the road alone), the Wine session makes it once and records it.

usage: scripts/python -m cliptools.wow64 COMMAND
  decide        prints this machine's decision (exit 0; 2: it cannot be made, with the reason)
  decide runs|refuses WINE_VERSION
                prints the decision for those two facts, without asking this machine
  prepare       makes the decision and, where the shipped file runs, the folder (setup, as root)
  make-folder   makes the folder for the installed Wine, whatever this machine runs
  dry-run       says what `prepare` would download; downloads only apt's package lists
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

from cliptools.stops import Stopped, end_by, run, stop_by_signals

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("CLIPINDEX_BUILD", ROOT / "build"))
VARIABLE = "CLIPINDEX_WOW64_DECISION"
WINE_UNIX = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-unix")
# Debian 12's 32-bit user32 needs it; libz-mingw-w64, a dependency of Wine, has the i686 one
ZLIB = Path("/usr/i686-w64-mingw32/lib/zlib1.dll")
# Wine's major version: whether it draws a 32-bit program's windows in WoW64 mode, as measured here
DRAWS = {"8": False, "10": True}
STANDS_IN = "the 64-bit build stands in for the shipped 32-bit clipindex.exe: "


class NoDecision(Exception):
    """The probe cannot tell, or a decision passed on is none: an error, with its reason."""


@dataclass(frozen=True)
class Decision:
    kind: str  # shipped, shipped-undrawn or 64-bit
    why: str

    @property
    def shipped_runs(self):
        """Whether the Wine tests run the shipped file (and need the folder)."""
        return self.kind != "64-bit"

    def drawing(self):
        """The decision for what must be drawn: the road and the pictures."""
        return Decision("64-bit", STANDS_IN + self.why) if self.kind == "shipped-undrawn" else self

    def __str__(self):
        return f"{self.kind} {self.why}"


def parse(text):
    """The decision that these words pass on; NoDecision where they are none (empty, a traceback...)."""
    kind, _, why = text.partition(" ")
    if kind not in ("shipped", "shipped-undrawn", "64-bit") or not why.strip():
        raise NoDecision(f"{VARIABLE} holds no decision: {text[:200]!r}")
    return Decision(kind, why)


def probe():
    """(runs, why): what scripts/probe_32bit says; NoDecision when it cannot tell."""
    try:
        probed = subprocess.run([sys.executable, str(ROOT / "scripts" / "probe_32bit")], capture_output=True,
                                text=True, timeout=60, check=False)
    except subprocess.TimeoutExpired as failure:
        raise NoDecision("scripts/probe_32bit did not answer in 60 s") from failure
    said = (probed.stdout + probed.stderr).strip()
    if probed.returncode not in (0, 1):
        raise NoDecision(said or f"scripts/probe_32bit ended with {probed.returncode}")
    return probed.returncode == 0, said


def rule(runs, refused, wine):
    """The decision from the two facts: whether this machine runs 32-bit code (`refused`: what the probe said
    where it does not), and the installed Wine's Debian version ("8.0~repack-4"; None: no Wine)."""
    if not runs:
        return Decision("64-bit", STANDS_IN + refused)
    upstream = re.match(r"(?:\d+:)?((\d+)[.\d]*)", wine or "")
    if upstream and DRAWS.get(upstream[2]):
        return Decision("shipped", f"this machine runs 32-bit code, and Wine {upstream[1]} draws a 32-bit "
                                   f"program's windows")
    if not upstream:
        undrawn = "no Wine is installed to tell whether it draws a 32-bit program's windows"
    elif upstream[2] in DRAWS:
        undrawn = f"Wine {upstream[1]} does not draw a 32-bit program's windows"
    else:
        undrawn = (f"Wine {upstream[1]} was never measured here, so it is taken as one that does not draw a "
                   f"32-bit program's windows")
    return Decision("shipped-undrawn", "this machine runs 32-bit code, but " + undrawn)


def decide():
    """This machine's decision, made now."""
    if os.environ.get("CLIPINDEX_WOW64") == "off":
        return Decision("64-bit", STANDS_IN + "CLIPINDEX_WOW64=off")
    runs, said = probe()
    return rule(runs, said, wine_version())


def decision():
    """This run's decision: the one passed on, unless CLIPINDEX_WOW64=off asks for the 64-bit build; else
    made now, and passed on to the processes that this one starts."""
    passed = os.environ.get(VARIABLE)
    made = parse(passed) if passed and os.environ.get("CLIPINDEX_WOW64") != "off" else decide()
    os.environ[VARIABLE] = str(made)
    return made


def wine_version(candidate=False):
    """The version of Debian's libwine that is installed, or with `candidate` the one apt would install."""
    if not candidate:
        shown = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "libwine:amd64"], capture_output=True,
                               text=True, check=False)
        return shown.stdout.strip() if shown.returncode == 0 else None
    policy = subprocess.run(["apt-cache", "policy", "libwine:amd64"], capture_output=True, text=True, check=False)
    return next((line.split()[1] for line in policy.stdout.splitlines() if line.strip().startswith("Candidate:")),
                None)


def folder(version=None):
    """The WoW64 folder for this Wine, to be given as WINEDLLPATH; None where no Wine is installed."""
    version = version or wine_version()
    return BUILD / "wow64" / f"libwine-i386-{version}" if version else None


def ready(path):
    return path is not None and (path / "i386-windows" / "ntdll.dll").is_file()


def apt_state(state):
    """apt-get with a state of its own under `state`, its i386 package lists of the Debian archives that
    this machine's apt fetches from updated: no effect on the system's own."""
    state.mkdir(parents=True, exist_ok=True)
    (state / "status").touch()
    # one line a list, from apt's own account of what this machine fetches
    listed = set()
    for label in ("Debian", "Debian-Security"):
        targets = subprocess.run(["apt-get", "indextargets", "--format", "deb $(REPO_URI) $(RELEASE) $(COMPONENT)",
                                  f"Label: {label}"], capture_output=True, text=True, check=True).stdout
        listed.update(targets.splitlines())
    (state / "sources.list").write_text("\n".join(sorted(listed - {""})) + "\n")
    apt = ["apt-get", "-qq", "-o", f"Dir::State={state}", "-o", f"Dir::State::status={state / 'status'}",
           "-o", f"Dir::Cache={state / 'cache'}", "-o", f"Dir::Etc::SourceList={state / 'sources.list'}",
           "-o", "Dir::Etc::SourceParts=/dev/null", "-o", "APT::Architectures::=i386", "-o", "Debug::NoLocking=1",
           "-o", "APT::Sandbox::User=root"]
    run(apt + ["update"])
    return apt


def prepare():
    """Makes this run's decision and writes it for ./run and ./test; then, where the shipped file runs,
    the folder, once."""
    made = decide()
    written = BUILD / "wow64" / "decision"
    written.parent.mkdir(parents=True, exist_ok=True)
    written.with_suffix(".new").write_text(str(made) + "\n")
    written.with_suffix(".new").rename(written)
    version = wine_version()
    if made.shipped_runs and not ready(folder(version)):
        make_folder(version)
    return 0


def make_folder(version):
    target = folder(version)
    print(f"setup: the WoW64 folder for Wine {version}: downloading Debian's libwine:i386 {version}", flush=True)
    # another Wine's, or one that a SIGKILL cut short
    for old in [*target.parent.glob("libwine-i386-*"), *target.parent.glob("download-*")]:
        shutil.rmtree(old)
    target.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=target.parent, prefix="download-") as work:
        # its package lists serve this download only, and go with the folder it is made in
        apt = apt_state(Path(work) / "apt")
        run(apt + ["download", f"libwine:i386={version}"], cwd=work)
        (deb,) = Path(work).glob("libwine_*_i386.deb")
        unpacked = Path(work) / "unpacked"
        unpacked.mkdir()
        inside = "usr/lib/i386-linux-gnu/wine/i386-windows"
        run(f"dpkg-deb --fsys-tarfile '{deb}' | tar -x -C '{unpacked}' ./{inside}", shell=True)
        dlls = unpacked / inside
        # a third of the size, and they work as well; a file that is no PE image stays as it is
        try:
            run(["i686-w64-mingw32-strip", *map(str, dlls.iterdir())], stderr=subprocess.DEVNULL)
        except subprocess.CalledProcessError:
            pass
        if ZLIB.is_file() and not (dlls / ZLIB.name).exists():
            shutil.copy(ZLIB, dlls)
        made = Path(work) / "folder"
        made.mkdir()
        dlls.rename(made / "i386-windows")
        # without it a 32-bit program that opens a window finds no display driver
        (made / "x86_64-unix").symlink_to(WINE_UNIX)
        made.rename(target)
    if not ready(target):
        raise RuntimeError(f"{target} holds no i386-windows/ntdll.dll")
    print(f"setup: the WoW64 folder is {target}", flush=True)


def dry_run():
    made = decide()
    if not made.shipped_runs:
        print("setup would download nothing for WoW64: " + made.why)
        return 0
    version = wine_version() or wine_version(candidate=True)
    if ready(folder(version)):
        print(f"setup would download nothing for WoW64: {folder(version)} is ready")
        return 0
    with tempfile.TemporaryDirectory() as state:
        apt = apt_state(Path(state))
        uris = subprocess.run(apt + ["--print-uris", "download", f"libwine:i386={version}"], capture_output=True,
                              text=True, check=True).stdout.split()
    size = int(uris[2]) if len(uris) > 2 else 0
    print(f"setup would also download libwine:i386 {version} for the WoW64 folder: {size / 1e6:.0f} MB")
    return 0


def main():
    arguments = sys.argv[1:]
    stop_by_signals()
    try:
        if arguments == ["prepare"]:
            return prepare()
        if arguments == ["dry-run"]:
            return dry_run()
        if arguments == ["make-folder"]:
            return make_folder(wine_version())
        given = arguments[:2] in (["decide", "runs"], ["decide", "refuses"]) and len(arguments) == 3
        if arguments == ["decide"] or given:
            made = decide() if len(arguments) == 1 else rule(arguments[1] == "runs", "this machine refuses 32-bit "
                                                             "code (as given, not probed)", arguments[2])
            # for the script that reads it; one that has been killed meanwhile is told nothing, quietly
            signal.signal(signal.SIGPIPE, signal.SIG_DFL)
            print(made)
            return 0
    except NoDecision as failure:
        print(f"no decision on which clipindex.exe runs under Wine: {failure}", file=sys.stderr)
        return 2
    except Stopped as stop:
        end_by(stop)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
