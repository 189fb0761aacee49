#!/usr/bin/env bash
# quorvaned as systemd would run it: the unit's own ExecStart line, as the unit's user, with the
# environment the unit gives (state, runtime and credentials directories, a notification socket
# the test reads, a file standing in for the journal), no display, and a clock shifted
# (libfaketime) to three seconds before a due minute. Needs the Firebird test server.
#   service_test.sh PATH/TO/quorvaned PATH/TO/quorvane@.service SOURCE_DIR
set -uo pipefail
daemon=$(realpath "$1") unit=$(realpath "$2") source_dir=$(realpath "$3")
export LANG=C.UTF-8
. "${QV_FB_ENV:-/var/lib/quorvane-fb/env}" || { echo "no test server"; echo "0 passed, 1 failed"; exit 1; }
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[ -n "$faketime_lib" ] || { echo "libfaketime is missing"; echo "0 passed, 1 failed"; exit 1; }
source "$source_dir/tests/processes.sh"
# The unit's user, made the way the package makes it.
systemd-sysusers "$source_dir/data/systemd/quorvane.sysusers" || { echo "0 passed, 1 failed"; exit 1; }
as_service=(setpriv --reuid=quorvane --regid=quorvane --clear-groups)

work=$(mktemp -d) && chmod 0755 "$work"
bak=$QV_FB_BACKUP_DIR/service-$$
install -d -o firebird -g firebird -m 0770 "$bak"
install -d -m 0755 "$work/bin" "$work/etc"
install -m 0755 "$daemon" "$work/bin/quorvaned"
chgrp quorvane "$work/etc" && chmod 0750 "$work/etc"
# The sanitizer build reads its suppressions as the unit's user.
if [ -n "${LSAN_OPTIONS:-}" ]; then
  supp=$(sed -n 's/.*suppressions=\([^:]*\).*/\1/p' <<<"$LSAN_OPTIONS")
  [ -n "$supp" ] && install -m 0644 "$supp" "$work/lsan.supp" &&
    LSAN_OPTIONS=${LSAN_OPTIONS//$supp/$work/lsan.supp}
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
pids=() readers=()
trap 'end_pids "${pids[@]}" "${readers[@]}"; rm -rf "$work" "$bak" "$QV_FB_SAMPLE_DB.service-$$.fdb"' EXIT
passed=0 failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); return; fi
  failed=$((failed + 1)); echo "FAIL: $1"
  for f in ${3:-}; do echo "--- $f"; tr -d '\r' <"$f"; done 2>&1
}
log_has() { tr -d '\r' <"$1" | grep -q "$2"; }  # log_has FILE PATTERN: lines without CR
wait_for() { for _ in $(seq 1 ${2:-150}); do eval "$1" && return 0; sleep 0.1; done; return 1; }

