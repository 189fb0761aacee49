#!/usr/bin/env bash
# Runs a command with host names resolved from /etc/hosts only (a private mount namespace with
# its own nsswitch.conf), so an "unknown host" test never sends a DNS query anywhere.
set -euo pipefail
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
grep -v '^hosts:' /etc/nsswitch.conf >"$tmp" || true
echo 'hosts: files' >>"$tmp"
export QV_FILES_ONLY_DNS=1
unshare -m bash -c 'mount --bind "$0" /etc/nsswitch.conf && exec "$@"' "$tmp" "$@"
