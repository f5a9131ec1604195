#!/usr/bin/env bash
# Starts and stops a throwaway PostgreSQL 15 cluster for the tests.
#
#   pg-test-cluster.sh start DIR PORT   initdb a fresh cluster in DIR (created if needed, must be
#                                       empty), listen on 127.0.0.1:PORT only, socket in DIR,
#                                       return once it accepts connections.
#   pg-test-cluster.sh stop DIR [PORT]  fast shutdown, then remove DIR.
#   pg-test-cluster.sh halt DIR         fast shutdown, keeping DIR (tests of a server restart).
#   pg-test-cluster.sh resume DIR       start a halted cluster again; return once it is ready.
#   pg-test-cluster.sh standby DIR PORT PRIMARY_DIR
#                                       a streaming standby of the running cluster in PRIMARY_DIR,
#                                       in DIR on 127.0.0.1:PORT; the primary then waits for it on
#                                       every commit (synchronous_standby_names, synchronous_commit
#                                       on). Returns once the primary reports it synchronous.
#   pg-test-cluster.sh promote DIR      promote a standby; return once it accepts writes.
#   pg-test-cluster.sh kill DIR         SIGKILL the server and all its processes at once (a machine
#                                       that died), keeping DIR; `stop` still removes it.
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
readonly STANDBY_NAME=heliq_standby

usage() {
  echo "usage: $0 start DIR PORT | stop DIR [PORT] | halt DIR | resume DIR |" \
    "standby DIR PORT PRIMARY_DIR | promote DIR | kill DIR" >&2
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

check_port() {
  if ! [[ $1 =~ ^[0-9]+$ ]] || (($1 < 1 || $1 > 65535)); then
    die "bad port: $1"
  fi
}

# Creates the empty folder DIR for a cluster, marked as made here and handed to the owner; prints
# its absolute path.
make_dir() {
  local dir=$1
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
  echo "$dir"
}

# Starts the server of DIR and waits until it accepts connections on PORT.
serve() {
  local dir=$1 port=$2 log=$1/server.log
  if ! as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -l "$log" -w -t 60 start >/dev/null; then
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

# The superuser's answer to one query on 127.0.0.1:PORT, unaligned and without headers.
query() {
  "$PG_BIN/psql" -X -q -A -t -h 127.0.0.1 -p "$1" -U postgres -d postgres -c "$2"
}

start() {
  local dir=$1 port=$2
  check_port "$port"
  [[ -x $PG_BIN/initdb ]] || die "$PG_BIN/initdb not found (install postgresql-15)"
  dir=$(make_dir "$dir")

  local data=$dir/data
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
  serve "$dir" "$port"
}

# The port a running cluster of DIR listens on (fourth line of postmaster.pid).
port_of() {
  [[ -f $1/data/postmaster.pid ]] || die "$1 has no running server"
  sed -n 4p "$1/data/postmaster.pid"
}

standby() {
  local dir=$1 port=$2 primary=$3
  check_port "$port"
  [[ -e $primary/$MARKER ]] || die "$primary was not made by '$0 start'; not touching it"
  local primary_port
  primary_port=$(port_of "$primary")
  dir=$(make_dir "$dir")
  if ! as_owner "$PG_BIN/pg_basebackup" -h 127.0.0.1 -p "$primary_port" -U postgres \
      -D "$dir/data" -X stream -c fast >"$dir/basebackup.log" 2>&1; then
    cat "$dir/basebackup.log" >&2
    die "pg_basebackup from 127.0.0.1:$primary_port failed"
  fi
  # The copied file names the primary's port and folder; the lines below come later and win.
  local quoted_dir=${dir//\'/\'\'}
  as_owner tee -a "$dir/data/postgresql.conf" >/dev/null <<CONF

# streaming standby of 127.0.0.1:$primary_port
port = $port
unix_socket_directories = '$quoted_dir'
primary_conninfo = 'host=127.0.0.1 port=$primary_port user=postgres application_name=$STANDBY_NAME'
CONF
  as_owner touch "$dir/data/standby.signal"
  serve "$dir" "$port"

  # Only now: a primary waiting for a standby that is not there yet would hang every commit.
  as_owner tee -a "$primary/data/postgresql.conf" >/dev/null <<CONF

# every commit waits for the standby
synchronous_standby_names = '$STANDBY_NAME'
synchronous_commit = on
CONF
  as_owner "$PG_BIN/pg_ctl" -D "$primary/data" reload >/dev/null
  local i state
  for ((i = 0; i < 120; i++)); do
    state=$(query "$primary_port" \
      "select sync_state from pg_stat_replication where application_name = '$STANDBY_NAME'")
    [[ $state == sync ]] && return 0
    sleep 0.25
  done
  tail -n 30 "$dir/server.log" >&2 || true
  die "the standby on 127.0.0.1:$port did not become synchronous within 30 s"
}

promote() {
  local dir=$1
  [[ -e $dir/$MARKER ]] || die "$dir was not made by '$0 start'; not touching it"
  as_owner "$PG_BIN/pg_ctl" -D "$dir/data" -w -t 60 promote >/dev/null ||
    die "promotion of $dir failed"
}

kill_server() {
  local dir=$1
  [[ -e $dir/$MARKER ]] || die "$dir was not made by '$0 start'; not touching it"
  local pid
  pid=$(sed -n 1p "$dir/data/postmaster.pid" 2>/dev/null) || die "$dir has no running server"
  # The backends go with the postmaster, as on a machine that lost power: none answers after it.
  local children
  children=$(ps -o pid= --ppid "$pid" || true)
  # shellcheck disable=SC2086  # one word per process id
  kill -KILL "$pid" $children 2>/dev/null || true
  local i
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  die "server process $pid is still there after SIGKILL"
}

stop() {
  local dir=$1
  [[ -d $dir ]] || return 0
  [[ -e $dir/$MARKER ]] || die "$dir was not made by '$0 start'; not touching it"
  # A killed server leaves its pid file behind: only a live one is asked to stop.
  local pid
  pid=$(sed -n 1p "$dir/data/postmaster.pid" 2>/dev/null || true)
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
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
  standby) [[ $# -eq 4 ]] || usage; standby "$2" "$3" "$4" ;;
  promote) [[ $# -eq 2 ]] || usage; promote "$2" ;;
  kill) [[ $# -eq 2 ]] || usage; kill_server "$2" ;;
  *) usage ;;
esac
