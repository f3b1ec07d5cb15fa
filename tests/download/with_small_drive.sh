#!/usr/bin/env bash
# Runs a download test program with a 20 MiB tmpfs mounted as a drive of the
# build's Wine prefix, and a test content server around it. The drive letter
# goes to the program as KORVAL_TEST_SMALL_DRIVE ("K:"); without root there is
# no drive and the program skips its cases.
# Usage: with_small_drive.sh BUILD_DIR PORT PROGRAM [ARGS...]
set -uo pipefail
build_dir="$1"
here="$(cd "$(dirname "$0")" && pwd)"
tools="$here/../../tools"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"

if [ "$(id -u)" != 0 ]; then
  echo "with_small_drive: not root, no small drive"
  exec bash "$tools/with_content_server.sh" "$@"
fi
"$here/../../cmake/wine-prefix.sh" "$WINEPREFIX"

mnt=$(mktemp -d /tmp/korval-small-drive-XXXXXX)
link=""
cleanup() {
  [ -n "$link" ] && rm -f "$link"
  if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || umount -l "$mnt"; fi
  rmdir "$mnt"
}
trap cleanup EXIT
mount -t tmpfs -o size=20m tmpfs "$mnt" || { echo "with_small_drive: mount failed"; exit 1; }
for letter in k l m n o p q r s t u v w x y; do
  candidate="$WINEPREFIX/dosdevices/$letter:"
  if [ ! -e "$candidate" ] && [ ! -L "$candidate" ]; then
    ln -s "$mnt" "$candidate" && link="$candidate" && break
  fi
done
[ -n "$link" ] || { echo "with_small_drive: no free drive letter"; exit 1; }
letter="$(basename "$link")"
export KORVAL_TEST_SMALL_DRIVE="${letter^^}"
bash "$tools/with_content_server.sh" "$@"