# The unit's command line for instance NAME, with the program and settings directory of the test.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
read -r unit_program unit_args <<<"$exec_start"
config_dir=$(sed -n 's/.*--config \([^ ]*\)\/%i\.ini.*/\1/p' <<<"$unit_args")
command_of() {
  local args=${unit_args//%i/$1}
  echo "$work/bin/${unit_program##*/} ${args//$config_dir/$work/etc}"
}
unit_env=$(sed -n 's/^Environment=//p' "$unit")  # QUORVANE_INSTANCE=%i
# config NAME MODE DATABASE [MORE]: a settings file as an admin writes it (the password is a
# wrong one: the credential must win), verifying every backup.
config() {
  printf '[Para]\r\nSERVERNAME=localhost\r\nDATABASENAME=%s\r\nPASSWORD=not-this-one\r\nBACKUPDIR=%s\r\nPROTOCAL=3\r\nTIMEMODE=0\r\nVERIFY=1\r\n%b' \
    "$3" "$bak/$1" "${4:-}" >"$work/etc/$1.ini"
  chgrp quorvane "$work/etc/$1.ini" && chmod "$2" "$work/etc/$1.ini"
  install -d -o firebird -g firebird -m 0770 "$bak/$1"
}
# start NAME [VAR=value...]: the instance with its unit's environment, its clock at $start_at
# (default 10:04:57, three seconds before a due minute); sets $pid.
start() {
  local name=$1; shift
  local state=$work/state/$name run=$work/run/$name cred=$work/cred/$name
  install -d -o quorvane -g quorvane -m 0700 "$state" "$run"
  install -d -o quorvane -g quorvane -m 0500 "$cred"
  printf '%s\n' "$QV_FB_PASSWORD" >"$cred/password" && chown quorvane "$cred/password" && chmod 0400 "$cred/password"
  # The notification socket: every datagram, then a line "--".
  /usr/bin/python3 -c '
import os, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1]); os.chmod(sys.argv[1], 0o666)
with open(sys.argv[2], "a") as out:
    print("bound", file=out, flush=True)
    while True: print(s.recv(4096).decode() + "\n--", file=out, flush=True)' "$work/$name.sock" "$work/$name.notify" &
  readers+=($!)
  wait_for "grep -q bound '$work/$name.notify' 2>/dev/null"
  : >"$work/$name.journal"
  env -i PATH=/usr/bin:/bin LANG=C.UTF-8 STATE_DIRECTORY="$state" RUNTIME_DIRECTORY="$run" \
    CREDENTIALS_DIRECTORY="$cred" NOTIFY_SOCKET="$work/$name.sock" \
    JOURNAL_STREAM="$(stat -c %d:%i "$work/$name.journal")" \
    ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
    "$@" ${unit_env//%i/$name} "${as_service[@]}" env LD_PRELOAD="$faketime_lib" FAKETIME="@${start_at:-2026-12-07 10:04:57}" \
    FAKETIME_DONT_FAKE_MONOTONIC=1 FAKETIME_DISABLE_SHM=1 $(command_of "$name") \
    >>"$work/$name.journal" 2>"$work/$name.err" & pid=$!
  pids+=($pid)
}
notes() { tr '\n' '|' <"$work/$1.notify"; }  # the datagrams on one line
journal() { sed 's/^\(<[0-9]>\)[0-9.]*:/\1/' "$work/$1.journal" | tr '\n' '|'; }

# A monitoring service's ping endpoint (every POST in pings.log), a hook and a metrics file.
python3 "$source_dir/tests/engine/ping_listener.py" "$work/pings.log" >"$work/listener.port" &
readers+=($!)
wait_for "[ -s '$work/listener.port' ]"
ping_url=http://127.0.0.1:$(head -1 "$work/listener.port")/ping
pings() {  # pings: "PATH BODY" per request, in order
  python3 -c 'import base64, json, sys
for e in map(json.loads, open(sys.argv[1])): print(e["path"], base64.b64decode(e["body"]).decode())' "$work/pings.log" 2>/dev/null
}
install -d -o quorvane -g quorvane -m 0755 "$work/hooks" "$work/metrics"
alerts() {  # alerts NAME: the three alert keys of a settings file
  echo "PINGURL=$ping_url/$1-1f0c9a2e-7b3d\r\nMETRICSFILE=$work/metrics/quorvane_$1.prom\r\nHOOKCMD=env | grep ^QUORVANE_ | sort >$work/hooks/$1.env\r\n"
}
# Two databases side by side: one whose backups work, one whose database is missing.
config sales 0640 "$QV_FB_SAMPLE_DB" "$(alerts sales)"
config broken 0644 /var/lib/firebird/3.0/data/quorvane/missing-$$.fdb "$(alerts broken)"
# Saved by an editor that starts UTF-8 with a byte-order mark.
printf '\xEF\xBB\xBF%s' "$(cat "$work/etc/broken.ini")" >"$work/etc/broken.ini"
start sales WATCHDOG_USEC=2000000; sales=$pid
start broken; broken=$pid
# A third whose backup takes seconds: ended while the backup is followed.
config big 0640 "$QV_FB_BIG_DB"
start big; big=$pid
check "sales: ready" "wait_for \"grep -q READY=1 '$work/sales.notify'\"" "$work/sales.err"
maps=$(cat /proc/$sales/maps)
check "sales: nothing of the desktop is mapped" \
  '! grep -E -q "libQt6(Gui|Widgets|DBus)|libX11|libxcb|libfontconfig|libfreetype|libGL|libEGL" <<<"$maps"'
check "sales: runs as the unit's user" '[ "$(stat -c %U /proc/$sales)" = quorvane ]'

