#!/usr/bin/env bash
# Runs an install-folder test program with two small tmpfs drives in the
# build's Wine prefix: one writable and nearly empty of space (20 MiB), one
# mounted read-only. Their letters go to the program as
# KORVAL_TEST_SMALL_DRIVE and KORVAL_TEST_READONLY_DRIVE ("K:"); without root
# there are no drives and the program skips the cases that need them.
# Usage: with_test_drives.sh BUILD_DIR PROGRAM [ARGS...]
set -uo pipefail
build_dir="$1"; shift
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../../cmake/wine-run.sh"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"

if [ "$(id -u)" != 0 ]; then
  echo "with_test_drives: not root, no test drives"
  exec bash "$wine_run" "$build_dir" "$@"
fi
"$here/../../cmake/wine-prefix.sh" "$WINEPREFIX"

mounts=()
links=()
cleanup() {
  for link in "${links[@]}"; do rm -f "$link"; done
  for mnt in "${mounts[@]}"; do
    if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || umount -l "$mnt"; fi
    rmdir "$mnt"
  done
}
trap cleanup EXIT

# Mounts a tmpfs with OPTIONS and links it as the first free drive letter,
# left in $drive ("K:"). Not run in a subshell: the cleanup lists must grow.
add_drive() {
  local mnt
  mnt=$(mktemp -d /tmp/korval-test-drive-XXXXXX)
  mounts+=("$mnt")
  mount -t tmpfs -o "$1" tmpfs "$mnt" || return 1
  # Something to list, so that the drive root is not an empty folder.
  mkdir "$mnt/Файлы"
  for letter in t u v w x y s r q p o n m l k; do
    local candidate="$WINEPREFIX/dosdevices/$letter:"
    # ln fails when another program took the letter first: try the next.
    if [ ! -e "$candidate" ] && ln -s "$mnt" "$candidate" 2>/dev/null; then
      links+=("$candidate")
      drive="${letter^^}:"
      return 0
    fi
  done
  return 1
}

drive=""
add_drive size=20m || { echo "with_test_drives: no small drive"; exit 1; }
small="$drive"
add_drive size=1m || { echo "with_test_drives: no second drive"; exit 1; }
readonly_drive="$drive"
# A read-only mount still holds what was made before it turned read-only.
ro_mnt="${mounts[1]}"
mkdir "$ro_mnt/Игры" && mount -o remount,ro "$ro_mnt" ||
  { echo "with_test_drives: remount read-only failed"; exit 1; }
export KORVAL_TEST_SMALL_DRIVE="$small" KORVAL_TEST_READONLY_DRIVE="$readonly_drive"
bash "$wine_run" "$build_dir" "$@"
