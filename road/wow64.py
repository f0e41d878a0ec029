#!/usr/bin/env python3
"""Whether this run runs the shipped 32-bit clipindex.exe under Wine, and the WoW64 folder that it needs.

The 64-bit Wine runs a 32-bit program in its WoW64 mode where the machine runs 32-bit code in a 64-bit
process (scripts/probe_32bit) and Wine finds the 32-bit Windows DLLs: Debian's libwine:i386 of the
installed Wine's version, downloaded (never installed: apt would remove wine64 for it) and unpacked into
a folder under build/wow64, made once and reused, given to Wine through WINEDLLPATH. Elsewhere, and with
CLIPINDEX_WOW64=off, the 64-bit build of the same sources stands in.

The decision is made once for a run, before any Wine prefix: by ./run and ./test after setup, which pass
it on in CLIPINDEX_WOW64_DECISION, or by the road's check step or a Wine test where none was passed on.
It reads "32-bit ..." or "64-bit ...", then why, in words.

usage: wow64.py decide      prints the decision (exit 0: the shipped file runs; 1: the 64-bit build stands
                            in; 2: cannot tell whether this machine runs 32-bit code)
       wow64.py prepare     makes the folder where the shipped file runs (setup, as root)
       wow64.py dry-run     says what `prepare` would download; downloads only apt's package lists
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(os.environ.get("CLIPINDEX_BUILD", ROOT / "build"))
VARIABLE = "CLIPINDEX_WOW64_DECISION"
WINE_UNIX = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-unix")
# Debian 12's 32-bit user32 needs it; libz-mingw-w64, a dependency of Wine, has the i686 one
ZLIB = Path("/usr/i686-w64-mingw32/lib/zlib1.dll")


class CannotTell(Exception):
    pass


def probe():
    """(runs, why): what scripts/probe_32bit says; CannotTell when it cannot tell."""
    probed = subprocess.run([sys.executable, str(ROOT / "scripts" / "probe_32bit")], capture_output=True, text=True,
                            timeout=60, check=False)
    said = (probed.stdout + probed.stderr).strip()
    if probed.returncode not in (0, 1):
        raise CannotTell(said or f"scripts/probe_32bit ended with {probed.returncode}")
    return probed.returncode == 0, said


def decide():
    """The decision text, "32-bit <why>" or "64-bit <why>", from CLIPINDEX_WOW64 and the probe."""
    stands_in = "64-bit the 64-bit build stands in for the shipped 32-bit clipindex.exe: "
    if os.environ.get("CLIPINDEX_WOW64") == "off":
        return stands_in + "CLIPINDEX_WOW64=off"
    runs, said = probe()
    return ("32-bit the shipped 32-bit clipindex.exe runs, in Wine's WoW64 mode: " if runs else stands_in) + said


def decision():
    """(runs, why) for this run: the one that ./run or ./test passed on, else made now and passed on to
    the processes this one starts."""
    text = os.environ.get(VARIABLE) or decide()
    os.environ[VARIABLE] = text
    kind, _, why = text.partition(" ")
    return kind == "32-bit", why


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
    subprocess.run(apt + ["update"], check=True)
    return apt


def prepare():
    """Makes the folder where the shipped file runs, once."""
    if not decision()[0]:
        return 0
    version = wine_version()
    if not ready(folder(version)):
        make_folder(version)
    return 0


def make_folder(version):
    target = folder(version)
    print(f"setup: the WoW64 folder for Wine {version}: downloading Debian's libwine:i386 {version}", flush=True)
    for old in target.parent.glob("libwine-i386-*"):  # another Wine's, or one cut short
        shutil.rmtree(old)
    target.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=target.parent) as work:
        # its package lists serve this download only, and go with the folder it is made in
        apt = apt_state(Path(work) / "apt")
        subprocess.run(apt + ["download", f"libwine:i386={version}"], cwd=work, check=True)
        (deb,) = Path(work).glob("libwine_*_i386.deb")
        unpacked = Path(work) / "unpacked"
        unpacked.mkdir()
        inside = "usr/lib/i386-linux-gnu/wine/i386-windows"
        subprocess.run(f"dpkg-deb --fsys-tarfile '{deb}' | tar -x -C '{unpacked}' ./{inside}", shell=True, check=True)
        dlls = unpacked / inside
        # a third of the size, and they work as well; a file that is no PE image stays as it is
        subprocess.run(["i686-w64-mingw32-strip", *map(str, dlls.iterdir())], stderr=subprocess.DEVNULL, check=False)
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
    runs, why = decision()
    if not runs:
        print("setup would download nothing for WoW64: " + why)
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
    command = sys.argv[1] if len(sys.argv) == 2 else None
    try:
        if command == "prepare":
            return prepare()
        if command == "dry-run":
            return dry_run()
        if command == "decide":
            runs, _ = decision()
            # for the script that reads it; one that has been killed meanwhile is told nothing, quietly
            signal.signal(signal.SIGPIPE, signal.SIG_DFL)
            print(os.environ[VARIABLE])
            return 0 if runs else 1
    except CannotTell as failure:
        print(f"cannot tell whether this machine runs 32-bit code, so neither the shipped file nor the 64-bit "
              f"build can be chosen: {failure}", file=sys.stderr)
        return 2
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
