#!/usr/bin/env bash
# The program in a real X session (Xvfb with a window manager), driven by the mouse:
#  - ticking 開機自動載入 writes the XDG autostart entry of the machine-wide Run key, clearing
#    it removes the entry;
#  - 備份記錄 opens PROC_LOG.TXT through xdg-open, in the program's directory.
# Usage: desktop_actions_test.sh PATH/TO/Quorvane   (run under xvfb-run by CTest)
set -uo pipefail
program=$1
export LANG=C.UTF-8
export QT_QPA_PLATFORM=xcb  # a real X window, whatever the test run set
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg:/etc/xdg
mkdir -p "$XDG_RUNTIME_DIR" "$work/bin" "$work/app" && chmod 700 "$XDG_RUNTIME_DIR"
# A stand-in xdg-open that records what it was asked to open, and where.
cat >"$work/bin/xdg-open" <<EOT
#!/bin/sh
printf '%s|%s\n' "\$PWD" "\$*" >>"$work/opened"
EOT
chmod +x "$work/bin/xdg-open"
export PATH=$work/bin:$PATH
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
cp "$program" "$work/app/Quorvane"
(cd "$work/app" && exec ./Quorvane) >"$work/app.out" 2>&1 & app=$!; pids+=($app)
wait_for "grep -q '程式執行' '$work/app/PROC_LOG.TXT' 2>/dev/null" || fail "the program did not start"
main=$(find_window '^Interbase 6 Quorvane V1.01$')
[ -n "$main" ] || fail "no main window"
sleep 0.3
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.4; }

entry=$work/xdg/autostart/Quorv.desktop
click 122 322   # the check box, at its left edge
wait_for "[ -f '$entry' ]" || fail "ticking the box wrote no autostart entry"
grep -q "^Exec=$work/app/Quorvane$" "$entry" || fail "the entry does not start $work/app/Quorvane: $(cat "$entry")"
click 122 322
wait_for "[ ! -e '$entry' ]" || fail "clearing the box left the autostart entry"

click 55 322    # 備份記錄
wait_for "[ -s '$work/opened' ]" || fail "the log button opened nothing"
[ "$(cat "$work/opened")" = "$work/app|PROC_LOG.TXT" ] || fail "opened: $(cat "$work/opened")"

kill -TERM "$app"; wait "$app"
echo "1 passed, 0 failed"
