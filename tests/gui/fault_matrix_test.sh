#!/usr/bin/env bash
# The real program against the real server, one fault at a time: its clock is shifted
# (libfaketime) to three seconds before a due minute, so the one-minute timer really fires.
# For each fault the log must say what happened, nothing may crash, the window may not be held
# for more than 15 s, and the next due minute must succeed once the fault is gone.
#   fault_matrix_test.sh PATH/TO/Quorvane FBDOUBLE_DIR SOURCE_DIR   (needs the test server)
set -uo pipefail
program=$(realpath "$1") doubles=$(realpath "$2") source_dir=$(realpath "$3")
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 FAKETIME_DONT_FAKE_MONOTONIC=1 FAKETIME_DISABLE_SHM=1
# libfaketime is preloaded ahead of the sanitizer runtime in the sanitizer build.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
. "${QV_FB_ENV:-/var/lib/quorvane-fb/env}" || { echo "no test server"; echo "0 passed, 1 failed"; exit 1; }
QV_FB_BIG_DB=${QV_FB_BIG_DB:-$(dirname "$QV_FB_SAMPLE_DB")/big.fdb}
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[ -n "$faketime_lib" ] || { echo "libfaketime is missing"; echo "0 passed, 1 failed"; exit 1; }
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
bak=$QV_FB_BACKUP_DIR/matrix-$$
install -d -o firebird -g firebird -m 0770 "$bak"
source "$source_dir/tests/processes.sh"
passed=0 failed=0
trap 'rm -rf "$work" "$bak"; bash "$source_dir/scripts/firebird-server.sh" start --test >/dev/null 2>&1' EXIT
# A failed check shows the run's own output (its stderr, with any sanitizer report) and its log,
# once per run: they go with the work directory.
check() {
  if eval "$2"; then passed=$((passed + 1)); return; fi
  failed=$((failed + 1)); echo "FAIL: $1 (log: $log rc: $rc)"
  for f in $evidence; do echo "--- $f"; tr -d '\r' <"$f"; done 2>&1
  evidence=
}
evidence=  # the files check shows for the last run

