#!/usr/bin/env bash
# Builds heliq, heliqd and the web pages (build/, RelWithDebInfo), creates the SQLite demo database on first run
# and starts the HTTP host heliqd in the foreground. Arguments are passed on to heliqd.
#
# Contract: run from anywhere, as root on Debian 12 (installs missing packages). Works from the
# repository root, so the configuration is $HELIQ_CONFIG or config/heliq.toml. An existing
# database is never re-initialised; a PostgreSQL database is never initialised here (run
# `build/tools/heliq init` against it once yourself).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh

# Only what this script runs: no tests, no benchmarks, no administration utility. The pages are
# a target only where Node.js and npm were found (the install script brings them).
echo "== building heliq, heliqd and the web pages (build: RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHELIQ_BUILD_TESTS=OFF
targets=(heliq heliqd)
if cmake --build build --target help | grep -qx '\.\.\. heliq_web'; then targets+=(heliq_web); fi
cmake --build build -j2 --target "${targets[@]}"

config=${HELIQ_CONFIG:-config/heliq.toml}
[[ -f $config ]] || { echo "run: configuration file $config not found" >&2; exit 1; }

# Reads one plain `key = value` from [section] of the configuration ("" for the top level), with
# quotes and trailing comments removed. Enough for this script's few keys; the programs
# themselves use a real TOML parser.
toml_get() {
  awk -v want_section="$1" -v want_key="$2" '
    /^[[:space:]]*\[/ { section = $0; gsub(/^[[:space:]]*\[|\][[:space:]]*$/, "", section); next }
    section == want_section && $0 ~ "^[[:space:]]*" want_key "[[:space:]]*=" {
      value = $0
      sub(/^[^=]*=[[:space:]]*/, "", value)
      if (value ~ /^"/) { sub(/^"/, "", value); sub(/".*$/, "", value) }
      else { sub(/[[:space:]]*#.*$/, "", value); sub(/[[:space:]]+$/, "", value) }
      print value
      exit
    }' "$config"
}

install_dir=$(toml_get "" install_dir)
install_dir=${install_dir:-.}
connection=$(toml_get connections Heliq)
address=$(toml_get host address)
port=$(toml_get host port)

mkdir -p var/log var/mail
if [[ $connection == sqlite:* ]]; then
  db_file=${connection#sqlite:}
  [[ $db_file == /* ]] || db_file=$install_dir/$db_file
  if [[ ! -e $db_file ]]; then
    echo "== creating the demo database $db_file"
    mkdir -p "$(dirname "$db_file")"
    build/tools/heliq init --demo
  fi
else
  echo "== database is not SQLite ($config); skipping 'heliq init --demo'"
fi

echo "== heliqd listening on http://${address:-127.0.0.1}:${port:-8080}: the desk in a browser, the API"
echo "   below /api/v1 (config $config; demo people: README, password heliq-demo)"
exec build/host/heliqd "$@"
