#!/usr/bin/env bash
# The program in a real X session (Xvfb with a window manager), driven by the mouse:
#  - ticking 開機自動載入 writes the XDG autostart entry of the machine-wide Run key, clearing
#    it removes the entry;
#  - 備份記錄 opens PROC_LOG.TXT through xdg-open, in the program's directory.
# Usage: desktop_actions_test.sh PATH/TO/Quorvane   (run under xvfb-run by CTest)
set -uo pipefail
program=$1
source "$(dirname "$0")/x_session.sh"
export XDG_CONFIG_DIRS=$work/xdg:/etc/xdg
mkdir -p "$work/bin" "$work/app"
# A stand-in xdg-open that records what it was asked to open, and where.
cat >"$work/bin/xdg-open" <<EOT
#!/bin/sh
printf '%s|%s\n' "\$PWD" "\$*" >>"$work/opened"
EOT
chmod +x "$work/bin/xdg-open"
export PATH=$work/bin:$PATH
start_window_manager
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
[ "$(cat "$work/opened")" = "$work/app|$work/app/PROC_LOG.TXT" ] || fail "opened: $(cat "$work/opened")"

kill -TERM "$app"; wait "$app"
echo "1 passed, 0 failed"