# The same settings file again, through another path: refused, the log untouched.
ln -s "$work/etc/sales.ini" "$work/etc/again.ini"
log_before=$(cat "$work/state/sales/PROC_LOG.TXT")
install -d -o quorvane -g quorvane -m 0700 "$work/state/again"
err=$(env -i STATE_DIRECTORY="$work/state/sales" RUNTIME_DIRECTORY="$work/run/sales" \
      ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
      timeout -s KILL 20 "${as_service[@]}" $(command_of again) 2>&1 >/dev/null); rc=$?
check "the same settings twice: refused" \
  '[ $rc -eq 2 ] && [ $(wc -l <<<"$err") -eq 1 ] && grep -q "is kept by another process" <<<"$err"'
check "the same settings twice: the log untouched" \
  '[ "$(cat "$work/state/sales/PROC_LOG.TXT")" = "$log_before" ]'
# Root by hand, without the unit's directories: refused before anything is written.
etc_before=$(ls -A "$work/etc")
err=$(env -i ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
      timeout -s KILL 20 "$work/bin/quorvaned" --config "$work/etc/sales.ini" 2>&1 >/dev/null); rc=$?
check "root by hand beside the instance: refused, nothing written beside the settings" \
  '[ $rc -eq 2 ] && grep -q "is kept by another process" <<<"$err" && [ "$(ls -A "$work/etc")" = "$etc_before" ]'
out=$(env -i STATE_DIRECTORY="$work/state/sales" CREDENTIALS_DIRECTORY="$work/cred/sales" \
      ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
      "${as_service[@]}" "$work/bin/quorvaned" --config "$work/etc/sales.ini" --backup-now 2>&1); rc=$?
check "--backup-now beside the instance: refused, no run" \
  '[ $rc -eq 2 ] && [ $(wc -l <<<"$out") -eq 1 ] && grep -q "is kept by another process" <<<"$out"'
# A second settings file on the same server and backup directory: refused, naming the first.
# twin_starts LINES: a settings file twin.ini of LINES started beside the others; sets $rc, $err.
twin_starts() {
  printf '[Para]\r\n%b' "$1" >"$work/etc/twin.ini"
  chgrp quorvane "$work/etc/twin.ini" && chmod 0640 "$work/etc/twin.ini"
  err=$(env -i STATE_DIRECTORY="$work/state/bad" ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
        "${as_service[@]}" "$work/bin/quorvaned" --config "$work/etc/twin.ini" 2>&1 >/dev/null); rc=$?
  rm -f "$work/etc/twin.ini"
}
twin_starts "SERVERNAME=LOCALHOST\r\nDATABASENAME=/other.fdb\r\nBACKUPDIR=$bak/sales/\r\n"
check "two settings files on one backup directory: the second refused, naming the first" \
  '[ $rc -eq 2 ] && grep -q "$work/etc/sales.ini names the same server and BACKUPDIR" <<<"$err"'

check "sales: the due minute's backup completes and is verified" \
  "wait_for \"grep -q 驗證完成 '$work/state/sales/PROC_LOG.TXT' 2>/dev/null\" 100" "$work/sales.err"
# The server refuses a backup of a missing database at its start or right after it (a race of
# its own): either is a failure.
failed_line="(備份失敗$bak/broken/1005.gbk:I/O error during \"open\" operation|資料庫 [^ ]*missing-$$.fdb 服務啟動失敗)"
check "broken: the due minute's backup fails" \
  "wait_for \"grep -q -E '備份失敗|服務啟動失敗' '$work/state/broken/PROC_LOG.TXT' 2>/dev/null\" 100" "$work/broken.err"
gbk=$bak/sales/1005.gbk
restored=$QV_FB_SAMPLE_DB.service-$$.fdb
rows=$(gbak -c -se localhost:service_mgr "$gbk" "$restored" -user SYSDBA -password "$QV_FB_PASSWORD" >/dev/null 2>&1 &&
       echo 'SELECT COUNT(*) FROM T;' | isql-fb -q -user SYSDBA -password "$QV_FB_PASSWORD" "localhost:$restored" |
       tr -dc '0-9\n' | grep -m1 -E '^[0-9]+$')
