#!/usr/bin/env bash
# The program as the package installs it: built and installed with a temporary
# CMAKE_INSTALL_PREFIX (so <prefix>/lib/quorvane is its install directory), started through the
# quorvane command, offscreen, as a normal user and as root, each with its own HOME and XDG
# variables. Settings and log must land in the user's own directories, an administrator's
# defaults must be read and never written, nothing may be written into the installed tree, and
# a copy in a writable directory keeps everything beside itself.
#   installed_program_test.sh SOURCE_DIR BUILD_DIR BUILD_TYPE CXX_COMPILER
# BUILD_DIR is kept between runs: only the source that names the prefix is rebuilt.
set -uo pipefail
source_dir=$1 build=$2 build_type=$3 cxx=$4
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8
work=$(mktemp -d)
chmod 755 "$work"  # the normal user must reach its directories
pid=
trap '[ -n "$pid" ] && kill -KILL $pid 2>/dev/null; rm -rf "$work"' EXIT
passed=0 failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}

prefix=$work/prefix
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
  -DCMAKE_CXX_COMPILER="$cxx" -DQUORVANE_TESTS=OFF -DQUORVANE_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix" >"$work/build.log" 2>&1 &&
  ninja -C "$build" -j2 Quorvane quorvaned >>"$work/build.log" 2>&1 &&
  cmake --install "$build" >>"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; echo "0 passed, 1 failed"; exit 1; }
chmod -R go-w "$prefix"
command=$prefix/bin/quorvane
check "the quorvane command leads to the installed program" \
  '[ "$(readlink -f "$command")" = "$prefix/lib/quorvane/Quorvane" ]'
tree() { find "$prefix" -printf '%p %s %m %u %T@\n' | sort | md5sum; }
tree_before=$(tree)

# The administrator's defaults, in the second of the configuration directories.
mkdir -p "$work/xdg-empty" "$work/xdg/quorvane"
far=$(date -d '+12 hours' +%H%M)  # the one backup time of the day, far from now
printf '[Para]\r\nSERVERNAME=admin-host\r\nTIMEMODE=7\r\nBACKUPTIME=%s\r\n' "$far" \
  >"$work/xdg/quorvane/Quorvane.ini"
admin_sum=$(md5sum <"$work/xdg/quorvane/Quorvane.ini")

