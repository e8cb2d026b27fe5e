#!/usr/bin/env bash
# A throw-away PostgreSQL server for the tests of the shared register.
#
#   scripts/pg-test-cluster.sh start FOLDER   make a cluster in a new temporary
#                                              folder and start it
#   scripts/pg-test-cluster.sh stop FOLDER    stop it and remove its folder
#
# FOLDER (the build folder's pg-test) receives what the tests need:
#   address   postgresql://lentar@127.0.0.1:PORT/postgres
#   pgpass    the password file for PGPASSFILE (mode 0600, as libpq wants)
#   cluster   where the cluster lives, for stop
# The server listens on 127.0.0.1 only, on a free port, with fsync off, and
# asks for a password over TCP (scram-sha-256): the tests reach it the way an
# office does, the password coming from a pgpass file.
#
# initdb and the server refuse to run as root, so under root (CI) they run as
# the unprivileged user "nobody". Without the PostgreSQL server programs
# nothing is started, no address is written and the tests that need a
# server skip; that is not an error.
set -euo pipefail

action=${1:-}
out=${2:-}
if [ -z "$action" ] || [ -z "$out" ]; then
  echo "usage: $0 start|stop FOLDER" >&2
  exit 2
fi

bindir=""
for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  if [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ]; then bindir=$d; break; fi
done
if [ -z "$bindir" ] && command -v initdb >/dev/null && command -v pg_ctl >/dev/null; then
  bindir=$(dirname "$(command -v initdb)")
fi

# Runs a command as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

stop_cluster() {
  [ -f "$out/cluster" ] || return 0
  local cluster
  cluster=$(cat "$out/cluster")
  if [ -d "$cluster/data" ]; then
    as_owner "$bindir/pg_ctl" -D "$cluster/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  case "$cluster" in
    */lentar-pg.*) rm -rf "$cluster" ;;
  esac
  rm -f "$out/cluster" "$out/address" "$out/pgpass"
}

case "$action" in
  stop)
    stop_cluster
    exit 0
    ;;
  start) ;;
  *)
    echo "usage: $0 start|stop FOLDER" >&2
    exit 2
    ;;
esac

mkdir -p "$out"
stop_cluster  # one left over by a run that was cut short

# The server outlives this script: it must not keep open what the caller
# handed down (the test runner's pipes, a lock held by whoever runs the
# tests), or that caller would wait on it until the server is stopped.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  if [ "$fd" -gt 2 ] && [ "$fd" -lt 255 ]; then eval "exec $fd>&-" 2>/dev/null || true; fi
done
if [ -z "$bindir" ]; then
  echo "PostgreSQL server programs not found (Debian package postgresql): the tests of a shared register skip"
  exit 0
fi

cluster=$(mktemp -d "${TMPDIR:-/tmp}/lentar-pg.XXXXXX")
echo "$cluster" >"$out/cluster"
password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
printf '%s\n' "$password" >"$cluster/pwfile"
chmod 0600 "$cluster/pwfile"
if [ "$(id -u)" -eq 0 ]; then chown -R nobody "$cluster"; fi

as_owner "$bindir/initdb" -D "$cluster/data" -U lentar --pwfile="$cluster/pwfile" \
  --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C -N >"$cluster/initdb.log" 2>&1 || {
  cat "$cluster/initdb.log" >&2
  exit 1
}
rm -f "$cluster/pwfile"

# A free port: asked of the system, then tried; another program may take it
# in between, so a few tries.
started=""
for try in 1 2 3 4 5; do
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null ||
         echo $((20000 + RANDOM % 20000)))
  if as_owner "$bindir/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 30 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $cluster -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200 -c shared_buffers=16MB" \
      start >/dev/null 2>&1; then
    started=1
    break
  fi
done
if [ -z "$started" ]; then
  echo "the test PostgreSQL server did not start:" >&2
  tail -20 "$cluster/server.log" >&2 || true
  exit 1
fi

printf '127.0.0.1:%s:*:lentar:%s\n' "$port" "$password" >"$out/pgpass"
chmod 0600 "$out/pgpass"
echo "postgresql://lentar@127.0.0.1:$port/postgres" >"$out/address"
echo "test PostgreSQL server at $(cat "$out/address")"
