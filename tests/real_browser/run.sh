#!/usr/bin/env bash
# The real launcher driving the real page: korval_launcher.exe under Wine with
# the real-browser runtime (tools/cef_real), whose pages are Debian's Chromium
# on this side, the test content server with a small game, and samp.exe's
# stand-in. Usage: run.sh BUILD_DIR CONTENT_PORT [BRIDGE_PORT]  (0: any free port)
# Environment: UPDATE_SCREENSHOTS=1 writes the stages' screenshots into
# docs/screenshots instead of a temporary folder; KORVAL_TEST_PATTERN runs
# only the cases whose names match it.
set -euo pipefail
build="$(cd "$1" && pwd)"; port="$2"; bridge_port="${3:-0}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/cmake/wine-tools.sh"
source "$root/tools/wine_env.sh"
source "$root/tools/content_server_env.sh"

if [ ! -x /usr/bin/chromium ] && [ -z "${CHROMIUM_PATH:-}" ]; then
  echo "real_browser: Debian's chromium is missing (tools/setup.sh installs it)" >&2
  exit 1
fi
bash "$root/tools/npm_deps.sh" "$root/tools/cef_real/bridge"

# Under tools/test.sh the prefix, display and wineserver are there already.
own_wine=0
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  wine_env_start "$build"
  own_wine=1
fi
export WINEDEBUG="${WINEDEBUG:--all}"

mkdir -p "$build/content-server"
run=$(mktemp -d "$build/content-server/real-browser-XXXXXX")
cleanup() {
  content_server_stop
  [ -z "${small_link:-}" ] || rm -f "$small_link"
  if [ -n "${small_mnt:-}" ]; then
    if mountpoint -q "$small_mnt"; then umount "$small_mnt" 2>/dev/null || umount -l "$small_mnt"; fi
    rmdir "$small_mnt" 2>/dev/null || true
  fi
  rm -rf "$run"
  [ "$own_wine" -eq 0 ] || wine_env_stop
}
trap cleanup EXIT
trap 'exit 143' TERM INT
content_server_start "$build" "$run/root" "$run/control" "$port"

# A 20 MiB drive for a folder without space (mounting one needs root).
small_mnt="" small_link=""
if [ "$(id -u)" = 0 ] && small_mnt=$(mktemp -d /tmp/korval-real-small-XXXXXX) &&
  mount -t tmpfs -o size=20m tmpfs "$small_mnt" 2>/dev/null; then
  for letter in k l m n o p q r s t u v w x y; do
    candidate="$WINEPREFIX/dosdevices/$letter:"
    if [ ! -e "$candidate" ] && [ ! -L "$candidate" ]; then
      ln -s "$small_mnt" "$candidate" && small_link="$candidate" && break
    fi
  done
  [ -z "$small_link" ] || export KORVAL_TEST_SMALL_DRIVE="$(basename "${small_link^^}")"
fi

export KORVAL_BUILD_DIR="$build" KORVAL_WINE_LOADER KORVAL_BRIDGE_PORT="$bridge_port"
export KORVAL_TEST_SERVER_ROOT="$run/root" KORVAL_TEST_SERVER_CONTROL="$run/control"
[ -t 1 ] || export NO_COLOR=1
started=$(date +%s)
status=0
node --test --test-concurrency=1 --test-reporter=spec ${KORVAL_TEST_PATTERN:+--test-name-pattern="$KORVAL_TEST_PATTERN"} \
  "$root/tests/real_browser/" || status=$?
echo "real_browser: $(( $(date +%s) - started )) s"
exit "$status"
