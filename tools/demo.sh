#!/usr/bin/env bash
# The launcher's main job as far as it is built: build it, start it once
# under Wine from a folder of its own, and show the log it wrote.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVAL_BUILD_DIR:-$root/build}"

bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target korval_launcher korval >"$build/build.log" 2>&1 ||
  { cat "$build/build.log"; exit 1; }

source "$root/tools/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start "$build"

demo="$build/demo"
mkdir -p "$demo/cef"
cp "$build/bin/korval_launcher.exe" "$demo/"
cp "$build/bin/korval.exe" "$demo/cef/"
echo "demo: starting $demo/korval_launcher.exe --no-update"
status=0
LC_ALL=ru_RU.UTF-8 wine "$demo/korval_launcher.exe" --no-update </dev/null >/dev/null 2>&1 || status=$?
echo "demo: exit code $status; korval_launcher.log:"
cat "$demo/korval_launcher.log"
