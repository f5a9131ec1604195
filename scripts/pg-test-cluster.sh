#!/usr/bin/env bash
# Starts and stops a throwaway PostgreSQL 15 cluster for the tests.
#
#   pg-test-cluster.sh start DIR PORT   initdb a fresh cluster in DIR (created if needed, must be
#                                       empty), listen on 127.0.0.1:PORT only, socket in DIR,
#                                       return once it accepts connections.
#   pg-test-cluster.sh stop DIR [PORT]  fast shutdown, then remove DIR.
#   pg-test-cluster.sh halt DIR         fast shutdown, keeping DIR (tests of a server restart).
#   pg-test-cluster.sh resume DIR       start a halted cluster again; return once it is ready.
#
# The server refuses to run as root, so when called as root the cluster belongs to the `postgres`
# system user and DIR is handed to it; otherwise it runs as the calling user. Authentication is
# `trust` for the superuser `postgres`: connect with
#   host=127.0.0.1 port=PORT user=postgres dbname=postgres
# Durability is switched off (fsync, full_page_writes): the data lives only as long as one test run.
# Nothing of the package's default cluster or service is used or touched.
set -euo pipefail

readonly PG_BIN=/usr/lib/postgresql/15/bin
readonly MARKER=.heliq-pg-test-cluster  # stop only deletes folders that start made

usage() {
  echo "usage: $0 start DIR PORT | stop DIR [PORT] | halt DIR | resume DIR" >&2
  exit 2
}

die() {
  echo "pg-test-cluster: $*" >&2
  exit 1
}

# Runs a command as the cluster's owner, from a folder that owner can enter.
as_owner() {
  if [[ $EUID -eq 0 ]]; then
    (cd / && runuser -u postgres -- "$@")
  else
    (cd / && "$@")
  fi
}

start() {
  local dir=$1 port=$2
  if ! [[ $port =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
    die "bad port: $port"
  fi
  [[ -x $PG_BIN/initdb ]] || die "$PG_BIN/initdb not found (install postgresql-15)"

  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd -P)
  [[ -z "$(ls -A "$dir")" ]] || die "$dir is not empty"
  touch "$dir/$MARKER"
  if [[ $EUID -eq 0 ]]; then
    chown -R postgres:postgres "$dir"
  fi
  chmod 700 "$dir"
  as_owner test -w "$dir" ||
    die "$dir is not reachable for the cluster's owner (is a parent folder closed to it?)"

  local data=$dir/data log=$dir/server.log
  if ! as_owner "$PG_BIN/initdb" -D "$data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 \
      >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log" >&2
    die "initdb failed"
  fi

  # Settings go into the file, not onto pg_ctl's -o line, so a DIR with spaces stays one value.
  local quoted_dir=${dir//\'/\'\'}
  as_owner tee -a "$data/postgresql.conf" >/dev/null <<CONF

# throwaway test cluster
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$quoted_dir'
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 100
CONF

  if ! as_owner "$PG_BIN/pg_ctl" -D "$data" -l "$log" -w -t 60 start >/dev/null; then
    tail -n 30 "$log" >&2 || true
    die "server did not start"
  fi

  local i
  for ((i = 0; i < 60; i++)); do
    if "$PG_BIN/pg_isready" -q -h 127.0.0.1 -p "$port" -U postgres; then
      return 0
    fi
    sleep 0.5
  done
  tail -n 30 "$log" >&2 || true
  die "server on 127.0.0.1:$port is not ready after 30 s"
}

stop() {
  local dir=$1
  [[ -d $dir ]] || return 0
  [[ -e $dir/$MARKER ]] || die "$dir was not made by '$0 start'; not touching it"
  if [[ -f $dir/data/postmaster.pid ]]; then
    as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null ||
      echo "pg-test-cluster: pg_ctl stop failed; removing $dir anyway" >&2
  fi
  rm -rf -- "$dir"
}

halt() {
  local dir=$1
  [[ -e $dir/$MARKER ]] || die "$dir was not made by '$0 start'; not touching it"
  as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
}

resume() {
  local dir=$1
  [[ -e $dir/$MARKER ]] || die "$dir was not made by '$0 start'; not touching it"
  if ! as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null; then
    tail -n 30 "$dir/server.log" >&2 || true
    die "server did not start again"
  fi
}

case "${1:-}" in
  start) [[ $# -eq 3 ]] || usage; start "$2" "$3" ;;
  stop) [[ $# -eq 2 || $# -eq 3 ]] || usage; stop "$2" ;;
  halt) [[ $# -eq 2 ]] || usage; halt "$2" ;;
  resume) [[ $# -eq 2 ]] || usage; resume "$2" ;;
  *) usage ;;
esac
