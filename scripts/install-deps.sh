#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Heliq need.
#
# Contract: run as root on Debian 12 (no TTY needed). When every package is already installed it
# returns at once without touching apt, so scripts may call it on every run. Otherwise it runs
# `apt-get update` and one `apt-get install`; their chatter goes to a log that is printed only
# when a step fails. Exit status is non-zero when anything could not be installed.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config git
  # tests and micro-benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # databases: embedded SQLite, PostgreSQL client library and the 15 server for the tests
  libsqlite3-dev sqlite3 libpq-dev postgresql-15
  # HTTP (Beast/Asio; cpp-httplib is the tests' client), JSON, command line, configuration, log, SMTP
  libboost-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev libtomlplusplus-dev libspdlog-dev libfmt-dev
  libcurl4-openssl-dev
  # XML parser the tests read the engineer-list files with
  libxml2-dev
  # desktop administration utility (Qt 6 Widgets); Xvfb for its screenshots
  qt6-base-dev xvfb xauth
  # clang with libFuzzer for the fuzz target (16: it captures structured bindings, as C++20 allows)
  clang-16 libclang-rt-16-dev
  # loopback SMTP server for the mail tests
  python3-aiosmtpd
  # independent reader of the ".xls" workbooks in the report tests
  python3-xlrd
  # password hashes and session tokens
  libsodium-dev
  # the Debian package and its checks
  dpkg-dev fakeroot lintian
  # LDAP client library; slapd and its tools for the directory tests
  libldap-dev slapd ldap-utils
  # browser tests of the web pages (driven through playwright-core; no browser download)
  chromium chromium-driver
  curl ca-certificates
)

missing=()
# The web pages are built with Node.js and npm. A machine that brings its own (on PATH) keeps it;
# Debian's packages would conflict with it.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
for pkg in "${packages[@]}"; do
  # "ii " = wanted and installed; anything else (absent, half-configured, removed) needs apt.
  if [[ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$pkg" 2>/dev/null)" != "ii " ]]; then
    missing+=("$pkg")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

if [[ $EUID -ne 0 ]]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run this script as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp -t heliq-install-deps.XXXXXX)
trap 'rm -f "$log"' EXIT

# Wait for another apt/dpkg run (e.g. unattended upgrades) instead of failing on its lock.
apt_opts=(-o DPkg::Lock::Timeout=300 -o Dpkg::Use-Pty=0)

run_logged() {
  if ! "$@" >>"$log" 2>&1; then
    echo "install-deps: failed: $*" >&2
    cat "$log" >&2
    exit 1
  fi
}

run_logged apt-get "${apt_opts[@]}" update -q
run_logged apt-get "${apt_opts[@]}" install -y -q --no-install-recommends "${missing[@]}"
echo "install-deps: done"
