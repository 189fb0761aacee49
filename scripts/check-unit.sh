#!/usr/bin/env bash
# Checks the service units of a built package offline (systemd need not be running): the
# resident quorvane@.service, the one-shot quorvane-now@.service and its timer. systemd-analyze
# verify must be silent on each, and each service's overall exposure must be 1.3 or less.
#   check-unit.sh PATH/TO/quorvane_*.deb
set -euo pipefail
deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
units=$root/usr/lib/systemd/system
# The units the templates refer to (targets, the system's own services) and the command the
# reload runs come from this system (Debian's merged /usr: /bin is usr/bin).
cp -rn /lib/systemd/system/. "$units/"
install -D "$(readlink -f /bin/kill)" "$root/usr/bin/kill" && ln -s usr/bin "$root/bin"
# verify UNIT: silent, or the unit's complaints and a failure.
verify() {
  local out
  # The manual page is checked by lintian; here only the unit and the program it names.
  out=$(cd "$root" && systemd-analyze verify --man=no --root="$root" "$1" 2>&1) || true
  if [ -n "$out" ]; then echo "$out"; echo "${1##*/}: systemd-analyze verify: not clean"; exit 1; fi
}
for template in quorvane@ quorvane-now@; do
  unit=$root/${template}check.service
  cp "$units/$template.service" "$unit"
  verify "$unit"
  exposure=$(systemd-analyze security --offline=true "$unit" |
             sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  echo "$template.service: verify clean, overall exposure $exposure"
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 1.3) }' ||
    { echo "$template.service: exposure above 1.3"; exit 1; }
done
# The timer starts the one-shot of the same instance, which verify loads and checks too.
cp "$units/quorvane-now@.timer" "$root/quorvane-now@check.timer"
verify "$root/quorvane-now@check.timer"
echo "quorvane-now@.timer: verify clean"
