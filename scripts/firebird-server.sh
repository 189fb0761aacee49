#!/usr/bin/env bash
# A local Firebird 3 server for Quorvane's end-to-end tests and for a first look.
#
#   firebird-server.sh install   install the server (fresh installs get a known SYSDBA password)
#   firebird-server.sh start     start it without systemd, wait for port 3050, create the sample database
#   firebird-server.sh stop      stop the server we started (TERM, then KILL after 10 s)
#   firebird-server.sh kill      kill the server we started at once (a server that dies)
#   firebird-server.sh status    exit 0 when a server answers on localhost:3050
#   firebird-server.sh env       print the state file (password, paths) for tests
#
# State lives in $QV_FB_STATE (default /var/lib/quorvane-fb): env (shell-sourceable), server.pid, server.log.
# With --test, install/start may reset the SYSDBA password of an install whose password we do not know;
# without it an existing server's users and passwords are never touched.
set -euo pipefail

STATE=${QV_FB_STATE:-/var/lib/quorvane-fb}
ENV_FILE=$STATE/env
PID_FILE=$STATE/server.pid
LOG=$STATE/server.log
DATA_DIR=/var/lib/firebird/3.0/data/quorvane
BACKUP_DIR=/var/lib/firebird/3.0/backup/quorvane
SAMPLE_DB=$DATA_DIR/sample.fdb
SAMPLE_ROWS=${QV_FB_ROWS:-5000}
BIG_DB=$DATA_DIR/big.fdb  # --test only: a backup that takes several seconds
BIG_ROWS=${QV_FB_BIG_ROWS:-2000000}
SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb
SERVER=${QV_FB_SERVER:-/usr/sbin/firebird}  # the server program (tests name a stand-in)
TEST_MODE=0

say() { printf 'firebird-server: %s\n' "$*" >&2; }
as_firebird() { setpriv --reuid=firebird --regid=firebird --init-groups "$@"; }
# Dials localhost the way the client library does, every address it resolves to: Debian's
# firebird.conf binds the server to localhost, which a stock /etc/hosts resolves to ::1 first.
port_open() { (exec 3<>/dev/tcp/localhost/3050) 2>/dev/null; }

load_env() { [ -f "$ENV_FILE" ] && . "$ENV_FILE"; return 0; }

write_env() {
  install -d -m 0700 "$STATE"
  umask 077
  cat >"$ENV_FILE" <<EOT
QV_FB_PASSWORD='$1'
QV_FB_USER='SYSDBA'
QV_FB_HOST='localhost'
QV_FB_SAMPLE_DB='$SAMPLE_DB'
QV_FB_SAMPLE_ROWS='$SAMPLE_ROWS'
QV_FB_BACKUP_DIR='$BACKUP_DIR'
QV_FB_BIG_DB='$BIG_DB'
QV_FB_STATE='$STATE'
EOT
}

new_password() { head -c 64 /dev/urandom | tr -dc 'A-Za-z0-9' | head -c 12; }

password_works() {
  [ -n "${1:-}" ] && fbsvcmgr localhost:service_mgr user SYSDBA password "$1" info_server_version >/dev/null 2>&1
}

do_install() {
  install -d -m 0700 "$STATE"
  load_env
  if ! dpkg-query -W -f='${Status}' firebird3.0-server 2>/dev/null | grep -q 'install ok installed'; then
    local pw=${QV_FB_PASSWORD:-$(new_password)}
    echo "firebird3.0-server shared/firebird/sysdba_password/first_install password $pw" | debconf-set-selections
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends firebird3.0-server firebird3.0-utils libfbclient2 >/dev/null \
      || { apt-get update -qq && apt-get install -y -qq --no-install-recommends firebird3.0-server firebird3.0-utils libfbclient2 >/dev/null; }
    /etc/init.d/firebird3.0 stop >/dev/null 2>&1 || true
    write_env "$pw"
    say "installed firebird3.0-server with a new SYSDBA password"
  fi
}

