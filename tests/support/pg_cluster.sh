#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests, from Debian's binaries:
#   pg_cluster.sh start DIR    initdb in DIR, start the server on a free
#                              loopback port (its socket in DIR too), print
#                              its postgresql:// URL on stdout
#   pg_cluster.sh stop DIR     stop it (immediately: nothing in it is kept)
#   pg_cluster.sh remove DIR   stop it and remove DIR
# PostgreSQL does not run as root: run as root, the cluster belongs to
# `nobody` (DIR is chowned to it, so DIR's parent must be open to others).
set -euo pipefail
cmd=${1:-} dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: pg_cluster.sh start|stop|remove DIR" >&2; exit 2; }
bin=${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
[ -x "$bin/initdb" ] || { echo "pg_cluster.sh: no PostgreSQL server binaries (install Debian's postgresql)" >&2; exit 1; }
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}
stop() { [ ! -f "$dir/data/postmaster.pid" ] || as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true; }
case $cmd in
start)
  mkdir -p "$dir"
  [ "$(id -u)" -ne 0 ] || chown nobody "$dir"
  as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C -N >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }
  for _ in 1 2 3 4 5; do
    while port=$((20000 + RANDOM % 40000)); (: </dev/tcp/127.0.0.1/$port) 2>/dev/null; do :; done
    if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off" start >/dev/null 2>&1; then
      echo "postgresql://postgres@127.0.0.1:$port/postgres"
      exit 0
    fi
  done
  tail -n 20 "$dir/server.log" >&2 || true
  exit 1 ;;
stop) stop ;;
remove) stop; rm -rf "$dir" ;;
*) echo "pg_cluster.sh: unknown command $cmd" >&2; exit 2 ;;
esac
