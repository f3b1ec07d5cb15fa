#!/usr/bin/env bash
# Runs one Windows test program under Wine with a private test content server
# (tools/content_server.py) listening on the build's content port.
# Usage: with_content_server.sh BUILD_DIR PORT PROGRAM [ARGS...]
#
# The program finds the server's folders in its environment:
#   KORVAL_TEST_SERVER_ROOT     the served folder (a Windows path)
#   KORVAL_TEST_SERVER_CONTROL  faults.json and requests.log (a Windows path)
set -uo pipefail
build_dir="$1"; port="$2"; shift 2
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
certs=$("$here/content_server_cert.sh" "$build_dir") || exit 1

run=$(mktemp -d "$certs/run-XXXXXX")
mkdir -p "$run/root" "$run/control"
python3 "$here/content_server.py" --root "$run/root" --control "$run/control" --port "$port" \
  --cert "$certs/cert.pem" --key "$certs/key.pem" &
server=$!
cleanup() {
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -f "$run/control/ready" ] && break
  kill -0 "$server" 2>/dev/null || { echo "content server did not start"; exit 1; }
  sleep 0.05
done

export KORVAL_TEST_SERVER_ROOT="Z:${run//\//\\}\\root"
export KORVAL_TEST_SERVER_CONTROL="Z:${run//\//\\}\\control"
"$here/../cmake/wine-run.sh" "$build_dir" "$@"
