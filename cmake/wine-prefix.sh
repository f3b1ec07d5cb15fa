#!/usr/bin/env bash
# Creates a private 32-bit Wine prefix once; concurrent callers wait for the first.
set -euo pipefail
prefix="$1"
source "$(dirname "$0")/wine-tools.sh"
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/system.reg" ]; then
  WINEPREFIX="$prefix" WINEARCH="$KORVAL_WINE_ARCH" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot --init >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
fi
