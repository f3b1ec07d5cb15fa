#!/usr/bin/env bash
# What a changed large archive costs with block descriptions, run by hand
# (not part of the tests): the publisher's description of the new archive,
# and the launcher's plan from the old one (its matcher, under Wine), for an
# archive changed in place, shifted by an insertion, rebuilt in another
# order, and replaced by unrelated bytes. The peer is Debian's zsync with the
# same block size: zsyncmake for the description, zsync's reading of the
# old file as its seed for the plan (its download then fails on purpose, no
# server is asked).
# Usage: bench/block_bench.sh [ARCHIVE_MIB (default 256)]
set -euo pipefail
source "$(dirname "$0")/bench_env.sh"
mib="${1:-256}"

command -v zsyncmake >/dev/null || apt-get install -y -qq zsync >/dev/null
bench_start bench_block_match
data="$build/bench-blocks"
rm -rf "$data" && mkdir -p "$data"
BENCH_CLEANUP="rm -rf '$data'"

# A stand-in for gta3.img: a directory sector, then entries of 2 KiB to
# 256 KiB (log-uniform) of random bytes, each padded with zeros to its sector.
python3 - "$data" "$mib" <<'PY'
import os, random, sys
out, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
def entry():
    size = int(2048 * 2 ** rng.uniform(0, 7))
    return rng.randbytes(size) + bytes(-size % 2048)
entries, total = [], 0
while total < mib << 20:
    entries.append(entry())
    total += len(entries[-1])
def write(name, parts):
    with open(os.path.join(out, name), "wb") as f:
        f.write(rng.randbytes(2048))
        for p in parts:
            f.write(p)
write("old.img", entries)
changed = list(entries)
for i in rng.sample(range(len(entries)), 20):
    changed[i] = rng.randbytes(len(entries[i]) - 2048) + bytes(2048)
write("inplace.img", changed)
with open(os.path.join(out, "old.img"), "rb") as f:
    whole = f.read()
middle = len(whole) // 2 + 77
with open(os.path.join(out, "shifted.img"), "wb") as f:
    f.write(whole[:middle] + rng.randbytes(1000) + whole[middle:])
rebuilt = list(entries)
rng.shuffle(rebuilt)
for i in rng.sample(range(len(rebuilt)), 20):
    rebuilt[i] = entry()
write("rebuilt.img", rebuilt)
with open(os.path.join(out, "unrelated.img"), "wb") as f:
    for at in range(0, len(whole), 1 << 20):
        f.write(rng.randbytes(min(1 << 20, len(whole) - at)))
print("bench: %d entries, %d bytes" % (len(entries), len(whole)))
PY

printf '%-10s %9s %9s %9s %12s %7s | %9s %9s %12s\n' case describe plan reuse% fetched ranges \
  zsyncmake zsync fetched
for case in inplace shifted rebuilt unrelated; do
  new="$data/$case.img"
  start=$(now)
  python3 -c 'import sys; sys.path.insert(0, sys.argv[1])
from publishing import block_map
block_map.write_description(sys.argv[2], sys.argv[2] + ".blocks")' "$root/tools" "$new"
  describe=$(elapsed "$start")
  line=$(LC_ALL=ru_RU.UTF-8 wine "$build/bin/bench_block_match.exe" "$(winpath "$data/old.img")" \
    "$(winpath "$new.blocks")" </dev/null)
  read -r _ plan _ _ reused _ fetched _ ranges _ <<<"$line"
  size=$(stat -c %s "$new")
  start=$(now)
  zsyncmake -b 2048 -u "http://127.0.0.1:9/$case.img" -o "$new.zsync" "$new" >/dev/null
  zmake=$(elapsed "$start")
  start=$(now)
  zout=$(cd "$data" && zsync -i old.img -o "$case.out" "$new.zsync" 2>&1 | tr '\r' '\n' || true)
  zplan=$(elapsed "$start")
  zpct=$(sed -n 's/.*Target \([0-9.]*\)% complete.*/\1/p' <<<"$zout" | tail -1)
  zfetch=$(printf '%.0f' "$(echo "$size * (100 - ${zpct:-0}) / 100" | bc -l)")
  printf '%-10s %8ss %8ss %8s%% %12s %7s | %8ss %8ss %12s\n' "$case" "$describe" "$plan" \
    "$(printf '%.1f' "$(echo "100 * $reused / $size" | bc -l)")" "$fetched" "$ranges" \
    "$zmake" "$zplan" "~$zfetch"
  rm -f "$data/$case.out" "$data/$case.out.part"
done
echo "description: $(stat -c %s "$data/rebuilt.img.blocks") bytes; zsync's: $(stat -c %s "$data/rebuilt.img.zsync") bytes"
