#!/usr/bin/env bash
# Network and integrity benchmark, run by hand (not part of the tests).
#   1. the launcher's SHA-256 (CNG, 1 MiB reads) vs sha256sum over one file;
#   2. http_get_to_file from the local HTTPS content server vs curl, same URL.
# Figures are ratios measured in the same run: peer time / launcher time
# (above 1: the launcher is faster). Best of RUNS runs each.
# Usage: bench/net_bench.sh [SIZE_MIB (default 1024)] [RUNS (default 3)]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# A build of its own: the benchmark's content port must not meet a test run's.
build="${KORVAL_BUILD_DIR:-$root/build-bench}"
size_mib="${1:-1024}"
runs="${2:-3}"
port="${KORVAL_BENCH_PORT:-47449}"

bash "$root/tools/setup.sh"
command -v curl >/dev/null || apt-get install -y -qq curl >/dev/null
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DKORVAL_CONTENT_HOST=localhost -DKORVAL_CONTENT_PORT=$port >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target bench_sha256_file bench_http_fetch \
  install_root_cert >/dev/null
source "$root/tools/wine_env.sh"
source "$root/tools/content_server_env.sh"
data="$build/bench-data"
finish() {
  content_server_stop
  wine_env_stop
  rm -rf "$data/out"
}
trap finish EXIT
wine_env_start "$build"
certs=$("$root/tools/content_server_cert.sh" "$build")

mkdir -p "$data/root" "$data/control" "$data/out"
big="$data/root/big.bin"
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" -ne $((size_mib * 1048576)) ]; then
  echo "bench: writing a ${size_mib} MiB test file"
  head -c $((size_mib * 1048576)) /dev/urandom >"$big"
fi
winpath() { echo "Z:${1//\//\\}"; }
export LC_ALL=C

# Wall-clock seconds of a command, best of $runs; any failed run ends the bench.
best() {
  local best_s="" s
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "bench: failed: $*" >&2; exit 1; }
    t1=$(date +%s.%N)
    s=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best_s" ] || [ "$(echo "$s < $best_s" | bc -l)" = 1 ]; then best_s=$s; fi
  done
  printf '%.3f' "$best_s"
}
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
command -v bc >/dev/null || apt-get install -y -qq bc >/dev/null

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
