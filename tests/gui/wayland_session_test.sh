#!/usr/bin/env bash
# The program in a headless Wayland compositor (weston, with Xwayland), its clock shifted
# (libfaketime) to three seconds before a due minute, so the one-minute timer really fires:
#  - native (QT_QPA_PLATFORM=wayland): a Wayland window of the fixed size, and a tick;
#  - left to choose in a Wayland session that offers X: an X client through Xwayland (no
#    Wayland window of its own), and a tick.
# No Firebird server is needed: the run goes to a port where nothing listens and must log its
# failure line.   Usage: wayland_session_test.sh PATH/TO/Quorvane
set -uo pipefail
program=$1
export LANG=C.UTF-8 FAKETIME_DONT_FAKE_MONOTONIC=1 FAKETIME_DISABLE_SHM=1
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
export XDG_SESSION_TYPE=wayland
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
source "$(dirname "$0")/../processes.sh"
pids=()
weston_pid=""
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  if [ -n "$weston_pid" ]; then  # a clean end removes Xwayland's lock and socket in /tmp
    kill -TERM "$weston_pid" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$weston_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$weston_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }
wait_for() { for _ in $(seq 1 150); do eval "$1" && return 0; sleep 0.1; done; return 1; }
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[ -n "$faketime_lib" ] || fail "libfaketime is missing"

# Xwayland's socket goes into /tmp/.X11-unix, which only systemd-tmpfiles or an X server makes:
# without it (a fresh system where no X server has run yet) weston fails to start Xwayland.
mkdir -p -m 1777 /tmp/.X11-unix 2>/dev/null
weston --backend=headless-backend.so --socket=quorvane-wl --width=1024 --height=768 \
  --xwayland >"$work/weston.log" 2>&1 & weston_pid=$!
wait_for "grep -q 'xserver listening on display' '$work/weston.log'" ||
  fail "weston with Xwayland did not start: $(tail -3 "$work/weston.log")"
export WAYLAND_DISPLAY=quorvane-wl
x_display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log")

# run NAME [VAR=value...]: starts a copy three seconds before 10:05, waits for the tick's
# failure line, ends it with SIGTERM; the client's Wayland requests go to $work/NAME/out.
run() {
  local name=$1; shift
  local app=$work/$name
  mkdir -p "$app"
  cp "$program" "$app/Quorvane"
  printf '[Para]\r\nSERVERNAME=127.0.0.1/1\r\nDATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\nPROTOCAL=3\r\nTIMEMODE=0\r\n' \
    >"$app/Quorvane.ini"
  (cd "$app" && exec env WAYLAND_DEBUG=client \
     LD_PRELOAD="$faketime_lib" FAKETIME="@2026-12-07 10:04:57" "$@" ./Quorvane) >"$app/out" 2>&1 &
  local pid=$!; pids+=($pid)
  wait_for "grep -q '服務啟動失敗' '$app/PROC_LOG.TXT' 2>/dev/null" ||
    fail "$name: no tick: $(cat "$app/PROC_LOG.TXT" 2>/dev/null; grep -v '^\[' "$app/out" | head -5)"
  kill -TERM $pid; wait $pid || fail "$name: exit code $?"
  local log; log=$(cut -c17- "$app/PROC_LOG.TXT" | tr -d '\r' | tr '\n' '|')
  [[ $log == "程式執行|備份條件符合|資料庫 /x.fdb 服務啟動失敗|Unable to complete network request"*"|系統結束|" ]] ||
    fail "$name: log $log"
  grep -q '20261207.100500:備份條件符合' "$app/PROC_LOG.TXT" || fail "$name: the tick was not at 10:05:00"
}

run native QT_QPA_PLATFORM=wayland
grep -q 'xdg_toplevel@[0-9]*\.set_title("Interbase 6 Quorvane V1.01")' "$work/native/out" ||
  fail "native: no Wayland window"
grep -q 'set_min_size(536, 361)' "$work/native/out" && grep -q 'set_max_size(536, 361)' "$work/native/out" ||
  fail "native: the window is not of the fixed size"

run chosen DISPLAY="$x_display"
grep -q 'xdg_toplevel' "$work/chosen/out" && fail "chosen: a native Wayland window where X is offered"
grep -q 'wl_display' "$work/chosen/out" && fail "chosen: it spoke Wayland where X is offered"
end_pids "${pids[@]}"
left=$(programs_left "$work")
[ -z "$left" ] || fail "still running after the test: $left"
echo "1 passed, 0 failed"
