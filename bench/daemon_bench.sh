#!/usr/bin/env bash
# quorvaned against bench/minimal_core (Qt Core, the client library through dlopen, one
# one-minute timer, READY=1), side by side in one run, and the due minute's request against the
# local test server:
#  1. start-up and memory: round by round the two programs start one after the other (which one
#     goes first alternates), measured by bench/startup_probe with notify: markers: from the start
#     to the READY=1 datagram on the NOTIFY_SOCKET the probe binds, the time on a CPU until then,
#     and 3 s after the second start, both alive, PSS, private dirty, RSS and USS from
#     /proc/PID/smaps_rollup. quorvaned is armed with a schedule that never falls due.
#     Then a few rounds of the window (Quorvane, offscreen, minimised after one second) beside
#     quorvaned, for the window's PSS at the same moment.
#  2. the due minute: quorvaned with a real settings file (every five minutes, the sample
#     database, a backup directory of its own), its clock shifted by libfaketime by whole
#     seconds to 3 s before a due minute, under strace -f --seccomp-bpf (only connect, sendto,
#     recvfrom and write stop the process), timestamps in real time: the minute's start is the
#     real instant the shifted clock turns it. Per due minute, from its start: the tick (the
#     first write, the record of the minute checked), the connection to port 3050, the start
#     request sent (the second packet after the wire encryption is agreed: attach, then start;
#     op_service_start itself when the wire is plain) and its answer received (the request
#     accepted, what bench/trigger_bench measures for the window).
#     Cold: a fresh process per due minute (the client library's first connection).
#     Warm: one process through several due minutes, the shifted clock moved on four minutes
#     after each run (FAKETIME_TIMESTAMP_FILE), so every next minute start is due.
#     Then bench/trigger_bench (the window's own measure) when it is built.
# Needs root (strace, the server's backup directory) and the test server's state file.
#   bench/daemon_bench.sh BUILD_DIR [rounds=9] [cold=5] [warm=4] [window_rounds=3] [trigger_rounds=5]
# (0 rounds skip a part). QV_BENCH_ALERTS=1 adds PINGURL, HOOKCMD and METRICSFILE to every
# settings file. With QV_BENCH_KEEP naming a directory, the traces are kept there.
# QV_BENCH_WRAP: a command the traced quorvaned runs under, e.g. "chrt -r 1": a real-time task
# has no timer slack on its waits (a normal one's poll may end up to 0.1 % of the wait late).
set -euo pipefail
build=$(realpath "${1:-build}")
rounds=${2:-9} cold=${3:-5} warm=${4:-4} window_rounds=${5:-3} trigger_rounds=${6:-5}
. "${QV_FB_ENV:-/var/lib/quorvane-fb/env}"
faketime_lib=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -1)
daemon=$build/src/daemon/quorvaned probe=$build/bench/startup_probe minimal=$build/bench/minimal_core
export LANG=C.UTF-8 QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
work=$(mktemp -d) && chmod 0755 "$work"
bak=$QV_FB_BACKUP_DIR/daemon-bench-$$
pids=()
# strace waits for the quorvaned it traces (a due minute that never completed, the server down):
# quorvaned is ended first.
trap 'for p in "${pids[@]}"; do
        kill -TERM $(cat "/proc/$p/task/$p/children" 2>/dev/null) "$p" 2>/dev/null; wait "$p" 2>/dev/null
      done
      rm -rf "$work" "$bak"' EXIT
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
export STATE_DIRECTORY=$work/state RUNTIME_DIRECTORY=$work/run
mkdir -p "$work/run" "$work/state" "$work/app" && chmod 0700 "$work/run"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
spread() { sort -n | awk '{a[NR]=$1} END {printf "%s-%s", a[1], a[NR]}'; }
column() { awk -v c="$1" '{print $c}' "$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
# QV_BENCH_ALERTS=1: every settings file also has the three alerts (a ping URL nobody answers
# on, a hook, a metrics file), to see what they add to the idle memory and the due minute.
alerts=""
[ -z "${QV_BENCH_ALERTS:-}" ] ||
  alerts="PINGURL=http://127.0.0.1:9/ping/bench\\r\\nHOOKCMD=true\\r\\nMETRICSFILE=$work/quorvane.prom\\r\\n"
# settings FILE TIMEMODE [MORE]: a settings file as an admin writes it, readable by root only.
# Only due.ini writes into $bak; the others name a directory of their own (never written), as
# quorvaned refuses a settings file whose neighbour writes the same backup files.
settings() {
  local dir=$bak
  [ "$(basename "$1")" = due.ini ] || dir=$bak/$(basename "$1" .ini)
  printf '[Para]\r\nSERVERNAME=localhost\r\nDATABASENAME=%s\r\nPASSWORD=%s\r\nBACKUPDIR=%s\r\nPROTOCAL=3\r\nTIMEMODE=%s\r\n%b' \
    "$QV_FB_SAMPLE_DB" "$QV_FB_PASSWORD" "$dir" "$2" "${3:-}$alerts" >"$1"
  chmod 0600 "$1"
}

echo "$(nproc) cores; uptime at start:$(uptime)"
echo
# 1. Start-up to READY and memory when idle, for two schedules: STATUS names the next due
# minute, which quorvaned looks for minute by minute up to 8 days ahead before it is ready.
#   daily: once a day at the minute before the run started (the longest look of a daily backup:
#          almost a day);
#   never: a time that never comes (the whole 8 days looked through, the slowest start).
yardstick=("notify:$work/minimal.sock" "$minimal")
settings "$work/never.ini" 7 'BACKUPTIME=9999\r\n'
ours=("notify:$work/ours.sock" "$daemon" --config "$work/never.ini")
line() {  # line NAME COLUMN [KiB]: median and spread of both, their ratio
  local o m
  o=$(column "$2" "$work/ours" | median) m=$(column "$2" "$work/minimal" | median)
  if [ -n "${3:-}" ]; then
    echo "| $1 | $(mib "$o") ($(column "$2" "$work/ours" | spread)) | $(mib "$m") ($(column "$2" "$work/minimal" | spread)) | $(ratio "$o" "$m") |"
  else
    echo "| $1 | $o ($(column "$2" "$work/ours" | spread)) | $m ($(column "$2" "$work/minimal" | spread)) | $(ratio "$o" "$m") |"
  fi
}
startup_rounds() {  # startup_rounds NAME BACKUPTIME
  settings "$work/$1.ini" 7 "BACKUPTIME=$2\\r\\n"
  ours=("notify:$work/ours.sock" "$daemon" --config "$work/$1.ini")
  : >"$work/ours" && : >"$work/minimal"
  echo "schedule $1 (BACKUPTIME=$2)"
  echo "round  quorvaned: start-up ms, PSS, private dirty, RSS, USS KiB, CPU ms  |  minimal_core: the same"
  for i in $(seq 1 "$rounds"); do
    rm -rf "$work/state"/* # no record of an earlier round
    if ((i % 2)); then
      out=$("$probe" 3000 "${ours[@]}" -- "${yardstick[@]}" 2>/dev/null)
      a=$(sed -n 1p <<<"$out") b=$(sed -n 2p <<<"$out")
    else
      out=$("$probe" 3000 "${yardstick[@]}" -- "${ours[@]}" 2>/dev/null)
      b=$(sed -n 1p <<<"$out") a=$(sed -n 2p <<<"$out")
    fi
    echo "$a" >>"$work/ours" && echo "$b" >>"$work/minimal"
    printf '%5d  %-50s |  %s\n' "$i" "$a" "$b"
  done
  echo
  echo "| $1 schedule: measure (median of $rounds, min-max) | quorvaned | minimal_core | ratio |"
  echo "|---|---|---|---|"
  line "start-up to READY=1 (ms)" 1
  line "the same, time on a CPU (ms)" 6
  line "idle, PSS (MiB; KiB range)" 2 KiB
  line "idle, private dirty (MiB; KiB range)" 3 KiB
  line "idle, RSS (MiB; KiB range)" 4 KiB
  line "idle, USS (MiB; KiB range)" 5 KiB
  echo
}
if ((rounds > 0)); then
  startup_rounds daily "$(date -d '-1 min' +%H%M)"
  startup_rounds never 9999
fi

if [ -x "$build/src/gui/Quorvane" ] && ((window_rounds > 0)); then
  cp "$build/src/gui/Quorvane" "$work/app/" && sync "$work/app/Quorvane"
  echo
  echo "the window beside quorvaned, both alive: Quorvane PSS, quorvaned PSS (KiB)"
  for i in $(seq 1 "$window_rounds"); do
    rm -rf "$work/state"/* "$work/app/PROC_LOG.TXT"
    printf '[Para]\r\nDATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\nTIMEMODE=7\r\nBACKUPTIME=9999\r\n' \
      >"$work/app/Quorvane.ini"
    out=$("$probe" 3000 "$work/app/PROC_LOG.TXT" "$work/app/Quorvane" -- "${ours[@]}" 2>/dev/null)
    echo "$(sed -n 1p <<<"$out" | cut -d' ' -f2) $(sed -n 2p <<<"$out" | cut -d' ' -f2)" | tee -a "$work/window"
  done
  w=$(column 1 "$work/window" | median) d=$(column 2 "$work/window" | median)
  echo "| idle PSS, median of $window_rounds (MiB) | Quorvane $(mib "$w") | quorvaned $(mib "$d") | ratio $(ratio "$d" "$w") |"
fi

# 2. The due minute's request.
install -d -o firebird -g firebird -m 0770 "$bak"
settings "$work/due.ini" 0
: >"$work/rounds"  # per due minute: the trace, the minute (shifted clock) and the shift in force
traced() {  # traced TRACE TIMESTAMP_FILE: quorvaned under strace, its clock from the file
  strace -f --seccomp-bpf -ttt -T -e trace=connect,sendto,recvfrom,write -e signal=none -xx -s 8 \
    -o "$1" -E LD_PRELOAD="$faketime_lib" -E FAKETIME_TIMESTAMP_FILE="$2" \
    -E FAKETIME_CACHE_DURATION=1 -E FAKETIME_DONT_FAKE_MONOTONIC=1 -E FAKETIME_DISABLE_SHM=1 \
    ${QV_BENCH_WRAP:-} "$daemon" --config "$work/due.ini" >/dev/null 2>&1 &
  pids+=($!)
}
stop_traced() {  # SIGTERM to quorvaned itself (strace's child): it ends, then strace does
  local strace_pid=${pids[-1]}
  kill -TERM "$(cat "/proc/$strace_pid/task/$strace_pid/children")" 2>/dev/null || true
  wait "$strace_pid" || true
  unset 'pids[-1]'
}
# A shift of whole seconds that puts the shifted clock 3 to 4 s before the minute MINUTE.
shift_to() { echo $(($1 - 4 - $(date +%s))); }
completed() {
  local n
  n=$(grep -c 備份完成 "$work/state/PROC_LOG.TXT" 2>/dev/null) || true
  echo "${n:-0}"
}
wait_completed() {  # wait_completed N: up to 60 s for the N-th completed backup
  for _ in $(seq 1 600); do [ "$(completed)" -ge "$1" ] && return 0; sleep 0.1; done
  echo "no completed backup" >&2 && return 1
}
base=$(( ($(date +%s) / 300 + 1) * 300 ))  # due minutes from here on, five minutes apart
minute=$base
for i in $(seq 1 "$cold"); do
  rm -rf "$work/state"/* "$work/run"/quorvane*
  minute=$((minute + 300)) offset=$(shift_to $minute)
  printf "%+d\n" "$offset" >"$work/cold$i.rc"
  traced "$work/cold$i.trace" "$work/cold$i.rc"
  echo "cold $work/cold$i.trace $minute $offset" >>"$work/rounds"
  wait_completed 1
  stop_traced
done
rm -rf "$work/state"/* "$work/run"/quorvane*
minute=$((minute + 300)) offset=$(shift_to $minute)
printf "%+d\n" "$offset" >"$work/warm.rc"
traced "$work/warm.trace" "$work/warm.rc"
for i in $(seq 0 "$warm"); do
  echo "$([ "$i" = 0 ] && echo cold || echo warm) $work/warm.trace $minute $offset" >>"$work/rounds"
  wait_completed $((i + 1))
  ((i < warm)) || break
  # Well inside the minute, four minutes on: the next minute start is due, no due minute passed.
  left=$((20 - ($(date +%s) + offset - minute)))
  ((left <= 0)) || sleep $left
  minute=$((minute + 300)) offset=$((offset + 240))
  printf "%+d\n" "$offset" >"$work/warm.rc"
done
stop_traced
[ -z "${QV_BENCH_KEEP:-}" ] || cp "$work"/*.trace "$work/rounds" "$work/state/PROC_LOG.TXT" "$QV_BENCH_KEEP/"

/usr/bin/python3 - "$work/rounds" <<'EOF'
import re, statistics, sys
# PID TIME CALL(FD, ... = RESULT <DURATION>, or split around a wait: "CALL(FD, ... <unfinished ...>"
# then "PID TIME <... CALL resumed>... <DURATION>"; a call's end is TIME + DURATION, or the resumed TIME.
event = re.compile(r'^(\d+)\s+(\d+\.\d+) (\w+)\((\d+), (.*)')
resumed = re.compile(r'^(\d+)\s+(\d+\.\d+) <\.\.\. (\w+) resumed>')
def ended(lines, pid, call, after):
    waiting = False
    for l in lines:
        m, r = event.match(l), resumed.match(l)
        if m and m.group(1) == pid and m.group(3) == call and float(m.group(2)) > after:
            d = re.search(r'<(\d+\.\d+)>$', l.rstrip())
            if d: return float(m.group(2)) + float(d.group(1))
            waiting = True
        elif r and waiting and r.group(1) == pid and r.group(3) == call:
            return float(r.group(2))
rows = {"cold": [], "warm": []}
for kind, trace, minute, offset in (l.split() for l in open(sys.argv[1])):
    start = int(minute) - int(offset)  # the real instant the shifted clock turns the minute
    text = open(trace).readlines()
    lines = [m.groups() for m in map(event.match, text) if m and float(m.group(2)) >= start]
    ms = lambda t: (float(t) - start) * 1000
    tick = next(ms(t) for _, t, call, _, _ in lines if call == "write")
    conn = next((pid, fd, t) for pid, t, call, fd, rest in lines
                if call == "connect" and "htons(3050)" in rest)
    sent = [(t, rest) for pid, t, call, fd, rest in lines
            if pid == conn[0] and fd == conn[1] and call == "sendto"]
    crypt = [i for i, (_, rest) in enumerate(sent) if rest.startswith('"\\x00\\x00\\x00\\x60')]
    request = (sent[crypt[0] + 2] if crypt else
               next(s for s in sent if s[1].startswith('"\\x00\\x00\\x00\\x55')))[0]
    answer = ended(text, conn[0], "recvfrom", float(request))
    rows[kind].append((tick, ms(conn[2]), ms(request), ms(answer)))
print("\n| due minute, ms from its start (median, min-max) | rounds | tick | connect | start request sent | request accepted |")
print("|---|---|---|---|---|---|")
for kind, found in rows.items():
    if not found: continue
    cells = [f"{statistics.median(c):.1f} ({min(c):.1f}-{max(c):.1f})" for c in zip(*found)]
    print(f"| {kind} | {len(found)} | " + " | ".join(cells) + " |")
for kind, found in rows.items():
    print(kind, "rounds:", "; ".join("/".join(f"{v:.1f}" for v in r) for r in found))
EOF

if [ -x "$build/bench/trigger_bench" ] && ((trigger_rounds > 0)); then
  # The same measure of the window, from 1.5 s before the due minute (the cold rounds' wait)
  # and from 61.5 s (a whole minute's wait before the due one, as the warm rounds).
  for lead in 1500 61500; do
    echo
    echo "the window (bench/trigger_bench $trigger_rounds DB $lead: in the program, the request accepted):"
    "$build/bench/trigger_bench" "$trigger_rounds" "$QV_FB_SAMPLE_DB" $lead 2>/dev/null |
      sed -n '/trigger latency/,$p'
  done
fi
echo "uptime at end:$(uptime)"
