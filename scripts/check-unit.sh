#!/usr/bin/env bash
# Checks the service unit of a built package offline (systemd need not be running):
# systemd-analyze verify must be silent, and the unit's overall exposure must be 1.5 or less.
#   check-unit.sh PATH/TO/quorvane_*.deb
set -euo pipefail
deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
# The units the template refers to (targets, the system's own services) come from this system.
cp -rn /lib/systemd/system/. "$root/usr/lib/systemd/system/"
unit=$root/quorvane@check.service
cp "$root/usr/lib/systemd/system/quorvane@.service" "$unit"
# The manual page is checked by lintian; here only the unit and the program it names.
out=$(cd "$root" && systemd-analyze verify --man=no --root="$root" "$unit" 2>&1) || true
if [ -n "$out" ]; then echo "$out"; echo "systemd-analyze verify: not clean"; exit 1; fi
exposure=$(systemd-analyze security --offline=true "$unit" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
echo "quorvane@.service: verify clean, overall exposure $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 1.5) }'
