"""Whether the `node` on PATH can run the playwright-core that package-lock.json pins: its `engines`
entry (">=18") says which Node.js major it needs. Run by scripts/setup, and by the road's check step
before any Wine prefix is made.

usage: scripts/python -m cliptools.node_version
  (exit 1, with what to do, when the node found is too old or the entry cannot be read)
"""
import json
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def problem():
    """None when `node` runs the pinned playwright-core (or is not there: that is said elsewhere), else a
    sentence that says what is wrong and what to do."""
    lock = json.loads((ROOT / "package-lock.json").read_text())
    playwright = lock.get("packages", {}).get("node_modules/playwright-core", {})
    engines = playwright.get("engines", {}).get("node")
    floor = re.fullmatch(r">=\s*(\d+)[.\d]*", engines or "")
    if not floor:  # another form (a range, "^20", none at all): the check would only guess
        entry = repr(engines) if engines else "missing"
        return (f"cannot tell which Node.js playwright-core {playwright.get('version', '(not in the lock)')} "
                f"needs: its engines entry in package-lock.json is {entry}, and this check reads only the form "
                "\">=N\" (cliptools/node_version.py)")
    wanted = int(floor.group(1))
    try:
        said = subprocess.run(["node", "--version"], capture_output=True, text=True, timeout=30,
                              check=False).stdout.strip()
    except FileNotFoundError:
        return None
    major = re.match(r"v(\d+)\.", said)
    if major and int(major.group(1)) >= wanted:
        return None
    return (f"Node.js {said or '(no version given)'} is too old: playwright-core {playwright['version']} needs "
            f"Node.js {wanted} or later. Debian's own (apt-get install nodejs: 18 on Debian 12, 20 on "
            "Debian 13) will do; put it first on PATH.")


if __name__ == "__main__":
    found = problem()
    if found:
        print(found, file=sys.stderr)
    sys.exit(1 if found else 0)
