# Sourced by the shell tests: a test ends what it started and leaves nothing running.
# programs_left DIR: the processes whose executable lies under DIR (the copies of the program
# the test made there), one "PID COMMAND" each; empty when none is left.
programs_left() {
  local p e
  for p in /proc/[0-9]*; do
    e=$(readlink "$p/exe" 2>/dev/null) || continue
    case $e in "$1"/*) echo "${p#/proc/} $e" ;; esac
  done
}
# end_pids PID...: TERM, up to 5 s to end, then KILL.
end_pids() {
  [ $# -gt 0 ] || return 0
  kill -TERM "$@" 2>/dev/null
  local p alive
  for _ in $(seq 1 50); do
    alive=0
    for p in "$@"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ $alive -eq 1 ] || break
    sleep 0.1
  done
  kill -KILL "$@" 2>/dev/null
  wait "$@" 2>/dev/null
  return 0
}
