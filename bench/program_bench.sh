#!/usr/bin/env bash
# Start-up and idle cost of the real program, offscreen:
#  - start-up: from exec to the armed window ("程式執行" in the log), against a minimal Qt
#    widget program shown and closed (median of N runs each);
#  - idle: resident memory once minimised, and wake-ups (voluntary context switches) over one
#    idle minute.
#   bench/program_bench.sh BUILD_DIR [runs]
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-10}
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
mkdir -p "$XDG_RUNTIME_DIR" "$work/app" && chmod 700 "$XDG_RUNTIME_DIR"
trap 'rm -rf "$work"' EXIT
cp "$build/src/app/Quorvane" "$work/app/"
now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

ours=() minimal=()
for _ in $(seq 1 "$runs"); do
  rm -f "$work/app/PROC_LOG.TXT"
  t0=$(now)
  (cd "$work/app" && exec ./Quorvane >/dev/null 2>&1) & pid=$!
  until grep -q '程式執行' "$work/app/PROC_LOG.TXT" 2>/dev/null; do sleep 0.002; done
  t1=$(now)
  kill -TERM $pid; wait $pid || true
  ours+=($(( (t1 - t0) / 1000000 )))
  t0=$(now); "$build/bench/minimal_qt" >/dev/null 2>&1; t1=$(now)
  minimal+=($(( (t1 - t0) / 1000000 )))
done
m_ours=$(printf '%s\n' "${ours[@]}" | median)
m_min=$(printf '%s\n' "${minimal[@]}" | median)

printf '[Para]\r\nDATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\nTIMEMODE=7\r\nBACKUPTIME=9999\r\n' >"$work/app/Quorvane.ini"
(cd "$work/app" && exec ./Quorvane >/dev/null 2>&1) & pid=$!
sleep 5   # minimised after one second
rss=$(awk '/VmRSS/ {print $2}' /proc/$pid/status)
c0=$(awk '/^voluntary_ctxt_switches/ {print $2}' /proc/$pid/status)
sleep 60
c1=$(awk '/^voluntary_ctxt_switches/ {print $2}' /proc/$pid/status)
kill -TERM $pid; wait $pid || true

echo "| measure | value | target |"
echo "|---|---|---|"
echo "| start-up to armed window, median of $runs (ms) | $m_ours | |"
echo "| minimal Qt widget program shown, median of $runs (ms) | $m_min | |"
echo "| resident memory, minimised (MiB) | $(awk -v k="$rss" 'BEGIN {printf "%.1f", k/1024}') | <= 30 |"
echo "| wake-ups in one idle minute (voluntary context switches) | $((c1 - c0)) | <= 1 from our code |"
