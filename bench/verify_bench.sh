#!/usr/bin/env bash
# What signed releases cost, run by hand (not part of the tests): one
# verification of a signed manifest with the launcher's own code (CNG, in
# process) against the fetch that brings the document, the launcher's HTTPS
# GET of the same manifest from the local content server. The ratio is
# fetch time / verification time (how many verifications fit in one fetch of
# the document over loopback, the fastest network there is).
# Usage: bench/verify_bench.sh [FILES (default 3000)] [RUNS (default 500)]
set -euo pipefail
source "$(dirname "$0")/bench_env.sh"
files="${1:-3000}"
runs="${2:-500}"

bench_start bench_verify_signature bench_http_fetch
data="$build/bench-verify"
rm -rf "$data" && mkdir -p "$data/game" "$data/root" "$data/control" "$data/out"
# A game of many small files: a manifest of the size a real one has.
for i in $(seq "$files"); do
  d="$data/game/data/d$((i % 40))"
  mkdir -p "$d"
  echo "file $i" >"$d/f$i.dat"
done
python3 "$root/tools/publish.py" publish "$data/game" "$data/root" --release r1 \
  --key "$root/tests/keys/release_a.pem" >/dev/null
manifest="$data/root/pc/manifest.json"
key=$(cat "$root/tests/keys/release_a.pub")
wine_do() { LC_ALL=ru_RU.UTF-8 wine "$@" </dev/null; }

line=$(wine_do "$build/bin/bench_verify_signature.exe" "$(winpath "$manifest")" \
  "$(winpath "$manifest.sig")" "$key" "$runs")
verify=$(awk '{print $4}' <<<"$line")
echo "bench: manifest of $files files, $(stat -c %s "$manifest") bytes"
echo "  one verification (average of $runs): $(printf '%.6f' "$verify") s"

content_server_start "$build" "$data/root" "$data/control" "$port"
fetch=""
for _ in 1 2 3; do
  got=$(wine_do "$build/bin/bench_http_fetch.exe" /pc/manifest.json "$(winpath "$data/out/m.json")")
  fetch=$(smaller "$fetch" "$(awk '{print $4}' <<<"$got")")
done
echo "  one HTTPS GET of it on loopback (best of 3): $fetch s"
echo "  ratio (fetch/verification): $(ratio "$fetch" "$verify")"