# Makes sure $ENV_FILE holds a password that the server accepts; the server must be running.
settle_password() {
  load_env
  password_works "${QV_FB_PASSWORD:-}" && return 0
  if [ -r /etc/firebird/3.0/SYSDBA.password ]; then
    local pw; pw=$(. /etc/firebird/3.0/SYSDBA.password; echo "${ISC_PASSWORD:-}")
    if password_works "$pw"; then write_env "$pw"; return 0; fi
  fi
  if [ "$TEST_MODE" -ne 1 ]; then
    say "the SYSDBA password of this Firebird server is not known here; it was left as it is"
    return 1
  fi
  say "--test: setting a known SYSDBA password on this test machine"
  do_stop_server
  local pw; pw=$(new_password)
  printf "create or alter user SYSDBA password '%s';\ncommit;\n" "$pw" | as_firebird isql-fb -q -user SYSDBA "$SECURITY_DB" >/dev/null
  install -d -o firebird -g firebird -m 0770 /tmp/firebird
  chown -R firebird:firebird /tmp/firebird
  write_env "$pw"
  start_server
  password_works "$pw"
}

start_server() {
  install -d -o firebird -g firebird -m 0770 /tmp/firebird
  chown -R firebird:firebird /tmp/firebird 2>/dev/null || true
  : >>"$LOG"
  setpriv --reuid=firebird --regid=firebird --init-groups "$SERVER" </dev/null >>"$LOG" 2>&1 &
  echo $! >"$PID_FILE"
  for _ in $(seq 1 100); do port_open && return 0; sleep 0.1; done
  say "the server did not open port 3050; see $LOG"
  return 1
}

# is_our_server PID: the process is the server program running as firebird. The pid file
# outlives a reboot, and its number may by now belong to any other process.
is_our_server() {
  [[ $1 =~ ^[1-9][0-9]*$ ]] || return 1
  [ "$(stat -c %U "/proc/$1" 2>/dev/null)" = firebird ] || return 1
  # The program file itself, compared as a file: a server started in a private mount namespace
  # (stock-hosts.sh) shows its path as seen from there, which inside a chroot is not this one.
  [ "/proc/$1/exe" -ef "$SERVER" ] && return 0
  # Or the program as it was when it started, replaced since (an upgrade).
  local exe; exe=$(readlink "/proc/$1/exe" 2>/dev/null) || return 1
  [ "${exe% (deleted)}" = "$(readlink -f "$SERVER")" ]
}

# do_stop_server [KILL]: TERM (an idle server now and then ignores it), KILL after 10 s; with
# KILL at once. Only the server we started is signalled.
do_stop_server() {
  [ -f "$PID_FILE" ] || return 0
  local pid; pid=$(cat "$PID_FILE")
  if is_our_server "$pid"; then
    if [ "${1:-}" != KILL ]; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do is_our_server "$pid" || break; sleep 0.1; done
    fi
    if is_our_server "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
    for _ in $(seq 1 50); do is_our_server "$pid" || break; sleep 0.1; done
  fi
  rm -f "$PID_FILE"
}

# make_database PATH ROWS: table T with ROWS rows, unless PATH exists.
make_database() {
  [ -f "$1" ] && return 0
  isql-fb -q -user SYSDBA -password "$QV_FB_PASSWORD" >/dev/null <<EOT
CREATE DATABASE 'localhost:$1' DEFAULT CHARACTER SET UTF8;
CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40));
COMMIT;
SET TERM ^ ;
EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < $2) DO BEGIN INSERT INTO T VALUES (:I, 'row ' || :I); I = I + 1; END END^
SET TERM ; ^
COMMIT;
EOT
  say "created $1 with $2 rows"
}

make_sample() {
  load_env
  install -d -o firebird -g firebird -m 0770 "$DATA_DIR" "$BACKUP_DIR"
  make_database "$SAMPLE_DB" "$SAMPLE_ROWS"
  if [ "$TEST_MODE" -eq 1 ]; then make_database "$BIG_DB" "$BIG_ROWS"; fi
}

do_start() {
  do_install
  if port_open; then
    say "a server already answers on localhost:3050"
  else
    start_server
  fi
  settle_password
  make_sample
}

for a in "$@"; do [ "$a" = "--test" ] && TEST_MODE=1; done
case "${1:-}" in
  install) do_install ;;
  start) do_start ;;
  stop) do_stop_server ;;
  kill) do_stop_server KILL ;;
  status) port_open ;;
  env) cat "$ENV_FILE" ;;
  *) sed -n '2,14p' "$0" >&2; exit 2 ;;
esac
