#!/usr/bin/env bash
# Installs everything, starts the local Firebird test server, checks the Debian package (lintian,
# its units offline, its service in a booted Debian 12), then builds and runs the whole test
# suite twice: a plain build and one with AddressSanitizer + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/firebird-server.sh start --test
# The booted test's Debian 12 tree is made meanwhile (mostly downloads, beside the builds); on
# any exit the run waits for it and removes it.
boot_dir=$(mktemp -d -p /var/tmp quorvane-tree.XXXXXX)
bash tests/daemon/booted_systemd_test.sh --make-tree "$boot_dir/tree" & tree_job=$!
trap 'wait $tree_job 2>/dev/null; rm -rf "$boot_dir"; bash scripts/firebird-server.sh stop' EXIT

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
# Its service units, offline: verify clean and hardened (exposure 1.3 or less).
bash scripts/check-unit.sh "$deb_dir"/quorvane_*.deb
# The package installed with apt in a booted Debian 12 (systemd as PID 1), its service checked
# through systemctl and journalctl; once per run, and its outcome counted at the end.
booted_ok=0
if wait $tree_job; then
  bash tests/daemon/booted_systemd_test.sh "$deb_dir"/quorvane_*.deb "$boot_dir/tree" || booted_ok=$?
else
  echo "booted_systemd_test: the tree could not be made"; booted_ok=1
fi
rm -rf "$deb_dir" "$boot_dir/tree"

run_suite build -DCMAKE_BUILD_TYPE=Debug
# intercept_tls_get_addr=0: this runtime guesses where a thread's dynamic TLS block starts from the
# 16 bytes before it, which for a block that malloc placed 16 bytes past a page boundary are the
# allocator's own header: the leak check then scans from a bogus address and crashes at exit
# ("Tracer caught signal 11"), depending only on where the block landed. The blocks are found
# all the same from each thread's TLS, through the thread's DTV.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_SANITIZE=ON

# A skipped test proves nothing: the run ends with their number, and fails unless it is 0.
skipped=$(cat build/skipped build-asan/skipped | wc -l)
cat build/skipped build-asan/skipped
echo "Skipped tests: $skipped (Debug $(wc -l <build/skipped), ASan+UBSan $(wc -l <build-asan/skipped))"
[ "$booted_ok" -eq 0 ] || echo "booted_systemd_test failed (its output is above the suites')"
[ "$skipped" -eq 0 ] && [ "$booted_ok" -eq 0 ]
