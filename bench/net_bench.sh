#!/usr/bin/env bash
# Network and integrity benchmark, run by hand (not part of the tests).
#   1. the launcher's SHA-256 (CNG, 1 MiB reads) vs sha256sum over one file;
#   2. http_get_to_file from the local HTTPS content server vs curl, same URL.
# Figures are ratios measured in the same run: peer time / launcher time
# (above 1: the launcher is faster). Best of RUNS runs each.
# Usage: bench/net_bench.sh [SIZE_MIB (default 1024)] [RUNS (default 3)]
set -euo pipefail
source "$(dirname "$0")/bench_env.sh"
size_mib="${1:-1024}"
runs="${2:-3}"

command -v curl >/dev/null || apt-get install -y -qq curl >/dev/null
bench_start bench_sha256_file bench_http_fetch
data="$build/bench-data"
BENCH_CLEANUP='rm -rf "$data/out"'

mkdir -p "$data/root" "$data/control" "$data/out"
big="$data/root/big.bin"
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" -ne $((size_mib * 1048576)) ]; then
  echo "bench: writing a ${size_mib} MiB test file"
  head -c $((size_mib * 1048576)) /dev/urandom >"$big"
fi
# Wall-clock seconds of a command, best of $runs; any failed run ends the bench.
best() {
  local best_s="" t0
  for _ in $(seq "$runs"); do
    t0=$(now)
    "$@" >/dev/null 2>&1 || { echo "bench: failed: $*" >&2; exit 1; }
    best_s=$(smaller "$best_s" "$(elapsed "$t0")")
  done
  echo "$best_s"
}

wine_do() { LC_ALL=ru_RU.UTF-8 wine "$@" </dev/null; }

echo "bench: SHA-256 of ${size_mib} MiB"
ours=$(best wine_do "$build/bin/bench_sha256_file.exe" "$(winpath "$big")")
peer=$(best sha256sum "$big")
check_ours=$(wine_do "$build/bin/bench_sha256_file.exe" "$(winpath "$big")" | cut -d' ' -f1)
check_peer=$(sha256sum "$big" | cut -d' ' -f1)
[ "$check_ours" = "$check_peer" ] || { echo "digests differ: $check_ours $check_peer"; exit 1; }
echo "  launcher Sha256Hasher: ${ours} s   sha256sum: ${peer} s   ratio (sha256sum/launcher): $(ratio "$peer" "$ours")"

content_server_start "$build" "$data/root" "$data/control" "$port"

echo "bench: HTTPS download of ${size_mib} MiB from the local content server"
out="$data/out/got.bin"
ours=$(best wine_do "$build/bin/bench_http_fetch.exe" /big.bin "$(winpath "$out")")
cmp -s "$out" "$big" || { echo "launcher download differs"; exit 1; }
hashed=$(best wine_do "$build/bin/bench_http_fetch.exe" /big.bin "$(winpath "$out")" --hash)
peer=$(best curl -sS --cacert "$certs/cert.pem" -o "$out" "https://localhost:$port/big.bin")
cmp -s "$out" "$big" || { echo "curl download differs"; exit 1; }
echo "  launcher http_get_to_file: ${ours} s (with hashing ${hashed} s)   curl: ${peer} s   ratio (curl/launcher): $(ratio "$peer" "$ours")"
