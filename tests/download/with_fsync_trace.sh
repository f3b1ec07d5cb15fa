#!/usr/bin/env bash
# Runs a download test program with a test content server under strace and
# checks that the files it installs reached the disk before their names did:
# every partial file that the job completed was flushed (FlushFileBuffers is
# fsync under Wine), and so was the index's temporary file. A power cut after
# a move of unflushed bytes leaves an index that vouches for data that is not
# there.
# Usage: with_fsync_trace.sh BUILD_DIR PORT PARTS PROGRAM [ARGS...]
#   PARTS  how many distinct partial files the program's cases complete
#   KEEP_TRACE=FILE in the environment keeps a copy of the trace there
set -uo pipefail
build_dir="$1"; port="$2"; parts="$3"; shift 3
here="$(cd "$(dirname "$0")" && pwd)"
command -v strace >/dev/null || apt-get install -y -qq strace >/dev/null
command -v strace >/dev/null || { echo "with_fsync_trace: no strace"; exit 1; }

trace=$(mktemp)
trap '[ -n "${KEEP_TRACE:-}" ] && cp "$trace" "$KEEP_TRACE"; rm -f "$trace"' EXIT
# -y names each descriptor's file, so the flushes can be told apart.
strace -f -qq -y -e trace=fsync,fdatasync -o "$trace" \
  bash "$here/../../tools/with_content_server.sh" "$build_dir" "$port" "$@"
status=$?
[ "$status" = 0 ] || exit "$status"

# A call that another thread's output interrupts ends on a "resumed" line
# of its own: only the opening half names the file.
flushed=$(grep -oE 'f(data)?sync\([0-9]+<[^>]*\.part>' "$trace" | sort -u | wc -l)
index=$(grep -cE 'f(data)?sync\([0-9]+<[^>]*korval_files\.idx\.tmp>' "$trace")
echo "with_fsync_trace: $flushed partial files flushed (expected $parts), index flushed $index times"
[ "$flushed" = "$parts" ] && [ "$index" -gt 0 ]
