#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix.
# CTest calls this for every test binary; tools/test.sh prepares the prefix,
# Xvfb and a persistent wineserver, but running a single test by hand works too.
# Usage: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
set -uo pipefail
build_dir="$1"; shift
source "$(dirname "$0")/wine-tools.sh"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX"
fi

# Wine's helper processes (services, the desktop) outlive the program and
# inherit its output: keep them away from CTest's pipe, or CTest waits for
# them forever.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# The players' code page: ANSI 1251, so Cyrillic paths are representable.
LC_ALL="${KORVAL_TEST_LOCALE:-ru_RU.UTF-8}" wine "$@" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
# Wine sometimes reports a program its debugger ended after a crash as
# having exited with 0: the loader's own report of the crash decides.
if [ "$status" -eq 0 ] && grep -q '^wine: Unhandled ' "$out"; then
  echo "wine-run: the program crashed (Wine reported exit status 0)"
  status=70
fi
exit "$status"
