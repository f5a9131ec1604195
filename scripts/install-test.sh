#!/usr/bin/env bash
# Checks that Heliq runs as installed, away from its sources, and that its Debian package is sound.
#
# Builds heliq, heliqd and the web pages (Release, no tests, no Qt) in BUILD (default
# build-install), installs them with DESTDIR into a temporary folder, copies that tree elsewhere
# and, from a working directory outside the source tree and with a configuration whose paths point
# into the temporary folder: runs `heliq init --demo` on a new state folder, checks that a second
# init fails naming the database and changes nothing, starts heliqd from the copied bin/, asks it
# for a page, walks one request over HTTP with curl and stops heliqd by SIGTERM. The installed
# files must not contain the source or build path. Then builds the package with cpack and checks
# it with dpkg-deb and lintian (no errors).
#
# Contract: run from anywhere, on Debian 12 with the packages of scripts/install-deps.sh. Exits
# non-zero on the first failed check; the temporary folder and heliqd are gone however it ends.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source_dir=$PWD
build=${1:-build-install}
[[ $build == /* ]] || build=$source_dir/$build

echo "== install test: building heliq, heliqd and the web pages ($build: Release)"
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DHELIQ_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 --target heliq heliqd heliq_web

tmp=$(mktemp -d -t heliq-install.XXXXXX)
heliqd_pid=""
cleanup() {
  if [[ -n $heliqd_pid ]] && kill -0 "$heliqd_pid" 2>/dev/null; then
    kill -KILL "$heliqd_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "install test: $*" >&2
  exit 1
}

echo "== install test: staged install into $tmp/stage"
DESTDIR=$tmp/stage cmake --install "$build" --strip >/dev/null
for file in usr/bin/heliq usr/bin/heliqd usr/lib/heliq/libheliq_platform.so \
  usr/share/heliq/db/sqlite.sql usr/share/heliq/db/reference.sql usr/share/heliq/db/demo.sql \
  usr/share/heliq/heliq.toml etc/heliq/heliq.toml lib/systemd/system/heliqd.service \
  usr/share/doc/heliq/operations.md usr/share/doc/heliq/copyright usr/share/heliq/web/index.html; do
  [[ -e $tmp/stage/$file ]] || fail "the staged install lacks /$file"
done
if grep -rl -e "$source_dir" -e "$build" "$tmp/stage"; then
  fail "the installed files above name the source or build folder"
fi
# The installation is relocatable: run it from a copy, so nothing can lean on the staging path.
cp -a "$tmp/stage" "$tmp/root"
rm -rf "$tmp/stage"
root=$tmp/root

# The packaged configuration with its state and log moved into the temporary folder.
port=$(python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
config=$tmp/heliq.toml
sed -e "s|^install_dir = .*|install_dir = \"$tmp/state\"|" \
  -e "s|\"/var/log/heliq/heliq.log\"|\"$tmp/log/heliq.log\"|" \
  -e "s|^port = .*|port = $port|" "$root/etc/heliq/heliq.toml" >"$config"
grep -q "^install_dir = \"$tmp/state\"" "$config" || fail "cannot point install_dir at $tmp/state"
grep -q "$tmp/log/heliq.log" "$config" || fail "cannot point the log at $tmp/log"
mkdir -p "$tmp/state" "$tmp/log" "$tmp/work"
cd "$tmp/work"
unset HELIQ_CONFIG

echo "== install test: heliq init --demo from $PWD"
"$root/usr/bin/heliq" --version | grep -qx "heliq [0-9]*\.[0-9]*\.[0-9]*" || fail "heliq --version"
# The global option after the subcommand.
"$root/usr/bin/heliq" init --demo --config "$config" | tee "$tmp/init.out"
grep -q "$root/usr/share/heliq/db" "$tmp/init.out" || fail "init did not use the installed scripts"
[[ -s $tmp/state/heliq.db ]] || fail "init created no $tmp/state/heliq.db"
# A second init fails on the existing tables, names the database and changes nothing.
if "$root/usr/bin/heliq" --config "$config" init >"$tmp/init2.out" 2>&1; then
  fail "a second heliq init succeeded"
fi
grep -q "sqlite:heliq.db" "$tmp/init2.out" || { cat "$tmp/init2.out"; fail "init failure names no database"; }
"$root/usr/bin/heliq" --config "$config" directory users | grep -q cce1 ||
  fail "the demo directory lost its users"

echo "== install test: heliqd on 127.0.0.1:$port"
"$root/usr/bin/heliqd" --config "$config" >"$tmp/heliqd.out" 2>&1 &
heliqd_pid=$!
base=http://127.0.0.1:$port
for _ in $(seq 100); do
  curl -sf "$base/healthz" >/dev/null 2>&1 && break
  kill -0 "$heliqd_pid" 2>/dev/null || { cat "$tmp/heliqd.out"; fail "heliqd ended at start"; }
  sleep 0.1
done
curl -sf "$base/healthz" >/dev/null || { cat "$tmp/heliqd.out"; fail "heliqd does not answer"; }
# The installed pages, from share/heliq/web beside the program.
curl -sf "$base/requests/1" | grep -q '<div id=' || fail "heliqd does not serve the installed pages"
grep -q "configuration $config" "$tmp/heliqd.out" || fail "heliqd does not say its configuration"
grep -q "database Heliq: sqlite:heliq.db" "$tmp/heliqd.out" || fail "heliqd does not say its database"

call() {
  curl -sf -X POST "$base/api/v1/$1" -d "$2" || fail "POST $1 failed"
  echo
}
q=$(curl -sf -X POST "$base/api/v1/requests" \
  -d '{"Q_DESC":"Printer jams","Q_TEXT":"My printer jams","Q_ORIGINATOR":"cust1","CENTER":1,"Q_PRODUCTCAT":1,"PRODUCTID":1,"Q_CATEGORY":1}' |
  sed -E 's/.*"Q_ID":([0-9]+).*/\1/')
[[ $q =~ ^[0-9]+$ ]] || fail "POST requests gave no Q_ID"
call HlqServiceRequestMTS.Question/RegisterQuestion \
  "{\"i_dictDetails\":{\"Q_ID\":$q,\"T_NAME\":\"cust1\",\"CENTER\":1,\"Q_DESC\":\"Printer jams\",\"Q_TEXT\":\"My printer jams\",\"Q_ORIGINATOR\":\"cust1\",\"Q_PRODUCTCAT\":1,\"PRODUCTID\":1,\"Q_CATEGORY\":1}}" >/dev/null
call HlqServiceRequestMTS.Dispatch/DispatchHDS \
  "{\"i_sPCategory\":\"1\",\"i_sQCategory\":\"1\",\"i_sUserId\":\"cust1\",\"i_lQID\":$q,\"i_sText\":\"My printer jams\",\"i_bAutomatic\":true,\"i_lLoginLocale\":1033}" >/dev/null
curl -sf "$base/api/v1/requests/$q" | grep -q '"D_DIRECT_TO":"cce1"' ||
  fail "automatic dispatch did not choose cce1"
call HlqServiceRequestMTS.Question/TakeInHand \
  "{\"i_dictDetails\":{\"Q_ID\":$q,\"T_NAME\":\"cce1\",\"T_COMMENT\":\"\",\"USERCOMMENT\":\"\"}}" >/dev/null
call HlqServiceRequestMTS.Question/AnswerQuestion \
  "{\"i_dictDetails\":{\"Q_ID\":$q,\"T_NAME\":\"cce1\",\"T_COMMENT\":\"\",\"USERCOMMENT\":\"\",\"A_TEXT\":\"Remove the jammed sheet.\"}}" >/dev/null
call HlqServiceRequestMTS.Question/AcceptQuestion \
  "{\"i_dictDetails\":{\"Q_ID\":$q,\"T_NAME\":\"cust1\",\"T_COMMENT\":\"\",\"USERCOMMENT\":\"Thanks\"}}" >/dev/null
call HlqServiceRequestMTS.Question/CloseQuestion \
  "{\"i_dictDetails\":{\"Q_ID\":$q,\"T_NAME\":\"cce1\",\"T_COMMENT\":\"\",\"USERCOMMENT\":\"\"}}" >/dev/null
transactions=$(curl -sf "$base/api/v1/requests/$q/transactions") || fail "no transaction log"
for status in 5 15 25 150 165 180; do
  grep -q "\"T_STATUS\":\"\?$status\"\?[,}]" <<<"$transactions" ||
    fail "the transaction log lacks status $status: $transactions"
done

echo "== install test: SIGTERM"
kill -TERM "$heliqd_pid"
status=0
wait "$heliqd_pid" || status=$?
heliqd_pid=""
[[ $status -eq 0 ]] || { cat "$tmp/heliqd.out"; fail "heliqd exited with $status on SIGTERM"; }
[[ -s $tmp/log/heliq.log ]] || fail "heliqd wrote no log to $tmp/log/heliq.log"
cd "$source_dir"

echo "== install test: Debian package"
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log"; exit 1; }
version=$("$build/tools/heliq" --version | cut -d' ' -f2)
deb=$build/heliq_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "cpack made no $deb"
info=$(dpkg-deb --info "$deb")
for field in "Package: heliq" "Version: $version" "Depends: .*adduser" "Depends: .*libsqlite3" \
  conffiles postinst prerm postrm; do
  grep -q "$field" <<<"$info" || { echo "$info"; fail "dpkg-deb --info lacks $field"; }
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/heliq/heliq.toml ||
  fail "/etc/heliq/heliq.toml is not a conffile"
contents=$(dpkg-deb --contents "$deb")
for file in ./usr/bin/heliq ./usr/bin/heliqd ./usr/lib/heliq/libheliq_platform.so \
  ./usr/share/heliq/db/reference.sql ./etc/heliq/heliq.toml ./lib/systemd/system/heliqd.service \
  ./usr/share/doc/heliq/copyright; do
  grep -q " $file\$" <<<"$contents" || { echo "$contents"; fail "the package lacks $file"; }
done
lintian --fail-on error "$deb"
echo "== install test: passed ($deb)"
