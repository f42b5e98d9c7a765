# shellcheck shell=bash
# How the tests wait: never a fixed time, but by looking again and again for
# the state they need, each look await_step seconds after the last.
await_step=0.01

# Waits until the shell command $2 succeeds, for at most $1 seconds; false if
# it never does.
await() {
  local end=$((SECONDS + $1))
  until eval "$2"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep "$await_step"
  done
}
