"""Installs the npm packages that package-lock.json pins (playwright-core, Ruffle) into node_modules, as
`npm ci` would: each package's tarball from the npm registry (npm_config_registry, as npm reads it, or
registry.npmjs.org), checked against the lock's sha512 before any of it is unpacked. Debian's npm package
would bring hundreds of packages, and most of a minute of setup, for these two, which have no dependencies.

A stop, or a download that fails, leaves node_modules as it was: the packages are unpacked into a
temporary folder beside it, which then takes its place. node_modules/.package-lock.json, a copy of the
lock, is written last, so that setup installs anew once the lock is newer (a pin moved).

usage: scripts/python -m cliptools.npm_packages
  (exit 1, with the reason, when a package cannot be fetched or is not the pinned one)
"""
import base64
import hashlib
import json
import os
import shutil
import ssl
import sys
import tarfile
import tempfile
import urllib.request
from pathlib import Path, PurePosixPath

from cliptools.stops import Stopped, end_by, stop_by_signals

ROOT = Path(__file__).resolve().parents[1]
REGISTRY = "https://registry.npmjs.org/"
# the system's certificate authorities, and those that a network's proxy asks Node.js to trust, as npm would
TRUSTED = ssl.create_default_context()
if os.environ.get("NODE_EXTRA_CA_CERTS"):
    TRUSTED.load_verify_locations(os.environ["NODE_EXTRA_CA_CERTS"])


class Refused(Exception):
    """A package that cannot be installed as pinned, with the reason."""


def pinned(lock):
    """(name, tarball URL, sha512 digest) of each package that the lock pins."""
    registry = os.environ.get("npm_config_registry") or REGISTRY
    registry += "" if registry.endswith("/") else "/"
    found = []
    for key, entry in lock.get("packages", {}).items():
        if not key:
            continue
        name = key.removeprefix("node_modules/")
        if "node_modules/" in name or entry.get("dependencies"):
            raise Refused(f"{key} in package-lock.json is, or has, a dependency of its own, which this installer"
                          " does not place: install with npm ci")
        integrity = entry.get("integrity", "")
        if not integrity.startswith("sha512-"):
            raise Refused(f"{key} in package-lock.json has no sha512 integrity to check it by")
        url = entry.get("resolved") or f"{registry}{name}/-/{name.rsplit('/', 1)[-1]}-{entry['version']}.tgz"
        found.append((name, url, base64.b64decode(integrity.removeprefix("sha512-"))))
    return found


def fetch(name, url, digest, into):
    """The tarball, in `into`, once its sha512 is the lock's."""
    tarball = into / "package.tgz"
    sha512 = hashlib.sha512()
    try:
        with urllib.request.urlopen(url, timeout=60, context=TRUSTED) as response, tarball.open("wb") as out:
            while chunk := response.read(1 << 20):
                sha512.update(chunk)
                out.write(chunk)
    except OSError as failure:
        raise Refused(f"{name}: cannot fetch {url}: {failure}") from failure
    if sha512.digest() != digest:
        raise Refused(f"{name}: {url} is not the package that package-lock.json pins (its sha512 differs)")
    return tarball


def unpack(name, tarball, target):
    """The package's files and folders under `target`, without the tarball's top folder ("package/"); a link,
    a device or a path that would leave `target` is refused, as npm refuses it."""
    with tarfile.open(tarball, "r:gz") as archive:
        for member in archive:
            parts = PurePosixPath(member.name).parts[1:]
            if not parts:
                continue
            if PurePosixPath(member.name).is_absolute() or ".." in parts or not (member.isfile() or member.isdir()):
                raise Refused(f"{name}: its tarball holds {member.name!r}, which is no plain file under the package")
            path = target.joinpath(*parts)
            if member.isdir():
                path.mkdir(parents=True, exist_ok=True)
                continue
            path.parent.mkdir(parents=True, exist_ok=True)
            with archive.extractfile(member) as data, path.open("wb") as out:
                shutil.copyfileobj(data, out)
            path.chmod(0o755 if member.mode & 0o111 else 0o644)


def install():
    lock_path = ROOT / "package-lock.json"
    lock = json.loads(lock_path.read_text())
    packages = pinned(lock)
    modules = ROOT / "node_modules"
    # another run's, cut short by a SIGKILL
    for old in ROOT.glob(".node_modules-*"):
        shutil.rmtree(old)
    with tempfile.TemporaryDirectory(dir=ROOT, prefix=".node_modules-") as work:
        made = Path(work) / "node_modules"
        for name, url, digest in packages:
            print(f"setup: {name}, from {url}", flush=True)
            unpack(name, fetch(name, url, digest, Path(work)), made / name)
        shutil.copy(lock_path, made / ".package-lock.json")
        if modules.exists():
            modules.rename(Path(work) / "old")
        made.rename(modules)


def main():
    stop_by_signals()
    try:
        install()
    except Refused as failure:
        print(f"setup: the npm packages are not installed: {failure}", file=sys.stderr)
        return 1
    except Stopped as stop:
        end_by(stop)
    return 0


if __name__ == "__main__":
    sys.exit(main())
