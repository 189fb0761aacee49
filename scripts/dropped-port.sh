#!/usr/bin/env bash
# Runs a command in a private network namespace whose loopback drops every connection attempt
# to one port (a firewall rule), so a test can meet a host that never answers; no traffic
# leaves the namespace. The command replaces this script's process (unshare and bash exec it),
# so the test's signal reaches the command itself.
set -euo pipefail
export QV_DROPPED_PORT=${QV_DROPPED_PORT:-3099}
exec unshare -n bash -c 'ip link set lo up && iptables -A INPUT -i lo -p tcp --dport "$QV_DROPPED_PORT" -j DROP && exec "$@"' bash "$@"
