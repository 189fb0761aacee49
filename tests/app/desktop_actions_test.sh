#!/usr/bin/env bash
# The program in a real X session (Xvfb with a window manager), driven by the mouse:
#  - ticking 開機自動載入 writes the XDG autostart entry of the machine-wide Run key, clearing
#    it removes the entry; run as a normal user, the entry goes to the user's own autostart
#    directory and the machine-wide one is untouched;
#  - 備份記錄 opens PROC_LOG.TXT through xdg-open, by its absolute path, in the program's
#    directory.
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

# The same box for a normal user ("nobody"), who may not write the machine-wide directory.
chmod 711 "$work"
user=$work/user
mkdir -p "$user/app" "$user/run" "$user/config"
cp "$program" "$user/app/Quorvane"
cp "${XAUTHORITY:-$HOME/.Xauthority}" "$user/xauth"
chmod 700 "$user/run"
chown -R nobody:nogroup "$user"
(cd "$user/app" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
   env HOME="$user" XAUTHORITY="$user/xauth" XDG_RUNTIME_DIR="$user/run" \
   XDG_CONFIG_HOME="$user/config" ./Quorvane) >"$work/user.out" 2>&1 & app=$!; pids+=($app)
wait_for "grep -q '程式執行' '$user/app/PROC_LOG.TXT' 2>/dev/null" || fail "the program did not start as a normal user: $(cat "$work/user.out")"
main=$(find_window '^Interbase 6 Quorvane V1.01$')
[ -n "$main" ] || fail "no main window for the normal user"
sleep 0.3
user_entry=$user/config/autostart/Quorv.desktop
click 122 322
wait_for "[ -f '$user_entry' ]" || fail "ticking the box as a normal user wrote no entry in the user's autostart directory"
grep -q "^Exec=$user/app/Quorvane$" "$user_entry" || fail "the user's entry does not start $user/app/Quorvane: $(cat "$user_entry")"
[ "$(stat -c %U "$user_entry")" = nobody ] || fail "the user's entry is not the user's"
[ ! -e "$entry" ] || fail "a normal user's tick wrote the machine-wide entry"
[ -z "$(xdotool search --onlyvisible --name '^Quorvane$' 2>/dev/null)" ] || fail "a message box came up"
click 122 322
wait_for "[ ! -e '$user_entry' ]" || fail "clearing the box left the user's autostart entry"
kill -TERM "$app"; wait "$app"
echo "1 passed, 0 failed"
