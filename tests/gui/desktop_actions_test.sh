#!/usr/bin/env bash
# The program in a real X session (Xvfb with a window manager), driven by the mouse:
#  - ticking 開機自動載入 writes the XDG autostart entry of the machine-wide Run key, clearing
#    it removes the entry; run as a normal user, the entry goes to the user's own autostart
#    directory and the machine-wide one is untouched;
#  - 備份記錄 opens PROC_LOG.TXT through xdg-open, by its absolute path, in the program's
#    directory;
#  - minimised into an XEmbed tray (trayer), a double click on the icon brings the window back
#    and a single click does not;
#  - with a StatusNotifier watcher on the session bus as well (KDE Plasma, XFCE, GNOME with
#    AppIndicator), the icon is a D-Bus item and its Activate (a click) brings the window back;
#    the watcher is asked nothing while the window comes up (a round trip that would hold it
#    up), only once the window goes to the tray; the item's tool-tip is the hint;
#  - SIGTERM ends the program while it sits in the tray, with its orderly end.
# Usage: desktop_actions_test.sh PATH/TO/Quorvane   (run by CTest under xvfb-run and
#        dbus-run-session: a private session bus)
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
click 122 348   # the check box, at its left edge
wait_for "[ -f '$entry' ]" || fail "ticking the box wrote no autostart entry"
grep -q "^Exec=$work/app/Quorvane$" "$entry" || fail "the entry does not start $work/app/Quorvane: $(cat "$entry")"
click 122 348
wait_for "[ ! -e '$entry' ]" || fail "clearing the box left the autostart entry"

click 55 348    # 備份記錄
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
click 122 348
wait_for "[ -f '$user_entry' ]" || fail "ticking the box as a normal user wrote no entry in the user's autostart directory"
grep -q "^Exec=$user/app/Quorvane$" "$user_entry" || fail "the user's entry does not start $user/app/Quorvane: $(cat "$user_entry")"
[ "$(stat -c %U "$user_entry")" = nobody ] || fail "the user's entry is not the user's"
[ ! -e "$entry" ] || fail "a normal user's tick wrote the machine-wide entry"
[ -z "$(xdotool search --onlyvisible --name '^Quorvane$' 2>/dev/null)" ] || fail "a message box came up"
click 122 348
wait_for "[ ! -e '$user_entry' ]" || fail "clearing the box left the user's autostart entry"
kill -TERM "$app"; wait "$app"

# The tray. Set up so that the program minimises itself one second after it starts.
printf '[Para]\r\nDATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\n' >"$work/app/Quorvane.ini"
trayer --edge bottom --align right --widthtype pixel --width 200 --height 32 & pids+=($!)
shown() { xdotool search --onlyvisible --name '^Interbase 6 Quorvane V1.01$' >/dev/null 2>&1; }
start_minimised() {  # $1: what to call this run
  : >"$work/app/PROC_LOG.TXT"
  (cd "$work/app" && exec ./Quorvane) >"$work/app.out" 2>&1 & app=$!; pids+=($app)
  wait_for "grep -q '程式執行' '$work/app/PROC_LOG.TXT'" || fail "$1: the program did not start"
  sleep 1.5
  wait_for '! shown' || fail "$1: the window did not go to the tray"
}
stop_program() { kill -TERM "$app"; wait "$app" || fail "exit code $? after SIGTERM"; }

start_minimised "XEmbed"
icon=""
for _ in $(seq 1 50); do  # the program's window inside trayer's panel
  icon=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {p = 1; next}
                                     p && /"Quorvane"/ {print $1; exit}')
  [ -n "$icon" ] && break
  sleep 0.1
done
[ -n "$icon" ] || fail "no icon in the XEmbed tray"
xdotool mousemove --window "$icon" 10 10 click 1
sleep 1
shown && fail "XEmbed: a single click brought the window back (only a double click should)"
xdotool mousemove --window "$icon" 10 10 click --repeat 2 --delay 80 1
wait_for shown || fail "XEmbed: a double click on the icon did not bring the window back"
stop_program

