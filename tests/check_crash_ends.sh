#!/usr/bin/env bash
# A program that crashes in the tests' prefix must end by itself with a
# failure and a backtrace. Wine's debugger otherwise shows a crash dialog and
# waits, and the test that crashed holds its slot until CTest's time-out.
# Usage: check_crash_ends.sh BUILD_DIR CRASH_PROBE_EXE
set -uo pipefail
build="$1"
probe="$2"
out=$(timeout 120 bash "$(dirname "$0")/../cmake/wine-run.sh" "$build" "$probe" 2>&1)
status=$?
if [ "$status" -eq 124 ]; then
  echo "FAIL: the crashed program was still waiting after 120 s"
  exit 1
fi
if [ "$status" -eq 0 ] || ! grep -q 'Unhandled' <<<"$out"; then
  echo "FAIL: the crash ended with status $status and without Wine's report:"
  echo "$out" | head -n 20
  exit 1
fi
echo "crash: the probe ended with status $status and a backtrace"
