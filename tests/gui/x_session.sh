# Shared by the X-session tests: a private XDG world, clean-up, failure and bounded waits.
# Sourced after `program=$1`; defines $work and the helpers below.
export LANG=C.UTF-8
export QT_QPA_PLATFORM=xcb  # a real X window, whatever the test run set
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
source "$(dirname "${BASH_SOURCE[0]}")/../processes.sh"
pids=()
cleanup() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; exit 1; }
wait_for() { for _ in $(seq 1 100); do eval "$1" && return 0; sleep 0.1; done; return 1; }
find_window() {  # the first visible window with exactly this name, waiting up to 10 s
  local w
  for _ in $(seq 1 100); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
# Ends everything the test started, and passes only when no copy of the program it made is
# still running (a wrapper that kept its own process would leave the program behind).
finish() {
  end_pids "${pids[@]}"
  pids=()
  local left; left=$(programs_left "$work")
  [ -z "$left" ] || fail "still running after the test: $left"
  echo "1 passed, 0 failed"
}
# tool_tip BUS_NAME: the tool-tip of the StatusNotifier item at BUS_NAME, read over the session
# bus as a host reads it: its title (the toolkit puts the whole tip there, one line per line),
# then its text when there is one.
tool_tip() {
  /usr/bin/python3 - "$1" <<'EOF'
import sys, dbus
item = dbus.SessionBus().get_object(sys.argv[1], '/StatusNotifierItem')
icon, pixmaps, title, text = item.Get('org.kde.StatusNotifierItem', 'ToolTip',
                                      dbus_interface=dbus.PROPERTIES_IFACE)
print(title + ('\n' + text if text else ''))
EOF
}
start_window_manager() { openbox >/dev/null 2>&1 & pids+=($!); sleep 0.5; }