check "sales: the backup restores with every row" '[ "${rows:-0}" = "$QV_FB_SAMPLE_ROWS" ]'
check "sales: the scratch database is gone" '[ -z "$(ls "$bak/sales" | grep -v "^1005.gbk$")" ]'
check "sales: the watchdog is fed" "wait_for \"grep -q WATCHDOG=1 '$work/sales.notify'\" 30"

check "big: its backup is followed" \
  "wait_for \"grep -q 備份結束 '$work/state/big/PROC_LOG.TXT' 2>/dev/null\" 100" "$work/big.err"
SECONDS=0; kill -TERM $big; wait $big; rc=$?; took=$SECONDS
check "big: SIGTERM while following ends it within 5 s, cleanly" \
  '[ $rc -eq 0 ] && [ $took -le 5 ] && [ "$(tail -2 "$work/big.journal" | sed "s/^\(<[0-9]>\)[0-9.]*:/\1/" | tr "\n" "|")" = "<6>程式結束時備份仍在進行$bak/big/1005.gbk|<6>系統結束|" ]' \
  "$work/big.journal"
check "big: stopping told" 'grep -q "^STOPPING=1" "$work/big.notify"'
# SIGHUP reads the settings again: the new schedule from then on, the old one kept when the
# new file cannot work, and the service runs on.
sed -i 's/^TIMEMODE=0/TIMEMODE=3/' "$work/etc/broken.ini"
kill -HUP $broken
check "broken: SIGHUP reloads the settings and uses the new schedule" \
  "wait_for \"log_has '$work/state/broken/PROC_LOG.TXT' ':重新讀取設定$'\" &&
   wait_for \"grep -q '^STATUS=.*下次備份 2026/12/07 11:00' '$work/broken.notify'\" && kill -0 $broken" \
  "$work/broken.notify"
cp "$work/etc/broken.ini" "$work/broken.ini.good"
sed -i '/^SERVERNAME/d' "$work/etc/broken.ini"
kill -HUP $broken
check "broken: a reload that cannot work keeps the old settings, with the reason at err" \
  "wait_for \"grep -q '^<3>[0-9.]*:重新讀取設定失敗，沿用原設定：.*SERVERNAME' '$work/broken.journal'\" && kill -0 $broken" \
  "$work/broken.journal"
cat "$work/broken.ini.good" >"$work/etc/broken.ini"
end_pids "$sales" "$broken"
check "sales: the lines with their priorities" \
  '[ "$(journal sales)" = "<6>程式執行|<6>備份條件符合|<6>開始備份$gbk|<6>備份結束...|<6>備份完成$gbk|<6>驗證完成$gbk|<6>系統結束|" ]' \
  "$work/sales.journal"
check "sales: the log holds the same lines" \
  '[ "$(cut -c17- "$work/state/sales/PROC_LOG.TXT" | tr -d "\r" | tr "\n" "|")" = "$(journal sales | sed "s/<[0-9]>//g")" ]'
status_ok="STATUS=上次備份 2026/12/07 10:05 驗證完成$gbk; 下次備份 2026/12/07 10:10"
check "sales: ready, the status after the run, then stopping" \
  '[ "$(notes sales | sed "s/WATCHDOG=1|--|//g")" = "bound|READY=1|STATUS=下次備份 2026/12/07 10:05|--|$status_ok|--|STOPPING=1|--|" ]' \
  "$work/sales.notify"
check "broken: a warning for its readable password, a failure line at err" \
  'grep -q "^<4>.*設定檔 $work/etc/broken.ini 含有密碼" "$work/broken.journal" &&
   grep -q -E "^<3>[0-9.]*:$failed_line" "$work/broken.journal" &&
   [ $(grep -c -E "^<3>[0-9.]*:(備份失敗|資料庫 )" "$work/broken.journal") -eq 1 ]' "$work/broken.journal"
check "broken: the status names the failure" \
  'grep -q -E "^STATUS=上次備份 2026/12/07 10:05 $failed_line" "$work/broken.notify"' \
  "$work/broken.notify"
