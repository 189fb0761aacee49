#!/usr/bin/env bash
# `firebird-server.sh stop` and `kill` signal only the server they started: a pid file whose
# number now belongs to another process (it outlives a reboot) leaves that process alone.
# The script gets a state directory of its own, so the shared test server is never touched, and
# a copy of `sleep` run as firebird stands in for the server program.
# Usage: firebird_server_script_test.sh SOURCE_DIR   (as root)
set -uo pipefail
script=$1/scripts/firebird-server.sh
work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }
export QV_FB_STATE=$work/state QV_FB_SERVER=$work/firebird
mkdir -m 700 "$QV_FB_STATE"
cp "$(command -v sleep)" "$QV_FB_SERVER"
as_firebird=(setpriv --reuid=firebird --regid=firebird --init-groups)  # execs the command
runs() {  # runs PID PROGRAM: the process has started PROGRAM (setpriv execs it)
  for _ in $(seq 1 50); do [ "$(readlink "/proc/$1/exe")" = "$2" ] && return 0; sleep 0.1; done
  fail "$2 did not start"
}

for verb in stop kill; do
  # Not the server: another program, the server program run by another user, another program
  # run by firebird.
  sleep 60 & pids+=($!)
  "$QV_FB_SERVER" 60 & pids+=($!)
  "${as_firebird[@]}" sleep 60 & pids+=($!)
  runs "${pids[-1]}" "$(readlink -f "$(command -v sleep)")"
  for other in "${pids[@]: -3}"; do
    echo "$other" >"$QV_FB_STATE/server.pid"
    bash "$script" "$verb" || fail "$verb with a stale pid file failed"
    kill -0 "$other" 2>/dev/null || fail "$verb signalled process $other, which is not the server"
    [ ! -e "$QV_FB_STATE/server.pid" ] || fail "$verb left the stale pid file"
  done
  # The server program run by firebird is ours: TERM for stop, KILL for kill.
  "${as_firebird[@]}" "$QV_FB_SERVER" 60 & server=$!; pids+=($server)
  runs "$server" "$QV_FB_SERVER"
  echo "$server" >"$QV_FB_STATE/server.pid"
  bash "$script" "$verb" || fail "$verb failed"
  wait "$server"; rc=$?
  expected=$([ "$verb" = stop ] && echo 143 || echo 137)
  [ "$rc" -eq "$expected" ] || fail "$verb: the server ended with $rc, not $expected"
done
echo "1 passed, 0 failed"
