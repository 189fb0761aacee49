#!/usr/bin/env bash
# Two real copies of the program on one X display (Xvfb with a window manager):
#  - the second copy shows "不能重覆載入" titled "Quorvane", ends, and writes nothing;
#  - the first copy carries the program's icon at its five sizes and, minimised, comes back to
#    the screen;
#  - after the first copy is killed, a new copy runs (no stale lock);
#  - the copies find each other in /run/user/<uid> also when one is started without
#    XDG_RUNTIME_DIR, and another user's lock (held open) and socket in /tmp change nothing.
# It runs in a mount namespace of its own, with a private /run/user and /tmp.
# Usage: second_copy_test.sh PATH/TO/Quorvane   (run under xvfb-run by CTest, as root)
set -uo pipefail
program=$1
if [ -z "${QV_OWN_MOUNTS:-}" ]; then
  exec env QV_OWN_MOUNTS=1 unshare --mount --propagation private bash "$0" "$@"
fi
mkdir -p /run/user  # a machine without a login manager has none
mount -t tmpfs -o mode=755 tmpfs /run/user || { echo "FAIL: no private /run/user"; exit 1; }
cp "${XAUTHORITY:-$HOME/.Xauthority}" /run/user/xauth && export XAUTHORITY=/run/user/xauth
# The program too, before /tmp is covered: the build directory may lie under /tmp.
cp "$program" /run/user/Quorvane && program=/run/user/Quorvane
mount -t tmpfs -o mode=1777 tmpfs /tmp  # X clients reach the server by its abstract socket
run_dir=/run/user/$(id -u)
mkdir -m 700 "$run_dir"
source "$(dirname "$0")/x_session.sh"

# Another user's files where copies of this user were once kept: a lock held open, a socket.
setpriv --reuid=nobody --regid=nogroup --clear-groups bash -c \
  "exec 9>/tmp/quorvane-$(id -u)-Quorvane.lock; flock 9; exec sleep 120" & pids+=($!)
setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/python3 -c "
import socket, time
s = socket.socket(socket.AF_UNIX); s.bind('/tmp/quorvane-$(id -u)-Quorvane.sock'); s.listen()
time.sleep(120)" & pids+=($!)
wait_for "[ -S /tmp/quorvane-$(id -u)-Quorvane.sock ]" || fail "the other user's socket is missing"

start_window_manager

for d in a b c; do mkdir -p "$work/$d"; cp "$program" "$work/$d/Quorvane"; done
printf '[Para]\r\nDATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\n' >"$work/a/Quorvane.ini"

(cd "$work/a" && XDG_RUNTIME_DIR=$run_dir exec ./Quorvane) >"$work/a.out" 2>&1 & first=$!; pids+=($first)
wait_for "grep -q '程式執行' '$work/a/PROC_LOG.TXT' 2>/dev/null" || fail "first copy did not start"
main=$(find_window '^Interbase 6 Quorvane V1.01$')
[ -n "$main" ] || fail "no main window"
# The program's icon, read from the pictures kept in the program, at each of its sizes.
sizes=$(xprop -id "$main" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
[ "$sizes" = "Icon (16 x 16) Icon (22 x 22) Icon (32 x 32) Icon (48 x 48) Icon (64 x 64) " ] ||
  fail "window icon sizes: '$sizes'"
wait_for "xprop -id $main WM_STATE | grep -q Iconic" || fail "first copy did not minimise"

(cd "$work/b" && unset XDG_RUNTIME_DIR && exec ./Quorvane) >"$work/b.out" 2>&1 & second=$!; pids+=($second)
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
(cd "$work/c" && unset XDG_RUNTIME_DIR && exec ./Quorvane) >"$work/c.out" 2>&1 & third=$!; pids+=($third)
wait_for "grep -q '程式執行' '$work/c/PROC_LOG.TXT' 2>/dev/null" || fail "a copy after a crash did not run (stale lock?)"
kill -TERM "$third"; wait "$third"
[ ! -e "$run_dir/quorvane-$(id -u)-Quorvane.sock" ] || fail "a copy that ended left its socket behind"
[ -O "$run_dir/quorvane-$(id -u)-Quorvane.lock" ] || fail "the lock is not in $run_dir"
grep -q '系統結束' "$work/c/PROC_LOG.TXT" || fail "no orderly end"
finish