check "sales: no warning for a file only its group reads" '! grep -q "^<4>" "$work/sales.journal"'
check "alerts: the pings' start then their end, the last line as the body" \
  '[ "$(pings | grep "^/ping/sales-")" = "$(printf "%s\n" "/ping/sales-1f0c9a2e-7b3d/start " "/ping/sales-1f0c9a2e-7b3d 驗證完成$gbk")" ] &&
   pings | grep -q -E "^/ping/broken-1f0c9a2e-7b3d/fail ($failed_line)" && [ $(pings | grep -c "^/ping/broken-.*/start") -le 1 ]' "$work/pings.log"
check "alerts: the hook's environment" \
  'grep -q "^QUORVANE_OUTCOME=success$" "$work/hooks/sales.env" && grep -q "^QUORVANE_VERIFIED=1$" "$work/hooks/sales.env" &&
   grep -q "^QUORVANE_FILE=$gbk$" "$work/hooks/sales.env" && grep -q "^QUORVANE_LINE=驗證完成$gbk$" "$work/hooks/sales.env" &&
   grep -q "^QUORVANE_OUTCOME=failure$" "$work/hooks/broken.env" && grep -q "^QUORVANE_DATABASE=.*missing-$$.fdb$" "$work/hooks/broken.env"' \
  "$work/hooks/sales.env $work/hooks/broken.env"
check "alerts: the metrics pass promtool, labelled with the instance" \
  'promtool check metrics <"$work/metrics/quorvane_sales.prom" &&
   grep -q "^quorvane_runs_total{database=\"$QV_FB_SAMPLE_DB\",instance=\"sales\",outcome=\"success\"} 1$" "$work/metrics/quorvane_sales.prom" &&
   grep -q "^quorvane_last_run_success{.*instance=\"broken\"} 0$" "$work/metrics/quorvane_broken.prom"' \
  "$work/metrics/quorvane_sales.prom"

# A restart under another schedule (hourly, restarted at 10:37): the record of the old one
# starts afresh, no minute of the new schedule is counted as missed and nothing is made up.
sed -i 's/^TIMEMODE=0/TIMEMODE=3/' "$work/etc/sales.ini"
seen=$(wc -l <"$work/state/sales/PROC_LOG.TXT")
rm -f "$work/sales.sock" && : >"$work/sales.notify"
start_at="2026-12-07 10:37:00" start sales; sales=$pid
check "sales: a schedule changed across a restart invents no missed minute" \
  "wait_for \"grep -q READY=1 '$work/sales.notify'\" && sleep 1 &&
   tail -n +$((seen + 1)) '$work/state/sales/PROC_LOG.TXT' | grep -q 程式執行 &&
   ! tail -n +$((seen + 1)) '$work/state/sales/PROC_LOG.TXT' | grep -q -E '錯過備份時間|備份條件符合'" \
  "$work/state/sales/PROC_LOG.TXT"
end_pids "$sales"
sed -i 's/^TIMEMODE=3/TIMEMODE=0/' "$work/etc/sales.ini"

# Bad command lines and settings: one line on stderr, exit 2, nothing written.
install -d -o quorvane -g quorvane -m 0700 "$work/state/bad"
install -d -o root -g root -m 0755 "$work/state/locked"
printf '[Para]\r\nSERVERNAME=localhost\r\n' >"$work/etc/nodb.ini" && chmod 0644 "$work/etc/nodb.ini"
refused() {  # refused STATE_DIR ARGS...
  local state=$1; shift
  err=$(env -i STATE_DIRECTORY="$state" ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
        "${as_service[@]}" "$work/bin/quorvaned" "$@" 2>&1 >/dev/null)
  [ $? -eq 2 ] && [ $(wc -l <<<"$err") -eq 1 ] && [ -z "$(ls -A "$state")" ]
}
check "an unknown option" 'refused "$work/state/bad" --config "$work/etc/sales.ini" --nightly && grep -q "unknown option --nightly" <<<"$err"'
check "no settings file" 'refused "$work/state/bad" --backup-now && grep -q "no settings file" <<<"$err"'
check "a missing settings file" 'refused "$work/state/bad" --config "$work/etc/none.ini" && grep -q "cannot read" <<<"$err"'
check "no database name" 'refused "$work/state/bad" --config "$work/etc/nodb.ini" && grep -q "DATABASENAME" <<<"$err"'
check "a log directory it cannot write" 'refused "$work/state/locked" --config "$work/etc/sales.ini" && grep -q "cannot write the log" <<<"$err"'
printf '[Para]\r\nSERVERNAME=localhost\r\nDATABASENAME=%s\r\nBACKUPDIR=\r\n' "$QV_FB_SAMPLE_DB" >"$work/etc/nodir.ini"
chmod 0644 "$work/etc/nodir.ini"
server_gbks() { ls /proc/"$(pgrep -x -o firebird)"/cwd/ 2>&1 | grep -c -E '^[0-9]{4}\.gbk$'; }
server_cwd=$(server_gbks)
check "an empty BACKUPDIR: refused, nothing reaches the server" \
  'refused "$work/state/bad" --config "$work/etc/nodir.ini" --backup-now && grep -q "BACKUPDIR must be an absolute directory" <<<"$err" &&
   [ "$(server_gbks)" = "$server_cwd" ]'
