#!/usr/bin/env bash
# Runs a command with host names resolved from /etc/hosts only (a private mount namespace with
# its own nsswitch.conf), so an "unknown host" test never sends a DNS query anywhere. The
# command replaces this script's process, so the test's signal reaches the command itself.
set -euo pipefail
conf=$(mktemp)
chmod 644 "$conf"
grep -v '^hosts:' /etc/nsswitch.conf >"$conf" || true
echo 'hosts: files' >>"$conf"
export QV_FILES_ONLY_DNS=1
# The bind mount keeps the file for the namespace; its name goes before the command starts.
exec unshare -m bash -c 'mount --bind "$0" /etc/nsswitch.conf && rm -f "$0" && exec "$@"' "$conf" "$@"
