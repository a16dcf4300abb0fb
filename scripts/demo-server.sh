#!/usr/bin/env bash
# The demo window against the application server qadj-appserver over gRPC instead of
# the in-process server.
#   bash scripts/demo-server.sh              # on a SQLite file
#   bash scripts/demo-server.sh postgresql   # on PostgreSQL
# On PostgreSQL the database is $QADJ_PG_URL (postgresql://USER@HOST:PORT/DBNAME) when
# set; otherwise a private server is started in a temporary folder for the session.
# Either way the demo rows are (re)written for today, then the daemon serves on a free
# loopback port and mis-host opens the window as the demo operator; closing the window
# stops the daemon (and the private PostgreSQL).
set -euo pipefail
cd "$(dirname "$0")/.."
backend=${1:-sqlite}
case "$backend" in sqlite | postgresql) ;; *)
  echo "usage: bash scripts/demo-server.sh [sqlite|postgresql]" >&2
  exit 2
  ;;
esac
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "demo: no display; run it under a virtual one: xvfb-run -a bash scripts/demo-server.sh $backend"
  exit 1
fi
appserver="$BUILD_DIR/appserver/qadj-appserver"
work=$(mktemp -d)
chmod 755 "$work"
daemon_pid=
pg_ctl=

cleanup() {
  [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null && wait "$daemon_pid" 2>/dev/null
  [ -n "$pg_ctl" ] && $pg_ctl -D "$work/pg" -m fast stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$backend" = sqlite ]; then
  data=${XDG_DATA_HOME:-$HOME/.local/share}/qadj
  mkdir -p "$data"
  url="sqlite:$data/demo-server.sqlite"
elif [ -n "${QADJ_PG_URL:-}" ]; then
  url=$QADJ_PG_URL
else
  # A private server: initdb in the temporary folder, socket there too. PostgreSQL
  # refuses to run as root, so root runs it as the postgres user.
  bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
  as=
  if [ "$(id -u)" -eq 0 ]; then as="runuser -u postgres --"; fi
  pg_ctl="$as $bin/pg_ctl"
  user=$(if [ -n "$as" ]; then echo postgres; else id -un; fi)
  [ -n "$as" ] && chown postgres "$work"
  $as "$bin/initdb" -D "$work/pg" -U "$user" -A trust -E UTF8 >/dev/null
  port=
  for p in $(seq 54320 54420); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
  done
  $pg_ctl -D "$work/pg" -l "$work/pg.log" -w \
    -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$work" start >/dev/null
  $as "$bin/createdb" -h 127.0.0.1 -p "$port" -U "$user" qadj
  url="postgresql://$user@127.0.0.1:$port/qadj"
fi

"$appserver" --db "$url" --init-demo
# The demo serves through the role that made its tables (the private server's superuser,
# or QADJ_PG_URL's owner); a real one gets a role with only the window's grants
# (docs/deployment.md).
extra=()
[ "$backend" = postgresql ] && extra=(--allow-superuser)
"$appserver" --db "$url" --listen 127.0.0.1:0 "${extra[@]}" 2>"$work/daemon.log" &
daemon_pid=$!
for _ in $(seq 1 100); do
  grep -q "serving" "$work/daemon.log" && break
  kill -0 "$daemon_pid" 2>/dev/null || { cat "$work/daemon.log" >&2; exit 1; }
  sleep 0.1
done
listen=$(grep -o "127\.0\.0\.1:[0-9]*" "$work/daemon.log" | head -1)
echo "demo: qadj-appserver on $listen, database $url"
"$BUILD_DIR/host/mis-host" --no-embedded --plugin "$BUILD_DIR/plugin/libqadj_vsd.so" \
  "${QADJ_DEMO_OPERATOR:-0001}" "$listen"