rm -f "$work/etc/nodir.ini"
# A fatal start-up line goes to the journal at err.
: >"$work/fatal.err"
env -i JOURNAL_STREAM="$(stat -c %d:%i "$work/fatal.err")" ASAN_OPTIONS="$ASAN_OPTIONS" \
  LSAN_OPTIONS="${LSAN_OPTIONS:-}" "$work/bin/quorvaned" --config "$work/etc/nodb.ini" 2>>"$work/fatal.err"
check "a fatal start-up line reaches the journal at err" 'grep -q "^<3>quorvaned: .*DATABASENAME" "$work/fatal.err"'
check "--help and --version" \
  '"$work/bin/quorvaned" --help | grep -q "^Usage: quorvaned --config FILE" && "$work/bin/quorvaned" --version | grep -q "^quorvaned [0-9]"'

# One backup now, for cron: exit 0 when it completes, 1 when it fails.
now() {  # now NAME: sets $rc and $out
  out=$(env -i STATE_DIRECTORY="$work/state/$1" CREDENTIALS_DIRECTORY="$work/cred/$1" \
        ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
        "${as_service[@]}" "$work/bin/quorvaned" --config "$work/etc/$1.ini" --backup-now 2>&1); rc=$?
}
rm -f "$work/hooks/sales.env"
pinged=$(pings | grep -c "^/ping/sales-")
now sales
check "--backup-now: a completed backup exits 0" '[ $rc -eq 0 ] && grep -q "備份完成$bak/sales/" <<<"$out"' 
check "--backup-now: its hook has run and its pings are sent when it exits" \
  'grep -q "^QUORVANE_OUTCOME=success$" "$work/hooks/sales.env" && [ $(pings | grep -c "^/ping/sales-") -eq $((pinged + 2)) ]' 
now broken
check "--backup-now: a missing database exits 1" '[ $rc -eq 1 ] && grep -q -E "備份失敗$bak/broken/|服務啟動失敗" <<<"$out"'
# A scratch directory the server cannot write: the backup completes, its verification fails.
config noscratch 0640 "$QV_FB_SAMPLE_DB" 'VERIFYDIR=/\r\n'
install -d -o quorvane -g quorvane -m 0700 "$work/state/noscratch" "$work/cred/noscratch"
cp -p "$work/cred/sales/password" "$work/cred/noscratch/"
now noscratch
check "--backup-now: a verification that fails exits 1" \
  '[ $rc -eq 1 ] && grep -q ":備份完成$bak/noscratch/" <<<"$out" &&
   grep -q ":驗證失敗$bak/noscratch/[0-9]*.gbk:I/O error during \"open O_CREAT\" operation for file \"/$(basename "$QV_FB_SAMPLE_DB" .fdb)\.[0-9a-f]\{8\}\.verify\.fdb\".*Permission denied" <<<"$out"' 

# A settings file others may write: its hook is refused, loudly; the run itself goes on.
chmod 0666 "$work/etc/broken.ini"
rm -f "$work/hooks/broken.env"
now broken
chmod 0644 "$work/etc/broken.ini"
check "--backup-now: a hook in a settings file others may write is refused with its line" \
  '[ $rc -eq 1 ] && grep -q ":不執行 HOOKCMD：設定檔 $work/etc/broken.ini 可由其他使用者寫入$" <<<"$out" && [ ! -e "$work/hooks/broken.env" ]'

