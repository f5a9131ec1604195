#!/usr/bin/env bash
# Runs the browser tests: a demo installation in a temporary folder (`heliq init --demo`), the
# built heliqd on a free loopback port serving the built pages, the node tests against it
# through Debian's chromium, then heliqd stopped and the folder removed.
#
# Usage: run.sh HELIQ HELIQD WEB_DIST [SCREENSHOT_DIR] [TEST_FILE...]
# Exit status: that of the tests (1 also when the host does not come up). heliqd's log is
# printed when a test fails.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
heliq=$1 heliqd=$2 dist=$3
shots=${4:-$source_dir/docs/web}
shift $(( $# < 4 ? $# : 4 ))

[[ -f $dist/index.html ]] || { echo "web tests: no built pages in $dist" >&2; exit 1; }
# A relative web_root would be read against the installation folder.
dist=$(cd "$dist" && pwd)
[[ -d $here/node_modules/playwright-core ]] || { echo "web tests: run npm ci in $here" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/heliq-web.XXXXXX")
pid=
cleanup() {
  if [[ -n $pid ]]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

port=$(node -e "const s=require('net').createServer().listen(0,'127.0.0.1',()=>{console.log(s.address().port);s.close()})")
# The shipped configuration, pointed at the folder, the port and the pages; no scheduled
# services, so nothing changes the rows behind the tests' backs.
awk -v dir="$work" -v port="$port" -v dist="$dist" '
  /^install_dir[[:space:]]*=/ { print "install_dir = \"" dir "\""; next }
  /^\[/ { section = $0 }
  section == "[host]" && /^port[[:space:]]*=/ { print "port = " port; print "web_root = \"" dist "\""; next }
  section == "[host]" && /^web_root[[:space:]]*=/ { next }
  section == "[scheduler]" && /^enabled[[:space:]]*=/ { print "enabled = false"; next }
  { print }' "$source_dir/config/heliq.toml" > "$work/heliq.toml"

export HELIQ_CONFIG=$work/heliq.toml
unset HELIQ_API_TOKEN
"$heliq" init --demo > "$work/init.log" 2>&1 || { cat "$work/init.log" >&2; exit 1; }
"$heliqd" > "$work/heliqd.out" 2>&1 &
pid=$!
url=http://127.0.0.1:$port
for _ in $(seq 1 100); do
  if curl -sf "$url/healthz" > /dev/null; then break; fi
  kill -0 "$pid" 2>/dev/null || { cat "$work/heliqd.out" >&2; exit 1; }
  sleep 0.2
done
curl -sf "$url/healthz" > /dev/null || { echo "web tests: heliqd did not come up" >&2; exit 1; }

cd "$here"
tests=("$@")
(( ${#tests[@]} > 0 )) || tests=(road.test.mjs faq.test.mjs pages.test.mjs support.test.mjs prospect.test.mjs)
status=0
# One file after another (they share the database); Node 18's runner has no concurrency flag.
for test_file in "${tests[@]}"; do
  HELIQ_WEB_URL=$url HELIQ_WEB_DB=$work/var/heliq.db HELIQ_WEB_SHOTS=$shots \
    node --test "$test_file" || status=$?
done
if (( status != 0 )); then
  echo "== heliqd output" >&2
  tail -n 50 "$work/heliqd.out" >&2
  tail -n 50 "$work/var/log/heliq.log" >&2 2>/dev/null || true
fi
exit "$status"
