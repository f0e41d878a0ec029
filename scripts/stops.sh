# shellcheck shell=bash
# What a stop does, for the scripts that start a run (./run, ./test, scripts/setup, scripts/fresh), which
# source this file. A Ctrl-C, SIGTERM or SIGHUP ends the step that the script waits for (in_background);
# then the script's own `cleanup` runs, if it has one, and the script ends by that signal, as the signal
# itself would have ended it, so that a caller's loop stops too. While `holding` is set (setup's package
# install), a stop says it and waits for the step's end. Messages are best effort: a closed pipe or a
# hung-up terminal never turns a stop into another ending.
#
# A run's own work (in_namespaces) is ended by a stop through scripts/run_namespace, which waits for it to
# end what it started. Around it, the namespaces that the kernel allows here (find_namespaces): a PID
# namespace, whose first process takes every other one with it when it ends, SIGKILL of the script too; and
# a mount namespace with a /tmp and a /dev/shm that only the run sees.

stop_signal= # INT, TERM or HUP: the first signal that stopped the script
holding=     # while set, what a stop waits for, as said to the person who stopped it
step=        # the process that the script waits for
step_run=    # set while it is a run, in a process group of its own
stop_came=
unshare=()   # the command that makes a run's namespaces

exec {said}>&2 # the script's own standard error, also where a step's output is sent elsewhere
# shellcheck disable=SC2261 # standard output to that error, the message's own error nowhere
say() { printf '%s\n' "$*" >&"$said" 2>/dev/null || true; }

stop_name() { if [ "$stop_signal" = INT ]; then echo Ctrl-C; else echo "SIG$stop_signal"; fi; }

# Ends the step; a run by SIGTERM to its process group, which unshare, where there is one, takes no notice
# of, and run_namespace takes as the stop of the run's work.
end_step() {
  if [ -n "$step_run" ]; then kill -TERM -- -"$step"; else kill -"$1" "$step"; fi
  return 0 # never a bare return: in a trap it returns the status that the trap cut short
} 2>/dev/null

on_stop() {
  stop_came=1
  if [ -z "$stop_signal" ]; then
    stop_signal=$1
    [ -z "$holding" ] || say "${0##*/}: $(stop_name) taken; $holding"
  fi
  [ -n "$step" ] || exit 1 # the EXIT trap ends the script by the signal
  [ -n "$holding" ] || end_step "$1"
  return 0
}

# Runs a step and waits for it. A stop ends the step, and once it has ended, the script.
# usage: in_background [--run] COMMAND...
in_background() {
  step_run=
  [ "$1" != --run ] || { step_run=1 && shift; }
  # with Ctrl-C and Ctrl-\ as a foreground command gets them, not ignored as a script's background one
  env --default-signal=INT,QUIT "$@" &
  step=$!
  local status
  while
    stop_came='' status=0
    wait "$step" 2>/dev/null || status=$?
    [ -n "$stop_came" ] # a stop cut the wait short: wait on for the step's end
  do :; done
  step=
  [ -z "$stop_signal" ] || exit 1
  return "$status"
}

# What the kernel allows a run here, found in a moment, before setup: as root, or as a normal user in a user
# namespace where it gives one. Said in one line where something is missing, with what that costs.
find_namespaces() {
  local user=() missing leaves="temp files in /tmp"
  [ "$(id -u)" = 0 ] || user=(--user --map-root-user)
  export CLIPINDEX_NAMESPACES=full
  unshare=(unshare "${user[@]}" --pid --fork --kill-child --mount-proc --propagation private)
  ! "${unshare[@]}" true 2>/dev/null || return 0
  # a plain chroot's root is no mount point to make private; its /proc is, which --mount-proc makes private
  CLIPINDEX_NAMESPACES=pid unshare=("${unshare[@]::${#unshare[@]}-1}" unchanged)
  missing="no private /tmp here (its root is no mount point, as in a plain chroot)"
  if ! "${unshare[@]}" true 2>/dev/null; then
    CLIPINDEX_NAMESPACES=none unshare=() leaves="Wine, Xvfb or tests running, or temp files in /tmp"
    missing="no namespaces here (the kernel refuses them to this user, as in a container, or to a normal user)"
    [ "$(id -u)" != 0 ] || ((0x$(sed -n 's/^CapEff:\t*//p' /proc/self/status) >> 21 & 1)) ||
      missing="no namespaces here (a container without CAP_SYS_ADMIN)"
  fi
  say "${0##*/}: $missing: a Ctrl-C, SIGTERM or SIGHUP still ends all it starts, but a SIGKILL may leave $leaves"
}

# Runs a command as a run of its own (scripts/run_namespace), in the namespaces found and a session of its
# own, which the terminal's Ctrl-C and hang-up reach through this script alone, and waits for it. FOLDER:
# one under /tmp that the run must see (the checkout, say), bound over its private /tmp. The run's first
# process dies with this script however it ends, SIGKILL too (--pdeathsig, then --kill-child).
# usage: in_namespaces [--keep FOLDER]... COMMAND...
in_namespaces() {
  in_background --run setsid setpriv --pdeathsig KILL "${unshare[@]}" "$BASH" "${BASH_SOURCE[0]%/*}/run_namespace" "$@"
}

end_by_stop() {
  local status=$?
  trap '' INT TERM HUP
  set +e
  # a cleanup that fails fails the script
  if declare -F cleanup >/dev/null && ! cleanup "$status" && ((status == 0)); then status=1; fi
  if [ -n "$stop_signal" ]; then
    trap - "$stop_signal"
    kill -"$stop_signal" $$
  fi
  exit "$status"
}

trap : PIPE # a message to a reader that has gone fails; it does not end the script
trap 'on_stop INT' INT
trap 'on_stop TERM' TERM
trap 'on_stop HUP' HUP
trap end_by_stop EXIT