# A copy on this machine only (no BACKUPDIR): streamed into the service's own directory, which
# it makes, proven by a restore fed from here.
config copy 0640 "$QV_FB_SAMPLE_DB" "LOCALDIR=$work/state/copy/copies\r\nVERIFYDIR=$bak/copy\r\n"
sed -i 's/^BACKUPDIR=.*/BACKUPDIR=\r/' "$work/etc/copy.ini"
install -d -o quorvane -g quorvane -m 0700 "$work/state/copy" "$work/cred/copy"
cp -p "$work/cred/sales/password" "$work/cred/copy/"
now copy
copy=$(grep -o "備份完成$work/state/copy/copies/[0-9]*\.gbk" <<<"$out" | sed "s/^備份完成//")
check "LOCALDIR only: streamed here, whole (no .part), owner-only, proven from here" \
  '[ $rc -eq 0 ] && [ -n "$copy" ] && grep -q ":驗證完成$copy$" <<<"$out" && [ "$(stat -c %a "$copy")" = 600 ] &&
   [ "$(ls "$work/state/copy/copies")" = "$(basename "$copy")" ] && [ -z "$(ls -A "$bak/copy")" ] &&
   [ "$(stat -c %a "$work/state/copy/copies")" = 700 ]' "$work/state/copy/PROC_LOG.TXT"
twin_starts "SERVERNAME=otherhost\r\nDATABASENAME=/other.fdb\r\nLOCALDIR=$work/state/copy/copies/\r\n"
check "two settings files on one LOCALDIR: the second refused, whatever their servers" \
  '[ $rc -eq 2 ] && grep -q "$work/etc/copy.ini names the same LOCALDIR" <<<"$err"'
sed -i "s|^LOCALDIR=.*|LOCALDIR=$work/no-such-dir\r|" "$work/etc/copy.ini"
now copy
check "LOCALDIR missing: the run fails before the server is asked" \
  '[ $rc -eq 1 ] && grep -q ":備份失敗$work/no-such-dir/[0-9]*\.gbk:.*No such file or directory" <<<"$out" && ! grep -q "開始備份" <<<"$out" && [ ! -e "$work/no-such-dir" ]'

# Ended during a stream (a big database's copy, by --backup-now): stopped within 3 s, with its
# line, and no .part left.
sed -i -e "s|^LOCALDIR=.*|LOCALDIR=$work/state/copy/copies\r|" -e "s|^DATABASENAME=.*|DATABASENAME=$QV_FB_BIG_DB\r|" "$work/etc/copy.ini"
env -i STATE_DIRECTORY="$work/state/copy" CREDENTIALS_DIRECTORY="$work/cred/copy" \
  ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
  "${as_service[@]}" "$work/bin/quorvaned" --config "$work/etc/copy.ini" --backup-now >"$work/copy.out" 2>&1 & streaming=$!
