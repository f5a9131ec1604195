#!/usr/bin/env bash
# Builds Heliq with AddressSanitizer + UBSan in build-asan and runs every CTest test, on SQLite and
# on a throwaway PostgreSQL 15 cluster on loopback (handed to the tests in HELIQ_TEST_PG), with a
# real SMTP server (HELIQ_TEST_SMTP) and a real slapd (HELIQ_TEST_LDAP) on loopback; the browser
# tests drive Debian's Chromium against heliqd serving the built pages.
#
# Contract: run from anywhere, as root on Debian 12 (installs missing packages). Exits with
# ctest's status; the servers are stopped and their folders removed however the run ends.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh

echo "== building (build-asan: Debug, AddressSanitizer + UBSan)"
cmake -S . -B build-asan -DHELIQ_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug -DHELIQ_BUILD_TESTS=ON
cmake --build build-asan -j2

pg_dir=$(mktemp -d -t heliq-pg.XXXXXX)
smtp_dir=$(mktemp -d -t heliq-smtp.XXXXXX)
smtp_pid=""
ldap_dir=$(mktemp -d -t heliq-ldap.XXXXXX)
stop_servers() {
  bash scripts/pg-test-cluster.sh stop "$pg_dir" || true
  bash scripts/ldap-test-server.sh stop "$ldap_dir" || true
  if [[ -n "$smtp_pid" ]]; then
    kill "$smtp_pid" 2>/dev/null || true
    wait "$smtp_pid" 2>/dev/null || true
  fi
  rm -rf "$smtp_dir"
}
trap stop_servers EXIT
# Without these an interrupted or killed run would skip the EXIT trap and leave the server up.
trap 'exit 130' INT
trap 'exit 143' TERM

# The port is free when picked; the short window before the server binds it is acceptable here.
pg_port=$(python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
echo "== starting PostgreSQL on 127.0.0.1:$pg_port"
bash scripts/pg-test-cluster.sh start "$pg_dir" "$pg_port"
export HELIQ_TEST_PG="host=127.0.0.1 port=$pg_port user=postgres dbname=postgres"

# A real SMTP server on loopback for the mail tests: it stores every message it accepts in a
# maildir (files in $HELIQ_TEST_SMTP_MAILDIR/new). Debian's module lives with the system Python,
# whatever python3 comes first on PATH. The maildir's subfolders must exist before it starts.
smtp_port=$(python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
mkdir -p "$smtp_dir/mail/tmp" "$smtp_dir/mail/new" "$smtp_dir/mail/cur"
echo "== starting the test SMTP server on 127.0.0.1:$smtp_port"
/usr/bin/python3 -m aiosmtpd -n -l "127.0.0.1:$smtp_port" -c aiosmtpd.handlers.Mailbox \
  "$smtp_dir/mail" >"$smtp_dir/server.log" 2>&1 &
smtp_pid=$!
for _ in $(seq 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$smtp_port") 2>/dev/null; then break; fi
  if ! kill -0 "$smtp_pid" 2>/dev/null; then cat "$smtp_dir/server.log"; exit 1; fi
  sleep 0.1
done
(exec 3<>"/dev/tcp/127.0.0.1/$smtp_port") 2>/dev/null || { echo "SMTP server did not start"; exit 1; }
export HELIQ_TEST_SMTP="127.0.0.1:$smtp_port"
export HELIQ_TEST_SMTP_MAILDIR="$smtp_dir/mail"

ldap_port=$(python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
echo "== starting slapd on 127.0.0.1:$ldap_port"
bash scripts/ldap-test-server.sh start "$ldap_dir" "$ldap_port"
export HELIQ_TEST_LDAP="uri=ldap://127.0.0.1:$ldap_port base=dc=example bind=cn=svc-heliq,ou=desk,dc=example password=svc-heliq-test"

# UBSan only prints by default; make its findings fail the test. Callers may override both.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

echo "== running tests"
status=0
ctest --test-dir build-asan --output-on-failure --no-tests=error -j2 || status=$?
bash scripts/fuzz.sh 30 || status=$?
# The installed layout away from the sources, and the Debian package (a small Release build).
bash scripts/install-test.sh || status=$?
exit "$status"
