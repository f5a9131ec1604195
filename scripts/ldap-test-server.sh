#!/usr/bin/env bash
# Starts and stops a throwaway OpenLDAP server (Debian slapd) for the tests.
#
#   ldap-test-server.sh start DIR PORT   writes a slapd.conf with an mdb database into DIR (created
#                                        if needed, must be empty), starts slapd as the openldap
#                                        user on ldap://127.0.0.1:PORT only, loads tests/ldap/demo.ldif
#                                        and 2,000 generated engineers, returns once all is loaded.
#   ldap-test-server.sh stop DIR         stops that slapd, then removes DIR (an empty DIR is just
#                                        removed; one that start did not make is left alone).
#
# The tree is dc=example: the demo people below ou=desk (password "heliq-demo"), the role groups
# cn=role-<n>,ou=groups (31, 32, 35, 36, 38, 39), the business partners below ou=partners, and the
# engineers eng0001 ... eng2000 below ou=bulk, all members of cn=bulk-32,ou=groups. The service
# account cn=svc-heliq,ou=desk,dc=example (password "svc-heliq-test") reads everything; anonymous
# binds read nothing. Searches return at most 500 entries unless paged, like most production
# servers. No TLS is configured: StartTLS fails, which the tests of a required TLS rely on.
# Hand the tests:
#   HELIQ_TEST_LDAP="uri=ldap://127.0.0.1:PORT base=dc=example bind=cn=svc-heliq,ou=desk,dc=example password=svc-heliq-test"
# Nothing of the package's own slapd configuration or service is used or touched.
set -euo pipefail

readonly SLAPD=/usr/sbin/slapd
readonly SCHEMA=/etc/ldap/schema
readonly MARKER=.heliq-ldap-test-server  # stop only deletes folders that start made
readonly ADMIN_DN="cn=admin,dc=example"
readonly ADMIN_PASSWORD=admin-test
readonly ENGINEERS=2000
readonly SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}

die() {
  echo "ldap-test-server: $*" >&2
  exit 1
}

# slapd runs as openldap when started by root, else as the calling user.
owner_flags() {
  if [[ $EUID -eq 0 ]]; then
    echo "-u openldap -g openldap"
  fi
}

write_config() {
  local dir=$1
  cat >"$dir/slapd.conf" <<CONF
include $SCHEMA/core.schema
include $SCHEMA/cosine.schema
include $SCHEMA/inetorgperson.schema
include $SCHEMA/nis.schema
include $dir/heliq-test.schema
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
modulepath /usr/lib/ldap
moduleload back_mdb
moduleload memberof
sizelimit size.soft=500 size.hard=500 size.prtotal=unlimited

database mdb
maxsize 268435456
dbnosync
suffix "dc=example"
rootdn "$ADMIN_DN"
rootpw $ADMIN_PASSWORD
directory $dir/data
index objectClass eq
index cn,uid,mail,employeeNumber eq,sub
index memberOf,member eq
overlay memberof

access to attrs=userPassword
  by self write
  by anonymous auth
  by * none
access to *
  by users read
  by * none
CONF
}

# The 2,000 engineers and their group, as LDIF on stdout.
bulk_ldif() {
  printf 'dn: ou=bulk,dc=example\nobjectClass: organizationalUnit\nou: bulk\n\n'
  local i login
  for ((i = 1; i <= ENGINEERS; i++)); do
    printf -v login 'eng%04d' "$i"
    printf 'dn: cn=%s,ou=bulk,dc=example\nobjectClass: inetOrgPerson\nobjectClass: deskPerson\n' "$login"
    printf 'cn: %s\nuid: %s\ngivenName: Engineer\nsn: No %d\nmail: %s@bulk.example.com\n' \
      "$login" "$login" "$i" "$login"
    printf 'languageId: 1033\nc: US\nemployeeNumber: BE%04d\nuserPassword: heliq-demo\n\n' "$i"
  done
  printf 'dn: cn=bulk-32,ou=groups,dc=example\nobjectClass: groupOfNames\ncn: bulk-32\n'
  for ((i = 1; i <= ENGINEERS; i++)); do
    printf 'member: cn=eng%04d,ou=bulk,dc=example\n' "$i"
  done
}

start() {
  local dir=$1 port=$2
  if ! [[ $port =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
    die "bad port: $port"
  fi
  [[ -x $SLAPD ]] || die "$SLAPD not found (install slapd)"
  command -v ldapadd >/dev/null || die "ldapadd not found (install ldap-utils)"

  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd -P)
  [[ -z "$(ls -A "$dir")" ]] || die "$dir is not empty"
  touch "$dir/$MARKER"
  mkdir "$dir/data"
  cp "$SOURCE/tests/ldap/heliq-test.schema" "$dir/"
  write_config "$dir"
  if [[ $EUID -eq 0 ]]; then
    chown -R openldap:openldap "$dir"
  fi
  chmod 700 "$dir"
  if [[ $EUID -eq 0 ]]; then
    runuser -u openldap -- test -w "$dir" ||
      die "$dir is not reachable for the openldap user (is a parent folder closed to it?)"
  fi

  # shellcheck disable=SC2046
  if ! "$SLAPD" -h "ldap://127.0.0.1:$port/" -f "$dir/slapd.conf" $(owner_flags) \
    2>"$dir/slapd.log"; then
    cat "$dir/slapd.log" >&2
    die "slapd did not start"
  fi
  local uri="ldap://127.0.0.1:$port" tries
  for ((tries = 0; tries < 100; tries++)); do
    if ldapsearch -x -H "$uri" -b "" -s base -LLL namingContexts >/dev/null 2>&1; then
      break
    fi
    sleep 0.1
  done
  ((tries < 100)) || die "slapd does not answer on $uri"
  ldapadd -x -H "$uri" -D "$ADMIN_DN" -w "$ADMIN_PASSWORD" -f "$SOURCE/tests/ldap/demo.ldif" \
    >/dev/null || die "loading tests/ldap/demo.ldif failed"
  bulk_ldif | ldapadd -x -H "$uri" -D "$ADMIN_DN" -w "$ADMIN_PASSWORD" >/dev/null ||
    die "loading the $ENGINEERS engineers failed"
}

stop() {
  local dir=$1
  [[ -d $dir ]] || return 0
  # An empty folder: start never ran (or failed before writing anything).
  if [[ -z "$(ls -A "$dir")" ]]; then
    rmdir "$dir"
    return 0
  fi
  [[ -e $dir/$MARKER ]] || die "$dir was not made by this script; not touching it"
  if [[ -s $dir/slapd.pid ]]; then
    local pid tries
    pid=$(cat "$dir/slapd.pid")
    kill "$pid" 2>/dev/null || true
    for ((tries = 0; tries < 100; tries++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  rm -rf "$dir"
}

case ${1:-} in
  start) [[ $# -eq 3 ]] || usage; start "$2" "$3" ;;
  stop) [[ $# -eq 2 ]] || usage; stop "$2" ;;
  *) usage ;;
esac