pids+=($streaming)
part_size() { stat -c %s "$work"/state/copy/copies/*.part 2>/dev/null || echo 0; }
check "a big copy: its stream has begun" 'wait_for "[ \$(part_size) -gt 1048576 ]" 300' "$work/copy.out"
SECONDS=0; kill -TERM $streaming; wait $streaming; rc=$?; took=$SECONDS
check "a big copy: SIGTERM ends the stream within 3 s with its line, no .part left" \
  '[ $rc -ne 0 ] && [ $took -le 3 ] && grep -q ":程式結束時備份仍在進行$work/state/copy/copies/[0-9]*\.gbk$" "$work/copy.out" &&
   [ -z "$(ls "$work/state/copy/copies" | grep part)" ]' "$work/copy.out"

# Any backup file, checked with one command on the database server: the file is read here and
# fed to the server, never opened by the server itself (a cut one would make it write into its
# descriptor 1). The scratch databases go to VERIFYDIR.
config fed 0640 "$QV_FB_SAMPLE_DB" "VERIFYDIR=$bak/fed\r\n"
install -d -o quorvane -g quorvane -m 0700 "$work/state/fed" "$work/cred/fed"
cp -p "$work/cred/sales/password" "$work/cred/fed/"
install -d -m 0755 "$work/files"
install -m 0644 "$copy" "$work/files/whole.gbk"  # the copy streamed here
size=$(stat -c %s "$copy")
head -c $((size / 2)) "$copy" >"$work/files/half.gbk"
head -c $((size - 1000)) "$copy" >"$work/files/cut1000.gbk"
# A backup ends in zeros up to its last 1 KiB block (362 bytes for this one): without them
# nothing is lost, so the cut 300 bytes before the end is made before the end of the data.
data=$(python3 -c 'import sys; print(len(open(sys.argv[1], "rb").read().rstrip(b"\0")))' "$copy")
head -c "$data" "$copy" >"$work/files/unpadded.gbk"
head -c $((data - 300)) "$copy" >"$work/files/cut.gbk"
head -c 20000 /dev/urandom >"$work/files/junk.gbk"
chmod 0644 "$work/files/"*.gbk
verify_cmd=(env -i STATE_DIRECTORY="$work/state/fed" CREDENTIALS_DIRECTORY="$work/cred/fed"
            ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="${LSAN_OPTIONS:-}"
            "${as_service[@]}" "$work/bin/quorvaned" --config "$work/etc/fed.ini" --verify)
verify() {  # verify FILE: sets $rc and $out
  out=$("${verify_cmd[@]}" "$1" 2>&1); rc=$?
}
scratch_left() { ls "$bak/fed" | grep verify; }
verify "$work/files/whole.gbk"
check "--verify: a complete backup exits 0" '[ $rc -eq 0 ] && grep -q ":驗證完成$work/files/whole.gbk$" <<<"$out"'
for cut in half cut1000 cut; do
  verify "$work/files/$cut.gbk"
  check "--verify: a copy cut short ($cut) exits 1" '[ $rc -eq 1 ] && grep -q ":驗證失敗$work/files/$cut.gbk:備份檔不完整$" <<<"$out"' 
done
verify "$work/files/unpadded.gbk"
check "--verify: a copy without its zero padding is whole (exits 0)" '[ $rc -eq 0 ] && [ "$data" -lt "$size" ]'
verify "$work/files/junk.gbk"
check "--verify: junk exits 1 with the server's text" '[ $rc -eq 1 ] && grep -q ":驗證失敗$work/files/junk.gbk:." <<<"$out" && ! grep -q "備份檔不完整" <<<"$out"'
check "--verify: no scratch database left" '[ -z "$(scratch_left)" ]'
log_before=$(cat "$work/state/fed/PROC_LOG.TXT")
err=$("${verify_cmd[@]}" "$gbk" 2>&1 >/dev/null); rc=$?
check "--verify: a file it cannot read is refused before the server is asked, with what to do" \
  '[ $rc -eq 2 ] && [ $(wc -l <<<"$err") -eq 1 ] && grep -q "cannot read $gbk: Permission denied" <<<"$err" &&
   grep -q "run it on the database server" <<<"$err" && [ "$(cat "$work/state/fed/PROC_LOG.TXT")" = "$log_before" ]' 
# Stopped while it restores a big backup: the restore ends with its connection and the scratch
# database is dropped, well within the unit's stop time (15 s).
gbak -b -se localhost:service_mgr "$QV_FB_BIG_DB" "$bak/fed/big.gbk" -user SYSDBA -password "$QV_FB_PASSWORD" &&
  install -m 0644 "$bak/fed/big.gbk" "$work/files/big.gbk" && rm -f "$bak/fed/big.gbk"
"${verify_cmd[@]}" "$work/files/big.gbk" >"$work/fed.out" 2>&1 & verifying=$!
pids+=($verifying)
check "--verify: a big backup's restore has begun" 'wait_for "[ -n \"\$(scratch_left)\" ]" 300' "$work/fed.out"
sleep 1
SECONDS=0; kill -TERM $verifying; wait $verifying; rc=$?; took=$SECONDS
check "--verify: SIGTERM during it ends it within 10 s with its line" \
  '[ $rc -ne 0 ] && [ $took -le 10 ] && tail -1 "$work/fed.out" | grep -q ":程式結束時驗證仍在進行$work/files/big.gbk$"' "$work/fed.out"
check "--verify: SIGTERM leaves no scratch database" '[ -z "$(scratch_left)" ]'

left=$(programs_left "$work")
check "nothing left running" '[ -z "$left" ]'
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
