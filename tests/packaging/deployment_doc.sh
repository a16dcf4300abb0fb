#!/usr/bin/env bash
# Runs what docs/deployment.md tells an administrator to type (its shell blocks marked
# "<!-- run by tests/packaging -->"), word for word, as root in a scratch root: the
# system seen through an overlay that keeps every change, in namespaces of its own
# (mounts, processes, and a network with loopback only). The packages of this build are
# installed there, the database made as the service user, the service started as its
# unit would start it, probed, its token rotated, the packages upgraded by installing
# them again, the database backed up and restored, the packages purged; between the
# blocks, what the guide promises is checked.
# usage: deployment_doc.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for its namespaces and overlay"
for tool in cpack unshare setpriv apt dpkg-deb; do
  command -v "$tool" > /dev/null || skip "$tool is not installed"
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unshare --mount true 2> /dev/null || skip "cannot make a mount namespace here"

cpack -G DEB -B "$scratch/debs" --config "$build/CPackConfig.cmake" > "$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }

# The marked blocks, in the order of the guide, each ended by a check of this script's.
awk '/<!-- run by tests\/packaging -->/ { marked = 1; next }
     marked && /^```sh/ { inside = 1; n++; print "echo \"--- block " n "\""; next }
     inside && /^```/ { inside = 0; marked = 0; print "check_after_block " n; next }
     inside { print }' "$source/docs/deployment.md" > "$scratch/guide.sh"
blocks=$(grep -c '^check_after_block' "$scratch/guide.sh" || true)
[ "$blocks" -eq 8 ] || { cat "$scratch/guide.sh"; echo "FAIL: $blocks marked blocks, not 8"; exit 1; }

