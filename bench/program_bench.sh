#!/usr/bin/env bash
# Start-up and memory of the real program against bench/minimal_qt (the same window: the same
# kinds of controls, texts and font families, minimised one second after it is shown), side by
# side in one run: round by round the two programs start one after the other (which one goes
# first alternates), each measured by bench/startup_probe:
#  - start-up: from the start to the window being up (Quorvane: "程式執行" written to its log,
#    which happens once the window has been shown; minimal_qt: the line its show event writes),
#    and the time on a CPU until then, which waiting for a busy CPU does not lengthen;
#  - memory once minimised (3 s after the start): proportional set size (PSS) and private dirty;
#    resident (RSS) and unique (USS: private clean + dirty) beside them. PSS shares each library
#    page among all processes that map it, so other Qt programs running meanwhile lower both
#    programs' figures: compare the two of one round, not figures of different runs.
# Then the idle cost: wake-ups (voluntary context switches) of the minimised program over one
# idle period. Both programs use the same Qt platform: QT_QPA_PLATFORM, offscreen unless set.
#   bench/program_bench.sh [--desktop] BUILD_DIR [rounds=9] [idle_seconds=60, 0 to skip]
# --desktop: as on a desktop session with a notification area, where the tray's questions to the
# session bus cost: the X platform on a fresh Xvfb, a private session bus (dbus-run-session) and
# a StatusNotifier watcher with a host on it (tests/gui/sni_watcher.py, as KDE Plasma, XFCE and
# GNOME with AppIndicator have), so that minimised, Quorvane's icon is a D-Bus item.
# With SMAPS_DIR set, each program's /proc/PID/smaps of the last round is kept there.
set -euo pipefail
if [ "${1:-}" = --desktop ]; then
  shift
  if [ -z "${QV_BENCH_DESKTOP:-}" ]; then
    # Xvfb and the bus first; this script again inside them (no stdin: xvfb-run waits on it).
    exec env QV_BENCH_DESKTOP=1 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
      dbus-run-session -- "$0" --desktop "$@" </dev/null
  fi
  watcher_out=$(mktemp)
  /usr/bin/python3 "$(dirname "$0")/../tests/gui/sni_watcher.py" >"$watcher_out" 2>&1 &
  watcher=$!
  trap 'kill $watcher 2>/dev/null; rm -f "$watcher_out"' EXIT
  for _ in $(seq 1 100); do grep -q 'WATCHER READY' "$watcher_out" && break; sleep 0.1; done
  grep -q 'WATCHER READY' "$watcher_out" || { echo "the StatusNotifier watcher did not start" >&2; exit 1; }
  "$0" "$@"
  # Each round's Quorvane minimised into the tray: one registered item per round.
  echo "StatusNotifier items registered: $(grep -c '^ITEM ' "$watcher_out")"
  exit 0
fi
build=$(realpath "${1:-build}")
rounds=${2:-9}
idle=${3:-60}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
mkdir -p "$XDG_RUNTIME_DIR" "$work/app" "$work/min" && chmod 700 "$XDG_RUNTIME_DIR"
trap 'rm -rf "$work"' EXIT
cp "$build/src/gui/Quorvane" "$work/app/"
# Written to disk before it runs: a program file still dirty in the page cache counts as private
# dirty memory of the process that maps it.
sync "$work/app/Quorvane"
probe=$build/bench/startup_probe
settle_ms=3000
# Armed with a database and a backup directory, so it minimises itself one second after it is
# shown; the specific time 99:99 never falls due.
ini() {
  printf '[Para]\r\nDATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\nTIMEMODE=7\r\nBACKUPTIME=9999\r\n' \
    >"$work/app/Quorvane.ini"
}
ours=("$work/app/PROC_LOG.TXT" "$work/app/Quorvane")
minimal=("$work/min/shown" "$build/bench/minimal_qt" "$work/min/shown")
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
column() { awk -v c="$1" '{print $c}' "$2" | median; }

