#!/usr/bin/env bash
# Installs what is missing, builds both executables and every test program,
# and runs all tests under Wine. Exit code 0 only when every test passed.
#
# Where the machine runs 32-bit programs the tests run the shipped 32-bit
# build in a 64-bit prefix (WoW64, as players run it). Elsewhere they run a
# 64-bit build of the same sources, and every 32-bit program, the tests
# included, is still compiled (not run) in build/shipped, so that a fault only
# a 32-bit compile sees fails here too. The first and the last line say which.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVAL_BUILD_DIR:-$root/build}"
port="${KORVAL_TEST_PORT:-47443}"

bash "$root/tools/setup.sh"
source "$root/cmake/wine-tools.sh"
tested="$(korval_tested_kind)"
echo "test.sh: testing $tested"
mkdir -p "$build"

# The same settings for both builds: tests talk to a local HTTPS content
# server. KORVAL_TEST_PORT lets two builds on one machine test side by side.
settings=(-DCMAKE_BUILD_TYPE=Release -DKORVAL_BUILD_TESTS=ON -DKORVAL_BUILD_PAGE=ON
  -DKORVAL_CONTENT_HOST=localhost -DKORVAL_CONTENT_PORT="$port")
shipped_bin="$build/bin"
compiled_only=""
if [ "$KORVAL_ARCH" != i686 ]; then
  if [ "${KORVAL_KERNEL_32BIT:-no}" = yes ]; then
    echo "test.sh: this kernel runs 32-bit programs, but Wine's 32-bit side is not installed"
  fi
  cmake -S "$root" -B "$build/shipped" -DKORVAL_ARCH=i686 "${settings[@]}" >/dev/null
  cmake --build "$build/shipped" --parallel "$(nproc)" >"$build/shipped.log" 2>&1 ||
    { cat "$build/shipped.log"; echo "test.sh: FAIL: the 32-bit build does not compile"; exit 1; }
  shipped_bin="$build/shipped/bin"
  compiled_only="; the 32-bit programs, $(ls "$shipped_bin"/*.exe | wc -l) with the tests, compiled but not run"
fi
cmake -S "$root" -B "$build" -DKORVAL_ARCH="$KORVAL_ARCH" -DKORVAL_SHIPPED_BIN="$shipped_bin" \
  "${settings[@]}" >/dev/null
cmake --build "$build" --parallel "$(nproc)" >"$build/build.log" 2>&1 ||
  { cat "$build/build.log"; exit 1; }

source "$root/tools/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start "$build"

status=0
ctest --test-dir "$build" --output-on-failure --parallel 2 --timeout 600 || status=$?
echo "test.sh: tested $tested$compiled_only"
exit "$status"
