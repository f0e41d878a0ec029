"""What a stop does in a Python command of the tree that downloads (setup's WoW64 folder and npm packages),
as scripts/stops.sh does for the shell scripts: the first Ctrl-C, SIGTERM or SIGHUP stops the command where
it is, a step that it started ends whole, and the command then ends by that signal.
"""
import os
import signal
import subprocess


class Stopped(BaseException):
    """A signal that stops a command: not an Exception, so that no `except Exception` takes it."""


# the signal that stopped the command, and whether it is held while a step starts (run)
STOP = {"came": None, "held": False}


def run(command, **options):
    """A step of the download, in a process group of its own: a stop ends the whole of it (apt-get's
    methods, both ends of a pipe) and waits for its end. One that comes while the step starts is held
    until it has started: taken inside Popen, it would leave the step running, unknown."""
    STOP["held"] = True
    try:
        child = subprocess.Popen(command, process_group=0, **options)
    finally:
        STOP["held"] = False
    try:
        if STOP["came"]:
            raise Stopped(STOP["came"])
        status = child.wait()
    except Stopped:
        os.killpg(child.pid, signal.SIGTERM)
        child.wait()
        raise
    if status:
        raise subprocess.CalledProcessError(status, command)


def stop_by_signals():
    """The first Ctrl-C, SIGTERM or SIGHUP stops the command where it is; later ones are ignored, so that
    the stop ends what it started and removes its temporary folder whole."""
    def stopped(number, _frame):
        for other in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(other, signal.SIG_IGN)
        STOP["came"] = number
        if not STOP["held"]:
            raise Stopped(number)

    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stopped)


def end_by(stop):
    """The caller says that it stopped; this ends by the signal, as it would have without a handler."""
    signal.signal(stop.args[0], signal.SIG_DFL)
    os.kill(os.getpid(), stop.args[0])
