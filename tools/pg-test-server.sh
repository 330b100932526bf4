#!/usr/bin/env bash
# A private, throw-away PostgreSQL server for the tests.
#
#   tools/pg-test-server.sh start DIR   creates DIR, starts a server in it and
#                                       prints its connection settings
#   tools/pg-test-server.sh stop DIR    stops that server and removes DIR
#
# The server belongs to an unprivileged user (the caller, or "nobody" when the
# caller is root, since PostgreSQL refuses to run as root), listens on a free
# port of 127.0.0.1 and on a socket in DIR (or in a folder under /tmp when
# "nobody" cannot reach DIR), trusts every local connection and keeps
# nothing: no fsync, and its files go at "stop".
#
# "start" prints lines of the form NAME=VALUE (PGHOST, PGPORT, PGUSER,
# PGDATABASE, PGSOCKET, PGBINDIR, PGHOME) and writes the same lines to
# DIR/connection.env.
# Exit status 77 means the PostgreSQL server programs are not installed.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

[ $# -eq 2 ] || usage
action=$1
dir=$2

find_bindir() {
  local best
  best=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | while read -r d; do
    [ -x "$d/initdb" ] && [ -x "$d/pg_ctl" ] && echo "$d"
  done | tail -n 1)
  if [ -z "$best" ] && command -v initdb >/dev/null 2>&1 && command -v pg_ctl >/dev/null 2>&1; then
    best=$(dirname "$(command -v initdb)")
  fi
  echo "$best"
}

# Runs a command as the server's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    if command -v runuser >/dev/null 2>&1; then
      runuser -u nobody -- "$@"
    else
      su -s /bin/sh nobody -c "$(printf '%q ' "$@")"
    fi
  else
    "$@"
  fi
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

start() {
  local bindir
  bindir=$(find_bindir)
  if [ -z "$bindir" ]; then
    echo "pg-test-server: PostgreSQL server programs (initdb, pg_ctl) are not installed" >&2
    exit 77
  fi
  if [ -e "$dir/connection.env" ]; then
    stop  # the server of an earlier run that was not stopped
  fi
  if [ -e "$dir" ]; then
    echo "pg-test-server: $dir exists already" >&2
    exit 1
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  # The server's files: in DIR, or, when the owner cannot reach DIR (a build
  # folder under root's home), in a folder of its own under /tmp.
  local home=$dir
  if [ "$(id -u)" -eq 0 ] && ! as_owner test -x "$dir/." 2>/dev/null; then
    home=$(mktemp -d /tmp/lumbra-pg.XXXXXX)
    chmod 755 "$home"
  fi
  mkdir -p "$home/sock"
  [ "$(id -u)" -eq 0 ] && chown -R nobody "$home"
  cd "$home"
  as_owner "$bindir/initdb" -D "$home/data" -U postgres -A trust -E UTF8 --locale=C --no-sync \
    >"$dir/initdb.log" 2>&1 || {
    echo "pg-test-server: initdb failed:" >&2
    cat "$dir/initdb.log" >&2
    exit 1
  }
  local attempt port=""
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    port_in_use "$port" && continue
    if as_owner "$bindir/pg_ctl" -D "$home/data" -l "$home/server.log" -w -t 60 \
      -o "-p $port -k $home/sock -c listen_addresses=127.0.0.1 -F -c max_connections=20" \
      start >/dev/null 2>&1; then
      break
    fi
    port=""
  done
  if [ -z "$port" ]; then
    echo "pg-test-server: the server did not start:" >&2
    cat "$home/server.log" >&2 || true
    exit 1
  fi
  {
    echo "PGHOST=127.0.0.1"
    echo "PGPORT=$port"
    echo "PGUSER=postgres"
    echo "PGDATABASE=postgres"
    echo "PGSOCKET=$home/sock"
    echo "PGBINDIR=$bindir"
    echo "PGHOME=$home"
  } | tee "$dir/connection.env"
}

stop() {
  [ -d "$dir" ] || return 0
  local bindir home
  bindir=$(sed -n 's/^PGBINDIR=//p' "$dir/connection.env" 2>/dev/null || true)
  home=$(sed -n 's/^PGHOME=//p' "$dir/connection.env" 2>/dev/null || true)
  [ -n "$home" ] || home=$dir
  [ -n "$bindir" ] || bindir=$(find_bindir)
  if [ -n "$bindir" ] && [ -f "$home/data/postmaster.pid" ]; then
    (cd "$home" && as_owner "$bindir/pg_ctl" -D "$home/data" -m immediate -w stop >/dev/null 2>&1) || true
  fi
  [ "$home" != "$dir" ] && rm -rf "$home"
  rm -rf "$dir"
}

case "$action" in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac
