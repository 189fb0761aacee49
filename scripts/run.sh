#!/usr/bin/env bash
# Installs everything, builds Quorvane, makes sure a Firebird server answers on localhost
# (installing and starting a local one with a sample database when none does), and starts
# the program from its own directory, where it keeps Quorvane.ini and PROC_LOG.TXT.
set -euo pipefail
cd "$(dirname "$0")/.."
PROGRAM_DIR=${QUORVANE_HOME:-$HOME/quorvane}

bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_TESTS=OFF >/dev/null
ninja -C build-release Quorvane
install -d "$PROGRAM_DIR"
install -m 0755 build-release/src/app/Quorvane "$PROGRAM_DIR/Quorvane"

bash scripts/first-run-server.sh || true

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: Quorvane runs offscreen (it still keeps its schedule). Ctrl-C ends it." >&2
  export QT_QPA_PLATFORM=offscreen
fi
echo "Starting $PROGRAM_DIR/Quorvane (settings and log in $PROGRAM_DIR)" >&2
exec "$PROGRAM_DIR/Quorvane"
