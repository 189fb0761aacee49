#!/usr/bin/env bash
# Makes the Debian package in the current directory (quorvane_<version>_<arch>.deb): a Release
# build configured for /usr (build-deb/ in the source tree), packaged by cpack -G DEB.
# Install it with: apt install ./quorvane_*.deb
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$source_dir/build-deb
if [ "$(id -u)" -eq 0 ]; then bash "$source_dir/scripts/install-deps.sh"; fi
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_TESTS=OFF \
  -DQUORVANE_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
ninja -C "$build" Quorvane quorvaned
rm -f "$build"/quorvane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
cp "$build"/quorvane_*.deb .
ls "$PWD"/quorvane_*.deb
