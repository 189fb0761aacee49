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
# The server was started above: a server test that cannot reach it fails instead of skipping.
export QV_SERVER_REQUIRED=1

# run_suite DIR CMAKE_ARGS...: builds and runs the suite; the tests it skipped go to $DIR/skipped.
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir"
  ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300 | tee "$dir/ctest.out"
  grep -E '\*\*\*(Skipped|Not Run)' "$dir/ctest.out" >"$dir/skipped" || true
}

# The libFuzzer targets, for a bounded time each (clang; longer runs by hand, see README).
root=$PWD
fuzz_dir=$(mktemp -d)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVANE_FUZZ=ON -DQUORVANE_TESTS=OFF >/dev/null
ninja -C build-fuzz ini_fuzz request_fuzz
for t in ini request; do
  mkdir -p "$fuzz_dir/$t" && cp tests/fuzz/corpus/$t/* "$fuzz_dir/$t/"
  (cd "$fuzz_dir" && "$root/build-fuzz/tests/fuzz/${t}_fuzz" -max_total_time=45 -rss_limit_mb=4096 \
     "$fuzz_dir/$t" 2>&1 | grep -E '^(Done|#[0-9]+ *DONE)|ERROR|SUMMARY') 
done
rm -rf "$fuzz_dir"

# The Debian package as the README makes it: lintian must report no error.
deb_dir=$(mktemp -d)
(cd "$deb_dir" && bash "$root/scripts/package.sh" >/dev/null)
lintian --fail-on error --info "$deb_dir"/quorvane_*.deb
# Its service unit, offline: verify clean and hardened (exposure 1.5 or less).
bash scripts/check-unit.sh "$deb_dir"/quorvane_*.deb
rm -rf "$deb_dir"

run_suite build -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_SANITIZE=ON

# A skipped test proves nothing: the run ends with their number, and fails unless it is 0.
skipped=$(cat build/skipped build-asan/skipped | wc -l)
cat build/skipped build-asan/skipped
echo "Skipped tests: $skipped (Debug $(wc -l <build/skipped), ASan+UBSan $(wc -l <build-asan/skipped))"
[ "$skipped" -eq 0 ]
