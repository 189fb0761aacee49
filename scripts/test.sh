#!/usr/bin/env bash
# Installs everything, starts the local Firebird test server, then builds and runs the whole
# test suite twice: a plain build and one with AddressSanitizer + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/firebird-server.sh start --test
trap 'bash scripts/firebird-server.sh stop' EXIT

export QT_QPA_PLATFORM=offscreen
export QV_FB_ENV=${QV_FB_STATE:-/var/lib/quorvane-fb}/env

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir"
  ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300
}

run_suite build -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_SANITIZE=ON
