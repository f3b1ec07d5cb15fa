#!/usr/bin/env bash
# The launcher's main job as far as it is built: build it, publish a version
# record on a local content server, start the launcher once under Wine from a
# folder of its own (it checks for an update, finds itself current and ends),
# and show the log it wrote.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVAL_BUILD_DIR:-$root/build}"
port="${KORVAL_TEST_PORT:-47443}"

bash "$root/tools/setup.sh"
source "$root/cmake/wine-tools.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH="$KORVAL_ARCH" \
  -DKORVAL_CONTENT_HOST=localhost -DKORVAL_CONTENT_PORT="$port" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target korval_launcher korval install_root_cert \
  >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

source "$root/tools/wine_env.sh"
source "$root/tools/content_server_env.sh"
demo="$build/demo"
finish() {
  content_server_stop
  wine_env_stop
}
trap finish EXIT
wine_env_start "$build"

rm -rf "$demo"
mkdir -p "$demo/cef" "$demo/server/pc/launcher"
cp "$build/bin/korval_launcher.exe" "$demo/"
cp "$build/bin/korval.exe" "$demo/cef/"
exe="$demo/korval_launcher.exe"
cat >"$demo/server/pc/launcher/latest.json" <<JSON
{"version": "0.1.4", "url": "korval_launcher.exe", "sha256": "$(sha256sum "$exe" | cut -d' ' -f1)", "size": $(stat -c %s "$exe")}
JSON
content_server_start "$build" "$demo/server" "$demo/control" "$port"

echo "demo: content server on https://localhost:$port/ publishes launcher 0.1.4"
echo "demo: starting $exe"
status=0
LC_ALL=ru_RU.UTF-8 wine "$exe" </dev/null >/dev/null 2>&1 || status=$?
echo "demo: exit code $status; korval_launcher.log:"
cat "$demo/korval_launcher.log"
