#!/usr/bin/env bash
# Screenshots of the main window, the login dialog and the tray icon under Xvfb with a window
# manager, a tray host (trayer) and the CJK fonts, into docs/.
#   scripts/screenshots.sh [path/to/Quorvane]     (needs: xvfb openbox trayer xdotool imagemagick)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/src/gui/Quorvane}")
if [ -z "${QV_IN_XVFB:-}" ]; then
  QV_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$program" </dev/null
fi
export LANG=C.UTF-8 QT_QPA_PLATFORM=xcb
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
mkdir -p "$XDG_RUNTIME_DIR" "$work/app" docs && chmod 700 "$XDG_RUNTIME_DIR"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
openbox >/dev/null 2>&1 & pids+=($!)
trayer --edge bottom --align right --widthtype pixel --width 200 --height 32 >/dev/null 2>&1 & pids+=($!)
sleep 1
cp "$program" "$work/app/Quorvane"
printf '[Para]\r\nSERVERNAME=localhost\r\nDATABASENAME=/var/lib/firebird/3.0/data/quorvane/sample.fdb\r\nBACKUPDIR=\r\nTIMEMODE=7\r\nBACKUPTIME=0230\r\n' >"$work/app/Quorvane.ini"
(cd "$work/app" && exec ./Quorvane) >/dev/null 2>&1 & pids+=($!)
main=""
for _ in $(seq 1 100); do main=$(xdotool search --onlyvisible --name '^Interbase 6 Quorvane V1.01$' | head -1) && [ -n "$main" ] && break; sleep 0.1; done
sleep 1
# Both directories and the verification typed in after the start (set in the file, they would
# send the window to the tray a second after it starts).
xdotool mousemove --window "$main" 300 252 click 1 type --delay 5 "/var/lib/firebird/3.0/backup/quorvane"
xdotool mousemove --window "$main" 300 278 click 1 type --delay 5 "/home/admin/copies"
xdotool mousemove --window "$main" 258 349 click 1
xdotool mousemove --window "$main" 10 10
sleep 0.5
import -window "$main" -frame docs/main-window.png
xdotool mousemove --window "$main" 70 139 click 1
dialog=""
for _ in $(seq 1 100); do dialog=$(xdotool search --onlyvisible --name '^登入設定$' | head -1) && [ -n "$dialog" ] && break; sleep 0.1; done
sleep 0.5
xdotool key Tab Tab
sleep 0.3
import -window "$dialog" -frame docs/login-dialog.png
xdotool key Escape
sleep 0.3
xdotool windowminimize "$main"
sleep 1
import -window root -crop 260x60+764+708 docs/tray-icon.png
echo "wrote docs/main-window.png docs/login-dialog.png docs/tray-icon.png"
