#!/usr/bin/env bash
# Runs a command with the /etc/hosts a stock Debian 12 install has (a private mount namespace),
# where localhost resolves to ::1 first: Debian's Firebird server then listens on [::1]:3050 only.
# The command replaces this script's process, so a signal to it reaches the command.
set -euo pipefail
hosts=$(mktemp)
chmod 644 "$hosts"
cat >"$hosts" <<EOT
127.0.0.1	localhost
127.0.1.1	$(uname -n)

# The following lines are desirable for IPv6 capable hosts
::1     localhost ip6-localhost ip6-loopback
ff02::1 ip6-allnodes
ff02::2 ip6-allrouters
EOT
export QV_STOCK_HOSTS=1
exec unshare -m bash -c 'mount --bind "$0" /etc/hosts && rm -f "$0" && exec "$@"' "$hosts" "$@"
