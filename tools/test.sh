#!/usr/bin/env bash
# Installs what is missing, builds both executables and every test program,
# and runs all tests under Wine. Exit code 0 only when every test passed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVAL_BUILD_DIR:-$root/build}"

bash "$root/tools/setup.sh"
source "$root/cmake/wine-tools.sh"
shipped_bin="$build/bin"
if [ "$KORVAL_ARCH" != i686 ]; then
  # This kernel runs no 32-bit programs: the tests run a 64-bit build, and
  # the shipped 32-bit executables are built beside it to be checked.
  echo "test.sh: no 32-bit programs on this kernel, testing a $KORVAL_ARCH build"
  cmake -S "$root" -B "$build/shipped" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH=i686 \
    -DKORVAL_BUILD_TESTS=OFF -DKORVAL_BUILD_PAGE=OFF >/dev/null
  cmake --build "$build/shipped" --parallel "$(nproc)" --target korval_launcher korval \
    >"$build/shipped.log" 2>&1 || { cat "$build/shipped.log"; exit 1; }
  shipped_bin="$build/shipped/bin"
fi
# Tests talk to a local HTTPS content server: the test build points there.
# KORVAL_TEST_PORT lets two builds on one machine test side by side.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH="$KORVAL_ARCH" \
  -DKORVAL_SHIPPED_BIN="$shipped_bin" \
  -DKORVAL_CONTENT_HOST=localhost -DKORVAL_CONTENT_PORT="${KORVAL_TEST_PORT:-47443}" >/dev/null
cmake --build "$build" --parallel "$(nproc)" >"$build/build.log" 2>&1 ||
  { cat "$build/build.log"; exit 1; }

source "$root/tools/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start "$build"

ctest --test-dir "$build" --output-on-failure --parallel 2 --timeout 600
