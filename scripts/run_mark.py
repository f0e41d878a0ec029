#!/usr/bin/env python3
"""A run's mark: a word unique to one run (of ./test, of the road, of a Wine session) in the variable
CLIPINDEX_RUN_MARKS, which every process the run starts inherits; Wine passes it on to the Windows
programs, and a nested run adds its own word to those it got. Ending a run ends the processes that carry
its mark and what they started, whatever their folder or prefix; never the process that ends it, nor one
that started that one.

usage: run_mark.py end MARK             ends the run's processes; exit code 1 when some would not end
       run_mark.py left MARK [SECONDS]  waits up to SECONDS (default 0) for the run's processes to end, and
                                        lists those left, one a line; exit code 1 when there are any
"""
import os
import secrets
import signal
import sys
import time
from pathlib import Path

VARIABLE = "CLIPINDEX_RUN_MARKS"


def new(kind):
    return f"{kind}-{os.getpid()}-{secrets.token_hex(4)}"


def marked_environment(mark, env=None):
    """A copy of `env` (default: this process's) with `mark` added to the marks it carries."""
    env = dict(os.environ if env is None else env)
    env[VARIABLE] = " ".join(env.get(VARIABLE, "").split() + [mark])
    return env


# Fields of /proc/PID/stat after the command name (which may hold blanks and parentheses of its own)
STATE, PARENT, START_TIME = 0, 1, 19


def stat_fields(pid):
    return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()


def identity(pid):
    """A process as (pid, start time): process numbers come round again within minutes on a busy machine
    (pid_max is 32768 here), the pair does not."""
    try:
        return pid, int(stat_fields(pid)[START_TIME])
    except (OSError, IndexError, ValueError):
        return None


def processes(mark):
    """The processes whose environment carries `mark`, and their descendants: a program may write over
    the environment that /proc shows (chromium's zygote puts its title there). Zombies are left out, and
    so are this process and its ancestors."""
    parents, started, marked = {}, {}, set()
    word = mark.encode()
    for entry in Path("/proc").iterdir():
        try:
            pid = int(entry.name)
            fields = stat_fields(pid)
            if fields[STATE] in "ZX":
                continue
            # the start time from this same read: read again later, it may be that of a process that has
            # taken the number since
            parents[pid], started[pid] = int(fields[PARENT]), int(fields[START_TIME])
            for item in (entry / "environ").read_bytes().split(b"\0"):
                if item.startswith(VARIABLE.encode() + b"=") and word in item.split(b"=", 1)[1].split():
                    marked.add(pid)
        except (OSError, IndexError, ValueError):  # not a process, gone meanwhile, or not ours to read
            pass
    spared, pid = set(), os.getpid()
    while pid > 0 and pid not in spared:
        spared.add(pid)
        pid = parents.get(pid, 0)
    found, grown = set(marked), True
    while grown:
        more = {pid for pid, parent in parents.items() if parent in found} - found
        found |= more
        grown = bool(more)
    return sorted((pid, started[pid]) for pid in found - spared)


def send(process, number):
    """Signals the process named by identity(), and no other that has taken its number since."""
    try:
        handle = os.pidfd_open(process[0])
    except OSError:  # gone
        return
    try:
        if identity(process[0]) == process:
            signal.pidfd_send_signal(handle, number)
    except OSError:
        pass
    finally:
        os.close(handle)


def end(mark, seconds=10, grace=1):
    """Ends the run's processes: SIGTERM first, so that Xvfb removes its lock and a road stops what it
    started; after `grace` seconds SIGKILL, also for any process started meanwhile, until none is left."""
    started = time.monotonic()
    termed = set()
    while found := processes(mark):
        waited = time.monotonic() - started
        if waited > seconds:
            raise RuntimeError(f"processes of the run {mark} did not end within {seconds} s: {describe(found)}")
        for process in found:
            if waited >= grace or process not in termed:
                send(process, signal.SIGKILL if waited >= grace else signal.SIGTERM)
                termed.add(process)
        time.sleep(0.05)  # their time to end; the loop ends on that event, not on this


def left_after(mark, seconds):
    """The run's processes still there `seconds` from now: waits for their end, no longer."""
    deadline = time.monotonic() + seconds
    while (found := processes(mark)) and time.monotonic() < deadline:
        time.sleep(0.05)  # polls for the event: none left
    return found


def describe(found):
    return ", ".join(f"{pid} ({command(pid)})" for pid, _ in found)


def command(pid):
    try:
        return Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace").strip()[:100]
    except OSError:
        return "gone"


def each(steps):
    """Runs every step of a stop, even when one before it failed or timed out; returns what failed."""
    failures = []
    for what, step in steps:
        try:
            step()
        except Exception as failure:  # said at the end; the next step runs all the same
            failures.append(f"{what}: {type(failure).__name__}: {failure}")
    return failures


def main():
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in ("end", "left"):
        print(__doc__, file=sys.stderr)
        return 2
    if sys.argv[1] == "left":
        found = left_after(sys.argv[2], float(sys.argv[3]) if len(sys.argv) == 4 else 0)
        for pid, _ in found:
            print(pid, command(pid))
        return 1 if found else 0
    try:
        end(sys.argv[2])
    except RuntimeError as failure:
        print(f"run_mark: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