/usr/bin/python3 "$(dirname "$0")/sni_watcher.py" >"$work/sni.out" 2>&1 & pids+=($!)
wait_for "grep -q 'WATCHER READY' '$work/sni.out'" || fail "the StatusNotifier watcher did not start"
# Without a backup directory the window stays up until the user minimises it. Its clock is
# three seconds before a due minute whose run fails at once (no server on that port): the
# tool-tip then shows that run and the next due minute.
mkdir -p "$work/plain" && cp "$program" "$work/plain/Quorvane"
printf '[Para]\r\nSERVERNAME=127.0.0.1/1\r\nDATABASENAME=/x.fdb\r\nPROTOCAL=3\r\nTIMEMODE=0\r\n' \
  >"$work/plain/Quorvane.ini"
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[ -n "$faketime_lib" ] || fail "libfaketime is missing"
(cd "$work/plain" && ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
   LD_PRELOAD=$faketime_lib FAKETIME="@2026-12-07 10:04:57" FAKETIME_DONT_FAKE_MONOTONIC=1 \
   FAKETIME_DISABLE_SHM=1 exec ./Quorvane) >"$work/plain.out" 2>&1 & app=$!; pids+=($app)
wait_for "grep -q '程式執行' '$work/plain/PROC_LOG.TXT' 2>/dev/null" || fail "the program did not start"
main=$(find_window '^Interbase 6 Quorvane V1.01$')
[ -n "$main" ] || fail "no main window"
sleep 1
! grep '^ASKED ' "$work/sni.out" || fail "the StatusNotifier watcher was asked at start-up"
wait_for "grep -q '服務啟動失敗' '$work/plain/PROC_LOG.TXT'" || fail "no run at 10:05"
xdotool windowminimize "$main"
wait_for '! shown' || fail "the window did not go to the tray"
wait_for "grep -q '^ITEM ' '$work/sni.out'" || fail "minimised, no StatusNotifier item registered"
grep -q '^ASKED ' "$work/sni.out" || fail "the tray was chosen without asking the watcher"
item=$(awk '/^ITEM / {print $2; exit}' "$work/sni.out")
tip=$(printf 'Interbase 6 Quorvane\n上次備份 2026/12/07 10:05 資料庫 /x.fdb 服務啟動失敗\n下次備份 2026/12/07 10:10')
[ "$(tool_tip "$item")" = "$tip" ] || fail "the item's tool-tip: $(tool_tip "$item")"
dbus-send --session --type=method_call --dest="$item" /StatusNotifierItem \
  org.kde.StatusNotifierItem.Activate int32:10 int32:10
wait_for shown || fail "Activate on the item did not bring the window back"
stop_program

items=$(grep -c '^ITEM ' "$work/sni.out")
start_minimised "StatusNotifier"
wait_for "[ \$(grep -c '^ITEM ' '$work/sni.out') -gt $items ]" || fail "no StatusNotifier item registered"
item=$(awk '/^ITEM / {name = $2} END {print name}' "$work/sni.out")
dbus-send --session --type=method_call --dest="$item" /StatusNotifierItem \
  org.kde.StatusNotifierItem.Activate int32:10 int32:10
wait_for shown || fail "StatusNotifier: Activate on the item did not bring the window back"
kill -0 "$app" 2>/dev/null || fail "StatusNotifier: the program ended on Activate"
# Minimised again by the user, it sits in the tray; a termination signal (or the end of the
# session) still ends it in order.
xdotool windowminimize "$(find_window '^Interbase 6 Quorvane V1.01$')"
wait_for '! shown' || fail "StatusNotifier: the window did not go to the tray again"
kill -TERM "$app"
wait_for "! kill -0 $app 2>/dev/null" || fail "in the tray: SIGTERM did not end the program"
wait "$app" || fail "in the tray: exit code $? after SIGTERM"
grep -q '系統結束' "$work/app/PROC_LOG.TXT" || fail "in the tray: no orderly end on SIGTERM"
finish
