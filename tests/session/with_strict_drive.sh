#!/usr/bin/env bash
# Runs a command with a drive in the build's Wine prefix that is as strict as
# Windows' system drive root (tools/strict_drive.py: folders may be made in
# its root, files may not) and that has more free space than any other fixed
# drive, so the default install folder lands on it. Its letter goes to the
# command as KORVAL_TEST_STRICT_DRIVE ("K:"). Without root, /dev/fuse or the
# fusepy module there is no such drive and the command skips the cases that
# need it. The drive is unmounted, and its letter given back, on every way out.
# Usage: with_strict_drive.sh BUILD_DIR COMMAND [ARGS...]
set -uo pipefail
build_dir="$1"; shift
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
# fusepy is Debian's package, for Debian's Python rather than one on PATH.
python=/usr/bin/python3
wine_run="$here/../../cmake/wine-run.sh"
# Tells the prefix's mount manager: GetLogicalDrives lists only what it knows.
wine_drive="$build_dir/bin/wine_drive.exe"

if [ "$(id -u)" != 0 ] || [ ! -c /dev/fuse ] || ! "$python" -c 'import fusepy' 2>/dev/null; then
  echo "with_strict_drive: not root, no /dev/fuse or no fusepy: no strict drive"
  "$@"
  exit $?
fi
"$here/../../cmake/wine-prefix.sh" "$WINEPREFIX"

work=$(mktemp -d /tmp/korval-strict-drive-XXXXXX)
mkdir "$work/backing" "$work/mnt"
fs_pid=""
link=""
cleanup() {
  if [ -n "$link" ]; then
    bash "$wine_run" "$build_dir" "$wine_drive" "$(basename "$link")" >/dev/null 2>&1
    rm -f "$link"
  fi
  if mountpoint -q "$work/mnt"; then fusermount -u "$work/mnt" 2>/dev/null || fusermount -uz "$work/mnt"; fi
  if [ -n "$fs_pid" ]; then
    for _ in $(seq 50); do kill -0 "$fs_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$fs_pid" 2>/dev/null
    wait "$fs_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$python" "$here/../../tools/strict_drive.py" "$work/backing" "$work/mnt" </dev/null \
  >"$work/fs.log" 2>&1 &
fs_pid=$!
for _ in $(seq 100); do mountpoint -q "$work/mnt" && break; sleep 0.1; done
if ! mountpoint -q "$work/mnt"; then
  echo "with_strict_drive: the strict drive did not mount"; cat "$work/fs.log"; exit 1
fi

# Letters apart from with_test_drives.sh's, which may run inside this.
for letter in j i h g f e; do
  candidate="$WINEPREFIX/dosdevices/$letter:"
  [ -e "$candidate" ] && continue
  link="$candidate"
  bash "$wine_run" "$build_dir" "$wine_drive" "$letter:" "$work/mnt" ||
    { echo "with_strict_drive: the mount manager did not take $letter:"; exit 1; }
  break
done
[ -n "$link" ] || { echo "with_strict_drive: no free drive letter"; exit 1; }
letter="$(basename "$link")"
export KORVAL_TEST_STRICT_DRIVE="${letter^^}"
"$@"
