#!/usr/bin/env bash
# Two real copies of the program on one X display (Xvfb with a window manager):
#  - the second copy shows "不能重覆載入" titled "Quorvane", ends, and writes nothing;
#  - the first copy, minimised, comes back to the screen;
#  - after the first copy is killed, a new copy runs (no stale lock).
# Usage: second_copy_test.sh PATH/TO/Quorvane   (run under xvfb-run by CTest)
set -uo pipefail
program=$1
export LANG=C.UTF-8
export QT_QPA_PLATFORM=xcb  # a real X window, whatever the test run set
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }
wait_for() { for _ in $(seq 1 100); do eval "$1" && return 0; sleep 0.1; done; return 1; }
find_window() {  # the first visible window with exactly this name, waiting up to 10 s
  local w
  for _ in $(seq 1 100); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}

openbox >/dev/null 2>&1 & pids+=($!)
sleep 0.5

for d in a b c; do mkdir -p "$work/$d"; cp "$program" "$work/$d/Quorvane"; done
printf '[Para]\r\nDATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\n' >"$work/a/Quorvane.ini"

(cd "$work/a" && exec ./Quorvane) >"$work/a.out" 2>&1 & first=$!; pids+=($first)
wait_for "grep -q '程式執行' '$work/a/PROC_LOG.TXT' 2>/dev/null" || fail "first copy did not start"
main=$(find_window '^Interbase 6 Quorvane V1.01$')
[ -n "$main" ] || fail "no main window"
wait_for "xprop -id $main WM_STATE | grep -q Iconic" || fail "first copy did not minimise"

(cd "$work/b" && exec ./Quorvane) >"$work/b.out" 2>&1 & second=$!; pids+=($second)
box=""
for _ in $(seq 1 100); do
  box=$(xdotool search --onlyvisible --name '^Quorvane$' 2>/dev/null | head -1)
  [ -n "$box" ] && break
  sleep 0.1
done
[ -n "$box" ] || fail "the second copy showed no message box"
timeout 5 xdotool windowactivate --sync "$box" 2>/dev/null; xdotool key --window "$box" Return
wait_for "! kill -0 $second 2>/dev/null" || fail "the second copy did not end after its message"
wait "$second"; rc=$?
[ "$rc" -eq 0 ] || fail "second copy exit code $rc"
[ ! -e "$work/b/PROC_LOG.TXT" ] || fail "the second copy wrote a log line"
[ ! -e "$work/b/Quorvane.ini" ] || fail "the second copy touched the settings"
wait_for "xprop -id $main WM_STATE | grep -q Normal" || fail "the first copy was not restored"
[ "$(grep -c . "$work/a/PROC_LOG.TXT")" -eq 1 ] || fail "unexpected lines in the first copy's log"

kill -9 "$first"; wait "$first" 2>/dev/null
(cd "$work/c" && exec ./Quorvane) >"$work/c.out" 2>&1 & third=$!; pids+=($third)
wait_for "grep -q '程式執行' '$work/c/PROC_LOG.TXT' 2>/dev/null" || fail "a copy after a crash did not run (stale lock?)"
kill -TERM "$third"; wait "$third"
grep -q '系統結束' "$work/c/PROC_LOG.TXT" || fail "no orderly end"
echo "1 passed, 0 failed"
