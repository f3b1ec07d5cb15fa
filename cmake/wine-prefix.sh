#!/usr/bin/env bash
# Creates a build's private Wine prefix once; concurrent callers wait for the
# first. Its kind follows cmake/wine-tools.sh: a 64-bit prefix (the 32-bit
# build runs in it under WoW64), or a 32-bit one where asked for. A prefix of
# the other kind, left by an earlier run, is made anew.
set -euo pipefail
prefix="$1"
source "$(dirname "$0")/wine-tools.sh"
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/system.reg" ] && ! grep -qx "#arch=$KORVAL_WINE_ARCH" "$prefix/system.reg"; then
  echo "wine-prefix: $prefix is not a $KORVAL_WINE_ARCH prefix, making it anew"
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
fi
if [ ! -f "$prefix/system.reg" ]; then
  WINEPREFIX="$prefix" WINEARCH="$KORVAL_WINE_ARCH" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot --init >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
fi
# A program that crashes starts Wine's debugger, whose crash dialog waits for
# a click nobody gives: a crashed test would hold its slot until the
# time-out. Without the dialog the debugger writes the backtrace into the
# program's output and ends it at once.
if ! grep -q '"ShowCrashDialog"=dword:00000000' "$prefix/user.reg" 2>/dev/null; then
  WINEPREFIX="$prefix" WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\WineDbg' \
    /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # Its wineserver must be gone before the caller starts a persistent one
  # ("wineserver -p" refuses to start beside a running server).
  WINEPREFIX="$prefix" wineserver -w
fi
