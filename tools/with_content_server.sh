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
source "$here/content_server_env.sh"

mkdir -p "$build_dir/content-server"
run=$(mktemp -d "$build_dir/content-server/run-XXXXXX")
cleanup() {
  content_server_stop
  rm -rf "$run"
}
trap cleanup EXIT
content_server_start "$build_dir" "$run/root" "$run/control" "$port" || exit 1

export KORVAL_TEST_SERVER_ROOT="Z:${run//\//\\}\\root"
export KORVAL_TEST_SERVER_CONTROL="Z:${run//\//\\}\\control"
"$here/../cmake/wine-run.sh" "$build_dir" "$@"