cat > "$scratch/inside.sh" << 'INSIDE'
set -euo pipefail
fail() { echo "FAIL: $*"; cat /run/scratch-services/qadj-appserver.log 2> /dev/null; exit 1; }
pid() { cat /run/scratch-services/qadj-appserver.pid; }
# The same sandbox serves PostgreSQL: a server of the scratch root's own on its loopback
# (through its superuser, as a private test server may), then the guide's SQLite again.
serves_postgresql() {
  local bin env=/etc/qadj_vsd/appserver.env url=postgresql://postgres@127.0.0.1:5432/postgres
  bin=$(ls -d /usr/lib/postgresql/*/bin | tail -n 1)
  install -d -o postgres -m 0700 /var/tmp/pg
  runuser -u postgres -- "$bin/initdb" -D /var/tmp/pg -A trust -U postgres --no-sync > /dev/null
  runuser -u postgres -- "$bin/pg_ctl" -D /var/tmp/pg -w -l /var/tmp/pg.log \
    -o "-c listen_addresses=127.0.0.1 -k /var/tmp" start > /dev/null
  qadj-appserver --db "$url" --init-schema > /dev/null
  cp "$env" /root/env.sqlite
  printf 'QADJ_DB_URL=%s\nQADJ_APPSERVER_OPTIONS=--allow-superuser\n' "$url" >> "$env"
  systemctl restart qadj-appserver
  qadj-appserver --probe localhost:7311 > /dev/null || fail "no service on PostgreSQL"
  grep -q "database $url" /run/scratch-services/qadj-appserver.log || fail "not on PostgreSQL"
  cp /root/env.sqlite "$env"
  systemctl restart qadj-appserver
}
check_after_block() {
  case $1 in
    1) id qadj > /dev/null || fail "the package made no user qadj"
       [ "$(stat -c '%U %a' /var/lib/qadj_vsd)" = "qadj 750" ] || fail "no private /var/lib/qadj_vsd"
       [ "$(stat -c '%G %a' /etc/qadj_vsd/appserver.env)" = "qadj 640" ] ||
         fail "the environment file is not root:qadj 0640" ;;
    2) [ "$(stat -c '%U %a' /var/lib/qadj_vsd/quota.sqlite)" = "qadj 600" ] ||
         fail "the database is not qadj's alone"
       systemctl is-enabled qadj-appserver > /dev/null || fail "not enabled"
       first=$(pid)
       # The sandbox held: the daemon could not write outside its folder.
       grep -q '^NoNewPrivs:[[:space:]]*1' "/proc/$first/status" || fail "new privileges allowed"
       grep -q '^CapBnd:[[:space:]]*0000000000000000' "/proc/$first/status" || fail "capabilities kept"
       nsenter -t "$first" -m -r touch /etc/qadj_vsd/x 2> /dev/null && fail "the service may write /etc"
       nsenter -t "$first" -m -r touch /var/lib/qadj_vsd/x || fail "the service may not write its folder"
       rm -f /var/lib/qadj_vsd/x
       serves_postgresql ;;
    3) grep -q 'token required' /run/scratch-services/qadj-appserver.log || fail "no token required" ;;
    4) grep -q 'token read again' /run/scratch-services/qadj-appserver.log ||
         fail "the token was not read again"
       before=$(pid) ;;
    5) [ "$(pid)" != "$before" ] || fail "the upgrade did not restart the service" ;;
    6) copy=/var/lib/qadj_vsd/quota-$(date +%F).sqlite
       [ "$(sqlite3 "$copy" 'PRAGMA integrity_check')" = ok ] || fail "no sound backup at $copy"
       # A change after the backup, which the restore must undo.
       runuser -u qadj -- sqlite3 /var/lib/qadj_vsd/quota.sqlite \
         "INSERT INTO GSTJYGL1 (SPDM00, SPMC00) VALUES ('later', 'x')" ;;
    7) [ "$(sqlite3 /var/lib/qadj_vsd/quota.sqlite "SELECT COUNT(*) FROM GSTJYGL1")" = 0 ] ||
         fail "the restore kept a change made after the backup"
       [ "$(stat -c %U /var/lib/qadj_vsd/quota.sqlite)" = qadj ] || fail "the restored file is not qadj's"
       qadj-appserver --probe localhost:7311 > /dev/null || fail "no service after the restore" ;;
    8) [ ! -e /etc/systemd/system/multi-user.target.wants/qadj-appserver.service ] ||
         fail "the purge left the service enabled"
       ! systemctl is-active --quiet qadj-appserver || fail "the purge left the service running"
       [ -f /var/lib/qadj_vsd/quota.sqlite ] || fail "the purge removed the database"
       [ ! -e /etc/qadj_vsd/appserver.env ] || fail "the purge left the environment file" ;;
  esac
  echo "block $1: as the guide says"
}
cd /root/debs
. /root/guide.sh
echo "the deployment guide: every marked block ran and did what it says"
INSIDE

root=$scratch/root
mkdir -p "$scratch/upper" "$scratch/work" "$root"
unshare --mount --pid --fork --net --propagation private /bin/bash -c '
  set -euo pipefail
  scratch=$1 here=$2 root=$scratch/root
  mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --rbind /sys "$root/sys"
  for d in run tmp; do mount -t tmpfs tmpfs "$root/$d"; done
  chmod 1777 "$root/tmp"
  mkdir -p "$root/run/systemd/system" "$root/.scratch-dev" "$root/root/debs"
  for d in null zero full random urandom; do
    touch "$root/.scratch-dev/$d"; mount --bind "/dev/$d" "$root/.scratch-dev/$d"
  done
  cp "$scratch"/debs/*.deb "$root/root/debs/"
  cp "$scratch/guide.sh" "$scratch/inside.sh" "$root/root/"
  rm -f "$root/usr/sbin/policy-rc.d"
  install -m 0755 "$here/scratch/systemctl" "$root/usr/bin/systemctl"
  install -m 0755 "$here/scratch/sudo" "$root/usr/bin/sudo"
  ip link set lo up
  # An administrator answers yes where apt asks (a purge does).
  (yes || true) | chroot "$root" /bin/bash /root/inside.sh' deployment "$scratch" "$here"
