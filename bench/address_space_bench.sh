#!/usr/bin/env bash
# The address space that block plans take, run by hand (not part of the
# tests): the largest file a description may cover (2^20 blocks of 2048
# bytes, 2 GiB) of random content, so that every block is a kind of its own,
# planned from an old copy that shares most of it, once alone and then four
# times at once, as the four download workers may plan four such archives.
# Prints the process's address space in use (reserved or committed) before
# and at its peak, and the peak's share of a 32-bit launcher's 2 GB and, large-
# address-aware under WoW64, 4 GB.
# Usage: bench/address_space_bench.sh [BLOCKS (default 1048576)]
set -euo pipefail
source "$(dirname "$0")/bench_env.sh"
blocks="${1:-1048576}"

bench_start bench_block_match
data="$build/bench-address-space"
rm -rf "$data" && mkdir -p "$data"
BENCH_CLEANUP="rm -rf '$data'"

bytes=$((blocks * 2048))
head -c "$bytes" /dev/urandom >"$data/new.img"
# The old copy: the new file with its first eighth and one more stretch
# replaced, so that the search runs over the whole copy and finds most of it.
cp "$data/new.img" "$data/old.img"
head -c $((bytes / 8)) /dev/urandom | dd of="$data/old.img" conv=notrunc status=none
head -c 1000000 /dev/urandom | dd of="$data/old.img" bs=1 seek=$((bytes / 2)) conv=notrunc status=none
start=$(now)
python3 - "$root" "$data/new.img" "$data/new.img.blocks" <<'PY'
import sys
sys.path.insert(0, sys.argv[1] + "/tools")
from publishing import block_map
block_map.write_description(sys.argv[2], sys.argv[3])
PY
echo "bench: $KORVAL_ARCH build, $(wine --version), $blocks blocks ($((bytes >> 20)) MiB), description written in $(elapsed "$start") s"

run() {
  cmake/wine-run.sh "$build" "$build/bin/bench_block_match.exe" \
    "$(winpath "$data/old.img")" "$(winpath "$data/new.img.blocks")" "$1" | tr -d '\r'
}
cd "$root"
one=$(run 1)
four=$(run 4)
echo "$one"
echo "$four"
peak_of() { sed -n 's/.*(+\([0-9.]*\)).*/\1/p' <<<"$1"; }
p1=$(peak_of "$one")
p4=$(peak_of "$four")
printf 'bench: four plans at once hold %s MiB more address space, %s times one plan;' "$p4" "$(ratio "$p4" "$p1")"
printf ' %s %% of 2048 MiB, %s %% of 4096 MiB\n' "$(printf '%.1f' "$(echo "100 * $p4 / 2048" | bc -l)")" \
  "$(printf '%.1f' "$(echo "100 * $p4 / 4096" | bc -l)")"
