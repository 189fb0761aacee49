#!/usr/bin/env bash
# Runs a command in a mount namespace of its own with two small file systems: QV_SMALL_FS, a
# 1 MiB tmpfs that a backup fills, and QV_READONLY_DIR, a read-only one. Needs root. The mounts
# go with the namespace; the empty mount points are removed afterwards.
set -uo pipefail
base=$(mktemp -d /tmp/qv-small-fs-XXXXXX)
trap 'rm -rf "$base"' EXIT
mkdir "$base/small" "$base/readonly"
export QV_SMALL_FS="$base/small" QV_READONLY_DIR="$base/readonly"
unshare -m bash -c '
    mount --make-rprivate / &&
    mount -t tmpfs -o size=1m,mode=0700 qv-small "$QV_SMALL_FS" &&
    mount -t tmpfs -o ro,size=64k qv-readonly "$QV_READONLY_DIR" &&
    exec "$@"' small-fs "$@"