echo "platform $QT_QPA_PLATFORM${QV_BENCH_DESKTOP:+ with a session bus and a StatusNotifier watcher}, $(nproc) cores, $rounds rounds; uptime at start:$(uptime)"
: >"$work/ours" && : >"$work/minimal"
echo "round  Quorvane: start-up ms, PSS, private dirty, RSS, USS KiB, CPU ms  |  minimal_qt: the same"
for i in $(seq 1 "$rounds"); do
  ini
  rm -f "$work/app/PROC_LOG.TXT" "$work/min/shown"
  if ((i % 2)); then
    out=$(SMAPS_COPY1=${SMAPS_DIR:+$SMAPS_DIR/quorvane.smaps} \
      SMAPS_COPY2=${SMAPS_DIR:+$SMAPS_DIR/minimal_qt.smaps} \
      "$probe" $settle_ms "${ours[@]}" -- "${minimal[@]}" 2>/dev/null)
    a=$(sed -n 1p <<<"$out") b=$(sed -n 2p <<<"$out")
  else
    out=$(SMAPS_COPY1=${SMAPS_DIR:+$SMAPS_DIR/minimal_qt.smaps} \
      SMAPS_COPY2=${SMAPS_DIR:+$SMAPS_DIR/quorvane.smaps} \
      "$probe" $settle_ms "${minimal[@]}" -- "${ours[@]}" 2>/dev/null)
    b=$(sed -n 1p <<<"$out") a=$(sed -n 2p <<<"$out")
  fi
  echo "$a" >>"$work/ours" && echo "$b" >>"$work/minimal"
  printf '%5d  %-48s |  %s\n' "$i" "$a" "$b"
done
echo "uptime at end:$(uptime)"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
s_o=$(column 1 "$work/ours") s_m=$(column 1 "$work/minimal")
p_o=$(column 2 "$work/ours") p_m=$(column 2 "$work/minimal")
d_o=$(column 3 "$work/ours") d_m=$(column 3 "$work/minimal")
echo "| measure (median of $rounds, $QT_QPA_PLATFORM) | Quorvane | minimal_qt | ratio | target |"
echo "|---|---|---|---|---|"
c_o=$(column 6 "$work/ours") c_m=$(column 6 "$work/minimal")
echo "| start-up to the window up (ms) | $s_o | $s_m | $(ratio "$s_o" "$s_m") | <= 1.2 |"
echo "| the same, time on a CPU (ms) | $c_o | $c_m | $(ratio "$c_o" "$c_m") | |"
echo "| minimised, PSS (MiB) | $(mib "$p_o") | $(mib "$p_m") | $(ratio "$p_o" "$p_m") | <= 1.1 |"
echo "| minimised, private dirty (MiB) | $(mib "$d_o") | $(mib "$d_m") | $(ratio "$d_o" "$d_m") | <= 1.15 |"
r_o=$(column 4 "$work/ours") r_m=$(column 4 "$work/minimal")
u_o=$(column 5 "$work/ours") u_m=$(column 5 "$work/minimal")
echo "| minimised, RSS (MiB) | $(mib "$r_o") | $(mib "$r_m") | $(ratio "$r_o" "$r_m") | |"
echo "| minimised, USS (MiB) | $(mib "$u_o") | $(mib "$u_m") | $(ratio "$u_o" "$u_m") | |"

((idle > 0)) || exit 0
ini
(cd "$work/app" && exec ./Quorvane >/dev/null 2>&1) &
pid=$!
sleep 3 # minimised after one second
c0=$(awk '/^voluntary_ctxt_switches/ {print $2}' /proc/$pid/status)
sleep "$idle"
c1=$(awk '/^voluntary_ctxt_switches/ {print $2}' /proc/$pid/status)
kill -TERM $pid
wait $pid || true
echo "| wake-ups in $idle idle seconds, minimised (voluntary context switches) | $((c1 - c0)) |"
