#!/usr/bin/env bash
# For a first look: when no Firebird server answers on localhost, install and start a local one
# with a small sample database, and print what to type into Quorvane's window.
# An existing server's users and passwords are never touched.
set -uo pipefail
cd "$(dirname "$0")/.."
if bash scripts/firebird-server.sh status; then
  state=${QV_FB_STATE:-/var/lib/quorvane-fb}/env
  if [ -f "$state" ]; then
    . "$state"
  else
    echo "A Firebird server already answers on localhost; use its own SYSDBA password." >&2
    exit 0
  fi
else
  bash scripts/firebird-server.sh start || exit 1
  . "${QV_FB_STATE:-/var/lib/quorvane-fb}/env"
fi
cat >&2 <<EOT

A local Firebird server is running. Type these into Quorvane's window:
  主機名稱 (server)        localhost
  資料庫名稱 (database)    ${QV_FB_SAMPLE_DB:-}
  通訊協定 (protocol)      TCP
  登入設定 (login)         SYSDBA / ${QV_FB_PASSWORD:-}
  路徑 (backup directory)  ${QV_FB_BACKUP_DIR:-}
Then press 啟動 (start). Check a backup with:
  gbak -c -se localhost:service_mgr ${QV_FB_BACKUP_DIR:-}/NAME.gbk /tmp/check.fdb -user SYSDBA -password '${QV_FB_PASSWORD:-}'

EOT
