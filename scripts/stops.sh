# shellcheck shell=bash
# What a stop does, for the scripts that start a run (./run, ./test, scripts/setup, scripts/fresh), which
# source this file. A Ctrl-C, SIGTERM or SIGHUP ends the step that the script waits for (in_background);
# then the script's own `cleanup` runs, if it has one, and the script ends by that signal, as the signal
# itself would have ended it, so that a caller's loop stops too. While `holding` is set (setup's package
# install), a stop says it and waits for the step's end. Messages are best effort: a closed pipe or a
# hung-up terminal never turns a stop into another ending.
#
# A run's own work goes into namespaces of its own (in_namespaces): a PID namespace, whose first process
# takes every other one with it when it ends, however it ends, and a mount namespace with a /tmp and a
# /dev/shm that only the run sees (scripts/run_namespace). Nothing needs a list of what was started.

stop_signal= # INT, TERM or HUP: the first signal that stopped the script
holding=     # while set, what a stop waits for, as said to the person who stopped it
step=        # the process that the script waits for
step_started= # its start time: another process that takes its number later has another
step_namespace=
stop_came=

exec {said}>&2 # the script's own standard error, also where a step's output is sent elsewhere
# shellcheck disable=SC2261 # standard output to that error, the message's own error nowhere
say() { printf '%s\n' "$*" >&"$said" 2>/dev/null || true; }

stop_name() { if [ "$stop_signal" = INT ]; then echo Ctrl-C; else echo "SIG$stop_signal"; fi; }

# The start time of a process (field 22 of /proc/PID/stat, counted after the command name, which may hold
# blanks); nothing for one that is gone
started() {
  local stat fields
  { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 0
  read -r -a fields <<<"${stat##*) }"
  echo "${fields[19]}"
}

# Ends the step, if it is still the process that was started. A namespace ends with its first process,
# unshare's child, which the kernel follows by ending every other one in it: by SIGTERM once it takes
# it (scripts/run_namespace exits then), else by SIGKILL; unshare, stopped meanwhile, cannot reap that
# child and free its number. Before the child exists, unshare itself goes.
end_step() {
  local - first='' caught=0
  set +e # in a trap: a step that has just ended is no failure
  [ -n "$step_started" ] && [ "$(started "$step")" = "$step_started" ] || return 0
  if [ -z "$step_namespace" ]; then
    kill -"$1" "$step"
    return 0 # never a bare return: in a trap it returns the status that the trap cut short
  fi
  kill -STOP "$step"
  read -r first _ <"/proc/$step/task/$step/children"
  [ -z "$first" ] || caught=$(sed -n 's/^SigCgt:\t*//p' "/proc/$first/status")
  if ((0x${caught:-0} & 1 << 14)); then kill -TERM "$first"; else kill -KILL "${first:-$step}"; fi
  kill -CONT "$step"
  return 0
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
# usage: in_background [--namespace] COMMAND...
in_background() {
  step_namespace=
  [ "$1" != --namespace ] || { step_namespace=1 && shift; }
  # with Ctrl-C and Ctrl-\ as a foreground command gets them, not ignored as a script's background one
  env --default-signal=INT,QUIT "$@" &
  step=$!
  step_started=$(started "$step")
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

# Runs a command as a run of its own, in its namespaces (scripts/run_namespace), and waits for it.
# FOLDER: one under /tmp that the run must see (the checkout, say), bound over its private /tmp. As root,
# or as a normal user in a user namespace, where the kernel allows one. The namespace's first process dies
# with this script however it ends, SIGKILL too (--pdeathsig, then --kill-child). unshare ignores SIGHUP,
# so that a hang-up ends the run through this script and never leaves it unwaited for.
# usage: in_namespaces [--keep FOLDER]... COMMAND...
in_namespaces() {
  local user=()
  [ "$(id -u)" = 0 ] || user=(--user --map-root-user)
  in_background --namespace setpriv --pdeathsig KILL env --ignore-signal=HUP unshare "${user[@]}" --pid --fork \
    --kill-child --mount-proc --propagation private "$BASH" "${BASH_SOURCE[0]%/*}/run_namespace" "$@"
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