# start USER HOME PROGRAM LOGFILE [VAR=VALUE...]: runs the program until its first log line
# or its first word on stderr (or 10 s), then ends it with a termination signal; $out holds what
# it said on stderr, where an offscreen program also shows its message boxes.
start() {
  local user=$1 home=$2 program=$3 logfile=$4; shift 4
  local as=() run=$home/run
  [ "$user" = root ] || as=(setpriv --reuid="$user" --regid=nogroup --clear-groups)
  install -d -m 0700 -o "$user" "$home" "$run"
  (cd "$home" && exec "${as[@]}" env -i PATH="$PATH" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
     HOME="$home" XDG_RUNTIME_DIR="$run" XDG_CONFIG_DIRS="$work/xdg-empty:$work/xdg" "$@" \
     "$program") 2>"$home/err" >/dev/null & pid=$!
  for _ in $(seq 1 100); do
    grep -q '程式執行' "$logfile" 2>/dev/null || [ -s "$home/err" ] && break
    sleep 0.1
  done
  sleep 0.5  # the start-up sequence ends right after its first log line
  kill -TERM $pid 2>/dev/null
  for _ in $(seq 1 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  kill -KILL $pid 2>/dev/null; wait $pid; pid=
  out=$(cat "$home/err")
}
messages() { cut -c17- "$1" 2>/dev/null | tr -d '\r' | tr '\n' '|'; }
owner_mode() { stat -c '%U %a' "$1" 2>/dev/null; }

# A normal user: XDG_CONFIG_HOME and XDG_STATE_HOME set, the defaults of neither needed.
home=$work/user
start nobody "$home" "$command" "$home/state/quorvane/PROC_LOG.TXT" \
  XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state"
ini=$home/config/quorvane/Quorvane.ini
check "user: no box at start-up (said: $out)" '[[ "$out" != *"Quorvane: "* ]]'
check "user: settings saved at close in the config directory, 0600, the user's" \
  '[ "$(owner_mode "$ini")" = "nobody 600" ]'
check "user: the administrator's defaults were read" 'grep -q "^SERVERNAME=admin-host" "$ini"'
check "user: its directories are the user's, 0700" \
  '[ "$(owner_mode "$home/config/quorvane")" = "nobody 700" ] &&
   [ "$(owner_mode "$home/state/quorvane")" = "nobody 700" ]'
check "user: log lines in the state directory ($(messages "$home/state/quorvane/PROC_LOG.TXT"))" \
  '[ "$(messages "$home/state/quorvane/PROC_LOG.TXT")" = "程式執行|系統結束|" ]'
# Once the user has a settings file, it is the one read: new defaults do not reach it.
sed -i 's/admin-host/admin-changed/' "$work/xdg/quorvane/Quorvane.ini"
admin_sum=$(md5sum <"$work/xdg/quorvane/Quorvane.ini")
start nobody "$home" "$command" "$home/state/quorvane/PROC_LOG.TXT" \
  XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state"
check "user: the second start reads the user's own file" 'grep -q "^SERVERNAME=admin-host" "$ini"'
check "user: the log grows" \
  '[ "$(messages "$home/state/quorvane/PROC_LOG.TXT")" = "程式執行|系統結束|程式執行|系統結束|" ]'

# Root, with the XDG defaults under its HOME, started as the menu entry starts it: the
# installed program is per user for root too.
entry=$prefix/share/applications/quorvane.desktop
exec_line=$(sed -n 's/^Exec=//p' "$entry") icon=$(sed -n 's/^Icon=//p' "$entry")
check "the menu entry starts the installed program and names its icon" \
  '[ "$exec_line" = "$prefix/lib/quorvane/Quorvane" ] &&
   [ -f "$prefix/share/icons/hicolor/64x64/apps/$icon.png" ]'
home=$work/root
start root "$home" "$exec_line" "$home/.local/state/quorvane/PROC_LOG.TXT"
check "root: no box at start-up (said: $out)" '[[ "$out" != *"Quorvane: "* ]]'
check "root: settings in ~/.config/quorvane, 0600" \
  '[ "$(owner_mode "$home/.config/quorvane/Quorvane.ini")" = "root 600" ]'
check "root: log in ~/.local/state/quorvane" \
  '[ "$(messages "$home/.local/state/quorvane/PROC_LOG.TXT")" = "程式執行|系統結束|" ]'
check "nothing written into the installed tree" '[ "$(tree)" = "$tree_before" ]'
check "the administrator's defaults were never written" \
  '[ "$(md5sum <"$work/xdg/quorvane/Quorvane.ini")" = "$admin_sum" ] &&
   [ "$(owner_mode "$work/xdg/quorvane/Quorvane.ini")" = "root 644" ]'

# A user whose own directories cannot be written either: the box names them.
home=$work/locked
install -d -m 0755 "$work/locked-dirs"
start nobody "$home" "$command" /dev/null \
  XDG_CONFIG_HOME="$work/locked-dirs/config" XDG_STATE_HOME="$work/locked-dirs/state"
check "unwritable user directories: named at start-up (said: $out)" \
  '[[ "$out" == *"使用者目錄 $work/locked-dirs/config/quorvane 與 $work/locked-dirs/state/quorvane 無法寫入"* ]]'

# A copy in a directory the user can write keeps everything beside itself.
home=$work/copy-user
install -d -m 0755 -o nobody "$work/copy"
install -m 0755 -o nobody "$prefix/lib/quorvane/Quorvane" "$work/copy/Quorvane"
start nobody "$home" "$work/copy/Quorvane" "$work/copy/PROC_LOG.TXT"
check "writable copy: settings and log beside it" \
  '[ "$(owner_mode "$work/copy/Quorvane.ini")" = "nobody 600" ] &&
   [ "$(messages "$work/copy/PROC_LOG.TXT")" = "程式執行|系統結束|" ]'
check "writable copy: nothing in the user's directories" \
  '[ ! -e "$home/.config/quorvane" ] && [ ! -e "$home/.local/state/quorvane" ]'

source "$source_dir/tests/processes.sh"
check "nothing left running ($(programs_left "$work"))" '[ -z "$(programs_left "$work")" ]'

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
