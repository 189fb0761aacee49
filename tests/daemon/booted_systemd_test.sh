#!/usr/bin/env bash
# The service as a real systemd runs it: a Debian 12 tree booted with systemd as PID 1 in a
# container with its own network (so its Firebird server never meets the host's on port 3050),
# the package installed with apt beside Debian's firebird3.0-server, and everything checked
# through systemctl and journalctl. The container is powered off and the tree removed at the
# end, whatever failed. As root; needs debootstrap and systemd-nspawn (systemd-container).
#   booted_systemd_test.sh PATH/TO/quorvane_*.deb [TREE]
#   booted_systemd_test.sh --make-tree TREE
# The second form only makes the tree (Debian 12 with systemd), for example while the suite
# builds; the first then boots a copy of it and leaves TREE as it was.
set -uo pipefail
export LANG=C.UTF-8
# The test runs in a mount namespace of its own, whose mounts end with it: inside a chroot (a
# fresh machine's check) nothing here may change the mounts it shares with its host
# (debootstrap mounts /proc in the tree it makes).
if [ -z "${QV_BOOTED_NS:-}" ]; then
  script=$(realpath "$0") args=()
  for a in "$@"; do case $a in -*) args+=("$a") ;; *) args+=("$(realpath -m "$a")") ;; esac; done
  # A chroot's processes may not make user namespaces (the services' PrivateUsers=), and
  # neither may a container booted inside one. In the new namespace the chroot's own mount is
  # laid over the namespace's root, as systemd does when it switches root: then it is no
  # chroot. That root is reached as the root directory of an ancestor outside the chroot (the
  # shell that ran chroot).
  kind=plain
  if ! unshare --user true 2>/dev/null; then
    p=$$ here=$(stat -c %d:%i /)
    while [ "$p" -gt 1 ] && p=$(awk '/^PPid:/ { print $2 }' "/proc/$p/status") && [ -n "$p" ]; do
      there=$(stat -Lc %d:%i "/proc/$p/root/" 2>/dev/null) || continue
      if [ "$there" != "$here" ]; then cd "/proc/$p/root" && kind=chroot; break; fi
    done
  fi
  QV_BOOTED_NS=$kind exec unshare --mount --propagation private -- bash "$script" "${args[@]}"
fi
if [ "$QV_BOOTED_NS" = chroot ]; then
  mount --no-canonicalize --move / . && cd / ||
    { echo "cannot leave the chroot (is its directory a mount point?)"; echo "0 passed, 1 failed"; exit 1; }
fi
make_tree() {  # make_tree DIR LOG
  local mirror
  mirror=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm "$1" \
    "${mirror:-http://deb.debian.org/debian}" >"$2" 2>&1 || return 1
  if [ -e /etc/apt/sources.list.d/debian.sources ]; then
    cp /etc/apt/sources.list.d/debian.sources "$1/etc/apt/sources.list.d/" && rm -f "$1/etc/apt/sources.list"
  fi
}
if [ "${1:-}" = --make-tree ]; then
  make_tree "$2" "$2.log" || { tail -20 "$2.log"; exit 1; }
  exit 0
fi
deb=$1 base=${2:-}
# systemd-nspawn finds the cgroup hierarchies under /sys/fs/cgroup; a chroot whose /sys is a
# plain bind of the host's has none there. A v2 hierarchy of our own is enough for it.
if ! mountpoint -q /sys/fs/cgroup; then
  mount -t cgroup2 cgroup2 /sys/fs/cgroup || { echo "no cgroup hierarchy"; echo "0 passed, 1 failed"; exit 1; }
fi