# Seconds of the day of a log line (YYYYMMDD.HHNNSS:...), 0 for none.
seconds_of() {
  local t=${1:9:6}
  [ ${#t} -eq 6 ] || { echo 0; return; }
  echo $((10#${t:0:2} * 3600 + 10#${t:2:2} * 60 + 10#${t:4:2}))
}
# end_program DIR PID: one TERM to the program (every wrapper execs it, so PID is the program
# itself), 5 s to end, then KILL, also to any copy still running in DIR; nothing is left running.
end_program() {
  local dir=$1 pid=$2 p pids
  pids() { for p in $(pgrep -x Quorvane); do [ "$(readlink "/proc/$p/cwd")" = "$dir" ] && echo "$p"; done; }
  kill -TERM $pid 2>/dev/null
  for _ in $(seq 1 50); do { [ -n "$(pids)" ] || kill -0 $pid 2>/dev/null; } || break; sleep 0.1; done
  kill -KILL $pid $(pids) 2>/dev/null
}
# The log's last line once a run has ended (a failed start is followed by its reason).
wait_for='備份完成|備份失敗|服務啟動失敗'
minute=0  # each run gets its own due minute (every 5 minutes), so file names differ
# run NAME SERVER DATABASE PASSWORD BACKUPDIR [command prefix...]: one due minute; sets $log,
# $rc, $held (seconds between the match and the run's last line) and $gbk.
run() {
  local name=$1 server=$2 database=$3 password=$4 dir=$5; shift 5
  minute=$((minute + 5))
  local hh=$((10 + minute / 60)) mm=$((minute % 60))
  local app=$work/$name-$minute
  mkdir -p "$app"; cp "$program" "$app/Quorvane"
  printf '[Para]\r\nSERVERNAME=%s\r\nDATABASENAME=%s\r\nPASSWORD=%s\r\nBACKUPDIR=%s\r\nPROTOCAL=3\r\nTIMEMODE=0\r\n' \
    "$server" "$database" "$password" "$dir" >"$app/Quorvane.ini"
  local start; start=$(printf '2026-12-07 %02d:%02d:57' $(( hh - (mm == 0 ? 1 : 0) )) $(( (mm + 59) % 60 )))
  mkdir -p "$app/run" && chmod 700 "$app/run"  # its own lock and socket
  (cd "$app" && XDG_RUNTIME_DIR=$app/run LD_PRELOAD=$faketime_lib FAKETIME="@$start" \
     exec "$@" ./Quorvane) >"$app/out" 2>&1 & local pid=$!
  for _ in $(seq 1 250); do  # up to 25 s
    kill -0 $pid 2>/dev/null || break
    if grep -q '備份條件符合' "$app/PROC_LOG.TXT" 2>/dev/null &&
       tail -2 "$app/PROC_LOG.TXT" | grep -q -E "$wait_for"; then break; fi
    sleep 0.1
  done
  end_program "$app" $pid
  wait $pid; rc=$?
  evidence="$app/out $app/PROC_LOG.TXT"
  log=$(cut -c17- "$app/PROC_LOG.TXT" 2>/dev/null | tr -d '\r' | grep -v -E '程式執行|系統結束' | tr '\n' '|')
  held=$(( $(seconds_of "$(grep -v '系統結束' "$app/PROC_LOG.TXT" 2>/dev/null | tail -1)") -
           $(seconds_of "$(grep '備份條件符合' "$app/PROC_LOG.TXT" 2>/dev/null | head -1)") ))
  gbk=$(printf '%s/%02d%02d.gbk' "$dir" $hh $mm)
  out=$(cat "$app/out")
  # Whatever else a run is checked for, it may not crash (a sanitizer report aborts it).
  check "$name: no crash" '{ [[ ! $rc =~ ^(132|133|134|135|136|139)$ ]] &&
    ! grep -q -E "ERROR: [A-Za-z]+Sanitizer|runtime error:" "$app/out"; } || qt_only_leaks "$app/out"'
}
# qt_only_leaks OUT: the only report in OUT is leaks that no frame of the program allocated. Qt
# makes its own threads (D-Bus); one that is just ending when the leak check runs at exit holds
# its thread data only in its own ending TLS (about 1 run in 10 of a program that fails and ends
# within seconds). Any frame of ours, or any other report, is a failure.
qt_only_leaks() {
  grep -q "ERROR: LeakSanitizer: detected memory leaks" "$1" &&
    ! grep -q -E "ERROR: (AddressSanitizer|UndefinedBehaviorSanitizer)|runtime error:" "$1" &&
    ! awk '/^(Direct|Indirect) leak/ { leak = 1; next } /^$/ { leak = 0 }
           leak && /^ *#[1-9]/ && !/libQt6Core\.so|<unknown module>/' "$1" | grep -q .
}
ok_line() { echo "備份條件符合|開始備份$gbk|備份結束...|備份完成$gbk|"; }
# failed_line REASON: accepted, then failed on the server with that text.
failed_line() { echo "備份條件符合|開始備份$gbk|備份結束...|備份失敗$gbk:$1|"; }
fail_line() { echo "備份條件符合|$1資料庫 $2 服務啟動失敗|"; }
# is_fail_line PREFIX DATABASE: $log is that failure line, then one line with its reason.
is_fail_line() {
  local head; head=$(fail_line "$1" "$2")
  local rest=${log#"$head"}
  [ "$rest" != "$log" ] && [ -n "${rest%|}" ] && [ "$rest" = "${rest%%|*}|" ]
}
# restores GBK [command prefix...]: the file restores through the server.
restores() { local gbk=$1; shift; "$@" gbak -c -se localhost:service_mgr "$gbk" "$QV_FB_SAMPLE_DB.matrix.fdb" -user SYSDBA -password "$QV_FB_PASSWORD" >/dev/null 2>&1 && rm -f "$QV_FB_SAMPLE_DB.matrix.fdb"; }
good() {  # the next due minute with everything right: a backup that restores
  run "$1-after" localhost "$QV_FB_SAMPLE_DB" "$QV_FB_PASSWORD" "$bak"
  check "$1: the next minute succeeds" '[ "$log" = "$(ok_line)" ]'
  local restored=1
  for _ in $(seq 1 50); do restores "$gbk" && { restored=0; break; }; sleep 0.2; done
  check "$1: the next backup restores" '[ $restored -eq 0 ]'
}
db=$QV_FB_SAMPLE_DB pw=$QV_FB_PASSWORD

# A private session bus with a stand-in notification service, which prints what it is sent.
bus=unix:path=$work/bus
dbus-daemon --session --fork --address="$bus" --print-pid=1 >"$work/bus.pid"
DBUS_SESSION_BUS_ADDRESS=$bus /usr/bin/python3 "$source_dir/tests/gui/sni_watcher.py" >"$work/notes" 2>&1 &
watcher=$!
for _ in $(seq 1 50); do grep -q 'WATCHER READY' "$work/notes" && break; sleep 0.1; done

bash "$source_dir/scripts/firebird-server.sh" stop
run server-down localhost "$db" "$pw" "$bak" env DBUS_SESSION_BUS_ADDRESS="$bus"
check "server down: failure line" 'is_fail_line "" "$db"'
check "server down: ended cleanly" '[ $rc -eq 0 ]'
check "server down: the desktop is told" 'grep -q -F "NOTIFY Quorvane | 資料庫 $db 服務啟動失敗" "$work/notes"'
kill $watcher "$(cat "$work/bus.pid")" 2>/dev/null; wait $watcher 2>/dev/null
bash "$source_dir/scripts/firebird-server.sh" start --test >/dev/null 2>&1
good server-down

# A stock Debian hosts file, where localhost is ::1 first: the server (bound to localhost by
# Debian's firebird.conf) listens on [::1]:3050 only, and the backup to localhost is still made.
stock=$source_dir/scripts/stock-hosts.sh
bash "$source_dir/scripts/firebird-server.sh" stop
"$stock" bash "$source_dir/scripts/firebird-server.sh" start --test >"$work/stock-server.out" 2>&1
stock_rc=$?
check "stock hosts: the server starts ($(cat "$work/stock-server.out"))" '[ $stock_rc -eq 0 ]'
check "stock hosts: it listens on [::1]:3050 only" '[ "$(ss -ltnH "sport = :3050" | awk "{print \$4}")" = "[::1]:3050" ]'
run stock-hosts localhost "$db" "$pw" "$bak" "$stock"
check "stock hosts: the backup is made" '[ "$log" = "$(ok_line)" ]'
restored=1
for _ in $(seq 1 50); do restores "$gbk" "$stock" && { restored=0; break; }; sleep 0.2; done
check "stock hosts: the backup restores" '[ $restored -eq 0 ]'
bash "$source_dir/scripts/firebird-server.sh" stop
bash "$source_dir/scripts/firebird-server.sh" start --test >/dev/null 2>&1

run wrong-password localhost "$db" not-the-password "$bak"
check "wrong password: failure line" 'is_fail_line "" "$db"'
good wrong-password

run unknown-host nosuchhost.invalid "$db" "$pw" "$bak" "$source_dir/scripts/files-only-dns.sh"
check "unknown host: failure line" 'is_fail_line "" "$db"'
good unknown-host

run unwritable-dir localhost "$db" "$pw" "$QV_FB_STATE"
# The server adds its closing sentence to the failure a moment later; the follower may read
# the failure before it.
check "unwritable backup directory: failed with the server's text" \
  '[ "$log" = "$(failed_line "cannot open backup file $gbk Exiting before completion due to errors")" ] ||
   [ "$log" = "$(failed_line "cannot open backup file $gbk")" ]'
check "unwritable backup directory: no file" '[ ! -e "$gbk" ]'
good unwritable-dir

# The start itself reports a missing database when the server's thread is quicker.
none=/var/lib/firebird/3.0/data/quorvane/none.fdb
run missing-db localhost "$none" "$pw" "$bak"
check "missing database: failed with the server's text" \
  '[ "$log" = "$(failed_line "I/O error during \"open\" operation for file \"$none\" Error while trying to open file No such file or directory")" ] || is_fail_line "開始備份$gbk|" "$none"'
good missing-db

run empty-db localhost "" "$pw" "$bak"
check "empty database path: failure after the start line" 'is_fail_line "開始備份$gbk|" ""'
good empty-db

mkdir -p "$work/nolib" && : >"$work/nolib/libfbclient.so.2" && : >"$work/nolib/libfbclient.so"
run no-library localhost "$db" "$pw" "$bak" env LD_LIBRARY_PATH="$work/nolib"
check "client library missing: says so and ends" '[ $rc -eq 1 ] && [[ "$out" == *"InterBase library gds32.dll not found"* ]] && [ -z "$log" ]'
good no-library

run old-library localhost "$db" "$pw" "$bak" env LD_LIBRARY_PATH="$doubles/v5"
check "client library without the newer calls: failure line" 'is_fail_line "" "$db"'
good old-library

python3 -c 'import socket,time; s=socket.socket(); s.bind(("127.0.0.1",3097)); s.listen(4); time.sleep(60)' & listener=$!
sleep 0.3
run silent-listener 127.0.0.1/3097 "$db" "$pw" "$bak"
kill $listener 2>/dev/null
check "listener that never answers: failure line" 'is_fail_line "" "$db"'
check "listener that never answers: held at most 15 s (was $held)" '[ $held -le 15 ]'
good silent-listener

# Ending while a long backup is followed: it says so, closes its attachment and ends in time;
# the server finishes the file.
wait_for='備份結束'
run ending-while-followed localhost "$QV_FB_BIG_DB" "$pw" "$bak"
wait_for='備份完成|備份失敗|服務啟動失敗'
ended=$(tail -2 "$work/ending-while-followed-$minute/PROC_LOG.TXT" | cut -c17- | tr -d '\r' | tr '\n' '|')
check "ending while followed: says so, then ends" '[ "$ended" = "程式結束時備份仍在進行$gbk|系統結束|" ] && [ $rc -eq 0 ]'
restored=1
for _ in $(seq 1 100); do restores "$gbk" && { restored=0; break; }; sleep 0.3; done
check "ending while followed: the server finishes the backup" '[ $restored -eq 0 ]'

run dropped-port 127.0.0.1/3099 "$db" "$pw" "$bak" "$source_dir/scripts/dropped-port.sh"
check "host that never answers: failure line" 'is_fail_line "" "$db"'
check "host that never answers: held at most 15 s (was $held)" '[ $held -le 15 ]'

# A program directory the program cannot write: it keeps its settings and its log in the
# user's own directories (here the settings the user saved there earlier), makes the due
# backup, logs it in the user's state directory and writes nothing beside itself.
minute=$((minute + 5))
hh=$((10 + minute / 60)) mm=$((minute % 60))
app=$work/readonly-$minute home=$work/readonly-home-$minute
chmod 755 "$work"  # the other user must reach its directories
mkdir -p "$app" && chmod 755 "$app"
cp "$program" "$app/Quorvane"
install -d -o nobody -m 0700 "$home" "$home/run" "$home/.config" "$home/.config/quorvane"
printf '[Para]\r\nSERVERNAME=localhost\r\nDATABASENAME=%s\r\nPASSWORD=%s\r\nBACKUPDIR=%s\r\nPROTOCAL=3\r\nTIMEMODE=0\r\n' \
  "$db" "$pw" "$bak" >"$home/.config/quorvane/Quorvane.ini"
chown nobody "$home/.config/quorvane/Quorvane.ini" && chmod 600 "$home/.config/quorvane/Quorvane.ini"
user_log=$home/.local/state/quorvane/PROC_LOG.TXT
gbk=$(printf '%s/%02d%02d.gbk' "$bak" $hh $mm)
start=$(printf '2026-12-07 %02d:%02d:57' $(( hh - (mm == 0 ? 1 : 0) )) $(( (mm + 59) % 60 )))
# The clock is shifted in the program only (not in setpriv, which runs as root). The XDG
# variables are the user's defaults under its HOME.
(cd "$app" && exec env -u XDG_STATE_HOME XDG_RUNTIME_DIR="$home/run" HOME="$home" \
   XDG_CONFIG_HOME="$home/.config" setpriv --reuid=nobody --regid=nogroup \
   --clear-groups env LD_PRELOAD="$faketime_lib" FAKETIME="@$start" ./Quorvane) >"$work/readonly-out" 2>&1 & pid=$!
for _ in $(seq 1 150); do
  [ -e "$gbk" ] && tail -1 "$user_log" 2>/dev/null | grep -q -E "$wait_for" && break
  sleep 0.1
done
kill -TERM $pid 2>/dev/null
for _ in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -KILL $pid 2>/dev/null; wait $pid; rc=$?
log=$(cut -c17- "$user_log" 2>/dev/null | tr -d '\r' | grep -v -E '程式執行|系統結束' | tr '\n' '|')
evidence="$work/readonly-out $user_log"
check "read-only program directory: the backup is still made" '[ -e "$gbk" ]'
check "read-only program directory: ends cleanly" '[ $rc -eq 0 ]'
check "read-only program directory: logged in the user's state directory" '[ "$log" = "$(ok_line)" ]'
check "read-only program directory: no box at start-up" '! grep -q "無法寫入" "$work/readonly-out"'
check "read-only program directory: nothing written beside the program" \
  '[ "$(ls -A "$app")" = Quorvane ] && [ "$(stat -c "%U %a" "$home/.config/quorvane/Quorvane.ini")" = "nobody 600" ]'
restored=1
for _ in $(seq 1 50); do restores "$gbk" && { restored=0; break; }; sleep 0.2; done
check "read-only program directory: the backup restores" '[ $restored -eq 0 ]'

check "nothing left running ($(programs_left "$work"))" '[ -z "$(programs_left "$work")" ]'
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