work=$(mktemp -d -p /var/tmp quorvane-booted.XXXXXX)
tree=$work/tree
machine=qvbooted$$
nspawn= leader=
passed=0 failed=0
power_off() {
  [ -n "$nspawn" ] || return 0
  # SIGTERM makes systemd-nspawn ask the container's systemd for a clean power-off.
  kill -TERM "$nspawn" 2>/dev/null
  for _ in $(seq 1 300); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.1; done
  # nspawn's end takes the container with it; its PID 1 is ended too, should it linger.
  kill -KILL "$nspawn" 2>/dev/null && [ -n "$leader" ] && kill -KILL "$leader" 2>/dev/null
  wait "$nspawn" 2>/dev/null
  nspawn=
}
cleanup() {
  power_off
  # Nothing may stay mounted below the tree before it is removed.
  findmnt -rn -o TARGET | grep -F "$work/" | sort -r | xargs -r -n1 umount -l
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
check() {
  if eval "$2"; then passed=$((passed + 1)); return; fi
  failed=$((failed + 1)); echo "FAIL: $1"
  [ -z "${3:-}" ] || { echo "--- $3"; eval "$3" 2>&1 | tail -40; }
}
give_up() {  # give_up WHAT LOG: a step without which nothing else can be checked
  echo "FAIL: $1"; [ -z "${2:-}" ] || tail -30 "$2"
  echo "$passed passed, $((failed + 1)) failed"; exit 1
}
wait_for() { for _ in $(seq 1 ${2:-150}); do eval "$1" && return 0; sleep 0.2; done; return 1; }

# The tree: Debian 12 with systemd, from the mirror this machine uses.
SECONDS=0
if [ -n "$base" ]; then
  cp -a "$base" "$tree" || give_up "copying the tree $base"
else
  make_tree "$tree" "$work/debootstrap.log" || give_up "debootstrap" "$work/debootstrap.log"
fi
# Debian 12's own hosts file: "localhost" is ::1 as well as 127.0.0.1.
printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$tree/etc/hosts"
echo "$machine" >"$tree/etc/hostname"
cp "$deb" "$tree/root/"
deb_inside=/root/${deb##*/}
echo "tree made in ${SECONDS}s"

# Everything the installs need is fetched first, with this machine's network: the booted
# container has none.
SECONDS=0
systemd-nspawn -q -D "$tree" --register=no --keep-unit -E DEBIAN_FRONTEND=noninteractive \
  bash -c "apt-get update -qq && apt-get install -y -qq --download-only $deb_inside firebird3.0-server firebird3.0-utils" \
  >"$work/download.log" 2>&1 || give_up "fetching the packages" "$work/download.log"
echo "packages fetched in ${SECONDS}s"

SECONDS=0
systemd-nspawn -b -D "$tree" -M "$machine" --register=no --keep-unit --private-network \
  --console=read-only >"$work/console.log" 2>&1 &
nspawn=$!
# The container's PID 1: nspawn's child whose own pid namespace numbers it 1.
leader_pid() {
  local s
  for s in /proc/[0-9]*/status; do
    awk -v p="$nspawn" '/^PPid:/ { pp = $2 } /^NSpid:/ { ns = $NF; n = NF }
                        END { exit !(pp == p && ns == 1 && n > 2) }' "$s" 2>/dev/null &&
      { s=${s#/proc/}; echo "${s%/status}"; return 0; }
  done
  return 1
}
wait_for 'leader=$(leader_pid)' 100 || give_up "the container did not start" "$work/console.log"
# inside COMMAND...: run in the container. Its root is named (-r) and not left to the mount
# namespace: under a chroot, nspawn moves the tree over the chroot's directory, and the
# namespace's own root is then the host's.
inside() { nsenter -t "$leader" -a -r -w env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
# Until its bus is up systemctl cannot ask; then --wait waits for the boot's end.
wait_for 'inside systemctl is-system-running --wait >"$work/state.log" 2>&1 || grep -q degraded "$work/state.log"' ||
  { cat "$work/state.log"; give_up "systemd did not boot" "$work/console.log"; }
echo "booted in ${SECONDS}s: $(inside systemctl is-system-running)"

# Firebird with a known password and the package, with apt in one go, then a small database.
SECONDS=0
pw=booted-$$
# No manual page index: it is rebuilt after every install, and nobody reads it here.
inside bash -c "debconf-set-selections <<<'firebird3.0-server shared/firebird/sysdba_password/first_install password $pw
man-db man-db/auto-update boolean false'" || give_up "debconf"
# As an admin installs, but without a sync after every file (the tree is thrown away): on a
# busy machine the syncs alone take minutes.
inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o Dpkg::Options::=--force-unsafe-io \
  firebird3.0-server firebird3.0-utils "$deb_inside" >"$work/install.log" 2>&1 ||
  give_up "apt install of Firebird and the package" "$work/install.log"
echo "installed in ${SECONDS}s"
check "Firebird started by the container's systemd" \
  'wait_for "inside systemctl is-active -q firebird3.0 &&
             inside fbsvcmgr localhost:service_mgr user SYSDBA password $pw info_server_version >/dev/null 2>&1"' \
  'inside systemctl status firebird3.0'
data=/var/lib/firebird/3.0/data
backup=/var/lib/firebird/3.0/backup
db=$data/booted.fdb
isql() { inside isql-fb -q -user SYSDBA -password "$pw" "$@"; }
echo "CREATE DATABASE 'localhost:$db';
  CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40));
  SET TERM ^; EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN
  WHILE (I < 3000) DO BEGIN INSERT INTO T VALUES (:I, 'row ' || :I); I = I + 1; END END^
  SET TERM ;^ COMMIT;" | isql >"$work/isql.log" 2>&1 && [ ! -s "$work/isql.log" ] ||
  give_up "the database" "$work/isql.log"
check "the package made the user and the settings directory" \
  'inside id quorvane >/dev/null && [ "$(inside stat -c %a:%U:%G /etc/quorvane)" = 750:root:quorvane ]'

# settings NAME TIME [MORE]: /etc/quorvane/NAME.ini as an admin writes it (daily at TIME,
# verifying), group quorvane, 0640; its backup directory the server's.
settings() {
  printf '[Para]\nSERVERNAME=localhost\nDATABASENAME=%s\nUSERNAME=SYSDBA\nBACKUPDIR=%s\nPROTOCAL=3\nBACKUPMODE=0\nTIMEMODE=7\nBACKUPTIME=%s\nVERIFY=1\n%b' \
    "$db" "$backup/$1" "$2" "${3:-}" >"$tree/etc/quorvane/$1.ini"
  inside chgrp quorvane "/etc/quorvane/$1.ini" && chmod 0640 "$tree/etc/quorvane/$1.ini"
  inside install -d -o firebird -g firebird -m 0770 "$backup/$1"
}
show() { inside systemctl show -P "$2" "$1"; }  # show UNIT PROPERTY
# lines [JOURNALCTL ARGS]: the service's own lines, without the log's time stamp.
lines() { inside journalctl -q -o cat -t quorvaned "$@" | sed 's/^[0-9]\{8\}\.[0-9]\{6\}://'; }

# sales: its password a credential, encrypted with the container's own key as the README shows.
inside bash -c "printf '%s' '$pw' | systemd-creds encrypt --name=password - /etc/quorvane/sales.cred" \
  2>"$work/creds.log" || give_up "systemd-creds encrypt" "$work/creds.log"
mkdir -p "$tree/etc/systemd/system/quorvane@sales.service.d"
printf '[Service]\nLoadCredentialEncrypted=password:/etc/quorvane/sales.cred\n' \
  >"$tree/etc/systemd/system/quorvane@sales.service.d/credential.conf"
inside systemctl daemon-reload
# First a schedule twelve hours away; the reload below brings the due minute near.
far=$(inside date -d '+12 hours' '+%H%M %Y/%m/%d %H:%M')
settings sales "${far%% *}"
check "start: READY (systemctl start returns once it is)" 'inside systemctl start quorvane@sales' \
  'lines -u quorvane@sales; inside systemctl status quorvane@sales'
check "start: running, the status text names the next due minute" \
  '[ "$(show quorvane@sales ActiveState)/$(show quorvane@sales SubState)" = active/running ] &&
   [ "$(show quorvane@sales StatusText)" = "下次備份 ${far#* }" ]' 'show quorvane@sales StatusText'
main_pid=$(show quorvane@sales MainPID)

# A settings error: exit 2, its reason at err, failed and not restarted.
printf '[Para]\nDATABASENAME=%s\nBACKUPDIR=%s/nohost\n' "$db" "$backup" >"$tree/etc/quorvane/nohost.ini"
inside chgrp quorvane /etc/quorvane/nohost.ini && chmod 0640 "$tree/etc/quorvane/nohost.ini"
inside systemctl start quorvane@nohost 2>/dev/null; rc=$?
nohost_failed_at=$SECONDS
check "a settings error: the start fails with exit 2" \
  '[ $rc -ne 0 ] && [ "$(show quorvane@nohost ExecMainStatus)" = 2 ] &&
   [ "$(show quorvane@nohost ActiveState)" = failed ]' 'inside systemctl status quorvane@nohost'
check "a settings error: its reason at err" \
  'lines -u quorvane@nohost -p err | grep -q "nohost.ini: no server name (SERVERNAME) in section \[Para\]"' \
  'inside journalctl -u quorvane@nohost -o verbose | grep -E "PRIORITY|MESSAGE="'

# The coming due minute: the next one when 20 s or more are left before it, else the one after.
read -r now_s now_sec <<<"$(inside date '+%s %S')"
due_s=$(( (now_s / 60 + (10#$now_sec <= 40 ? 1 : 2)) * 60 ))
due=$(inside date -d "@$due_s" '+%H%M')
due_text=$(inside date -d "@$due_s" '+%Y/%m/%d %H:%M')
# A daily backup at a specific time is named by the day of the month.
day=Day$(inside date -d "@$due_s" '+%d')
next_text=$(inside date -d "@$((due_s + 86400))" '+%Y/%m/%d %H:%M')
# broken: a database the server does not have, due at the same minute.
settings broken "$due" "PASSWORD=$pw\n"
sed -i "s|^DATABASENAME=.*|DATABASENAME=$data/missing.fdb|" "$tree/etc/quorvane/broken.ini"
check "broken: started" 'inside systemctl start quorvane@broken'

# An edit takes effect with a reload: the same process reads the file again and goes on.
sed -i "s/^BACKUPTIME=.*/BACKUPTIME=$due/" "$tree/etc/quorvane/sales.ini"
reload_at=$(inside date '+%Y-%m-%d %H:%M:%S')
check "reload: systemctl reload succeeds" 'inside systemctl reload quorvane@sales'
check "reload: the settings read again" \
  'wait_for "lines -u quorvane@sales --since \"$reload_at\" | grep -q 重新讀取設定" 25' 'lines -u quorvane@sales'
check "reload: the same process runs on" \
  '[ "$(show quorvane@sales MainPID)" = "$main_pid" ] && [ "$(show quorvane@sales SubState)" = running ]'
check "reload: the status names the new due minute" \
  '[ "$(show quorvane@sales StatusText)" = "下次備份 $due_text" ]' 'show quorvane@sales StatusText'

# The due minute: sales backs up and verifies (info), broken fails (err).
gbk=$backup/sales/$day.gbk
check "the new schedule used: the due minute's backup is verified" \
  'wait_for "lines -u quorvane@sales | grep -q 驗證完成$gbk" 600' 'lines -u quorvane@sales'
check "sales: its lines at info, in order" \
  '[ "$(lines -u quorvane@sales -p 6..6 | sed "1,/^重新讀取設定$/d" | tr "\n" "|")" = "備份條件符合|開始備份$gbk|備份結束...|備份完成$gbk|驗證完成$gbk|" ]' \
  'lines -u quorvane@sales -o verbose | grep -E "PRIORITY|MESSAGE="'
check "sales: no line at warning or above" '[ -z "$(lines -u quorvane@sales -p warning)" ]'
check "sales: the status after the run" \
  '[ "$(show quorvane@sales StatusText)" = "上次備份 $due_text 驗證完成$gbk; 下次備份 $next_text" ]' \
  'show quorvane@sales StatusText'
rows=$(inside gbak -c -se localhost:service_mgr "$gbk" "$data/restored.fdb" -user SYSDBA -password "$pw" >/dev/null 2>&1 &&
       echo 'SELECT COUNT(*) FROM T;' | isql "localhost:$data/restored.fdb" | tr -dc '0-9\n' | grep -m1 -E '^[0-9]+$')
check "sales: the backup restores with every row" '[ "${rows:-0}" = 3000 ]'
# The server refuses a missing database at the start or right after it (a race of its own).
check "broken: the failure at err" \
  'wait_for "lines -u quorvane@broken -p err | grep -q -E \"^備份失敗$backup/broken/$day.gbk:|服務啟動失敗\"" 100' \
  'lines -u quorvane@broken -o verbose | grep -E "PRIORITY|MESSAGE="'
check "broken: the lines before it at info" \
  'lines -u quorvane@broken -p 6..6 | tr "\n" "|" | grep -q "^程式執行|備份條件符合|開始備份$backup/broken/$day.gbk|"' \
  'lines -u quorvane@broken -o verbose | grep -E "PRIORITY|MESSAGE="'
check "broken: still running after its failure" '[ "$(show quorvane@broken SubState)" = running ]'

# The one-shot for admins who prefer a timer, and its timer. Beside the resident instance of
# the same file it is refused: never two runs on one name.
inside systemctl start quorvane-now@sales 2>/dev/null; rc=$?
check "one-shot beside quorvane@sales: refused with exit 2, the reason at err" \
  '[ $rc -ne 0 ] && [ "$(show quorvane-now@sales ExecMainStatus)" = 2 ] &&
   lines -u quorvane-now@sales -p err | grep -q "sales.ini is kept by another process" &&
   [ "$(show quorvane@sales MainPID)" = "$main_pid" ]' \
  'lines -u quorvane-now@sales -o verbose | grep -E "PRIORITY|MESSAGE="'
settings adhoc 0000 "PASSWORD=$pw\n"
check "one-shot: a backup now, completed and verified" \
  'inside systemctl start quorvane-now@adhoc && [ "$(show quorvane-now@adhoc Result)" = success ] &&
   lines -u quorvane-now@adhoc | grep -q "驗證完成$backup/adhoc/"' 'lines -u quorvane-now@adhoc'
check "one-shot: the timer is due at 02:30" \
  'inside systemctl start quorvane-now@adhoc.timer && show quorvane-now@adhoc.timer NextElapseUSecRealtime | grep -q " 02:30:00"' \
  'inside systemctl list-timers --all'
inside systemctl stop quorvane-now@adhoc.timer

# root running the service's own command line by hand beside the instance: refused.
before=$(inside ls -A /etc/quorvane)
inside timeout -s KILL 20 /usr/bin/quorvaned --config /etc/quorvane/sales.ini >/dev/null 2>"$work/byhand.err"; rc=$?
check "by hand beside the instance: refused with exit 2" \
  '[ $rc -eq 2 ] && grep -q "sales.ini is kept by another process" "$work/byhand.err"' 'cat "$work/byhand.err"'
check "by hand beside the instance: nothing written into /etc/quorvane" \
  '[ "$(inside ls -A /etc/quorvane)" = "$before" ]' 'inside ls -A /etc/quorvane'

# The settings error is still not retried, well past the unit's RestartSec.
[ $((SECONDS - nohost_failed_at)) -ge 35 ] || sleep $((35 - (SECONDS - nohost_failed_at)))
check "a settings error: not restarted" \
  '[ "$(show quorvane@nohost NRestarts)" = 0 ] && [ "$(show quorvane@nohost ActiveState)" = failed ]' \
  'inside systemctl status quorvane@nohost'

# The sandbox as the running manager sees it, the resident instance's and the one-shot's.
for unit in quorvane@sales quorvane-now@adhoc; do
  exposure=$(inside systemd-analyze security "$unit.service" 2>/dev/null |
             sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  echo "$unit.service booted: overall exposure $exposure"
  check "$unit: the exposure is 1.3 or less" 'awk -v e="$exposure" "BEGIN { exit !(e != \"\" && e <= 1.3) }"'
done

# A reload of settings that cannot work keeps the old ones, says why at err, and goes on.
status_before=$(show quorvane@sales StatusText)
sed -i 's/^SERVERNAME=.*/SERVERNAME=/' "$tree/etc/quorvane/sales.ini"
inside systemctl reload quorvane@sales
check "a bad reload: the reason at err, the old settings kept, running on" \
  'wait_for "lines -u quorvane@sales -p err | grep -q \"^重新讀取設定失敗，沿用原設定：.*no server name (SERVERNAME)\"" 25 &&
   [ "$(show quorvane@sales MainPID)" = "$main_pid" ] && [ "$(show quorvane@sales StatusText)" = "$status_before" ]' \
  'lines -u quorvane@sales -o verbose | grep -E "PRIORITY|MESSAGE="'

check "stop: systemctl stop succeeds" 'inside systemctl stop quorvane@sales quorvane@broken'
check "stop: its last line is 系統結束, the unit inactive" \
  '[ "$(lines -u quorvane@sales | tail -1)" = 系統結束 ] && [ "$(show quorvane@sales ActiveState)" = inactive ] &&
   [ "$(show quorvane@sales Result)" = success ]' 'lines -u quorvane@sales | tail -5'

SECONDS=0
power_off
echo "powered off in ${SECONDS}s"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
