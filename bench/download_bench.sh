#!/usr/bin/env bash
# Game file download benchmark, run by hand (not part of the tests).
#   1. a full download of a game-like set from the local HTTPS content server
#      into an empty folder: the game files job (four workers, hashing as the
#      bytes arrive) vs aria2c with 4 parallel downloads of the same URL list;
#   2. re-verification of the installed set by the job, with a valid index
#      (size and time only) and with the index deleted (every file hashed),
#      vs sha256sum -c over the same files;
#   3. the cost of flushing each file and the index before it is moved into
#      place: the full download once more under strace, summing the time
#      spent in fsync (what FlushFileBuffers becomes under Wine).
# Figures are ratios measured in the same run: peer time / launcher time
# (above 1: the launcher is faster). Best of RUNS runs each.
# The set: FILES files of 1 KiB to 8 MiB (log-uniform sizes) plus four files
# of BIG_MIB MiB; the defaults make about 2.8 GiB. Data is kept between runs
# in BUILD/bench-data.
# Usage: bench/download_bench.sh [FILES (2000)] [BIG_MIB (256)] [RUNS (1)]
set -euo pipefail
source "$(dirname "$0")/bench_env.sh"
files="${1:-2000}"
big_mib="${2:-256}"
runs="${3:-1}"

command -v aria2c >/dev/null || apt-get install -y -qq aria2 >/dev/null
bench_start bench_game_files
data="$build/bench-data/game-$files-$big_mib"
out="$build/bench-data/game-out"
BENCH_CLEANUP='rm -rf "$out"'

if [ ! -f "$data/ready" ]; then
  echo "bench: writing $files files and 4 x $big_mib MiB"
  rm -rf "$data"
  mkdir -p "$data/root/pc" "$data/control"
  python3 - "$data" "$files" "$big_mib" <<'PY'
import hashlib, json, math, os, random, sys
data, count, big_mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(5)
entries = []
def put(path, size):
    full = os.path.join(data, "root/pc/files", path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    h = hashlib.sha256()
    with open(full, "wb") as f:
        left = size
        while left:
            block = os.urandom(min(left, 1 << 24))
            f.write(block)
            h.update(block)
            left -= len(block)
    entries.append({"url": path, "hash": h.hexdigest(), "size": size})
for i in range(count):
    size = int(math.exp(rng.uniform(math.log(1024), math.log(8 << 20))))
    put("data/d%02d/f%04d.bin" % (i % 40, i), size)
for j in range(4):
    put("models/big%d.img" % j, big_mib << 20)
with open(os.path.join(data, "root/pc/manifest.json"), "w") as f:
    json.dump({"basePath": "/pc/files", "files": entries}, f, indent=1)
with open(os.path.join(data, "sha256.txt"), "w") as f:
    for e in entries:
        f.write("%s  %s\n" % (e["hash"], e["url"]))
with open(os.path.join(data, "paths.txt"), "w") as f:
    for e in entries:
        f.write(e["url"] + "\n")
print("bench: %d files, %.0f MiB" % (len(entries), sum(e["size"] for e in entries) / 1048576))
PY
  touch "$data/ready"
fi
total_mib=$(du -sm --apparent-size "$data/root/pc/files" | cut -f1)

content_server_start "$build" "$data/root" "$data/control" "$port"
echo '{}' >"$data/control/faults.json"
rm -f "$data/control/requests.log"

url_list="$out/aria2.txt"
mkdir -p "$out"
while read -r p; do
  printf 'https://localhost:%s/pc/files/%s\n  out=%s\n' "$port" "$p" "$p"
done <"$data/paths.txt" >"$url_list"

launcher_dir="$out/launcher"
# One job run; prints "wall job" seconds. The job's own time leaves out the
# Wine process start.
job() {
  local t0 line
  t0=$(now)
  line=$(LC_ALL=ru_RU.UTF-8 wine "$build/bin/bench_game_files.exe" "$(winpath "$launcher_dir")" \
           "$(winpath "$out/launcher.log")" </dev/null 2>/dev/null | tr -d '\r')
  local wall; wall=$(elapsed "$t0")
  case "$line" in ok*) ;; *) echo "bench: the job failed: $line" >&2; exit 1 ;; esac
  echo "$wall $(echo "$line" | cut -d' ' -f2)"
}

echo "bench: full download of $((files + 4)) files, $total_mib MiB"
best_wall=""; best_job=""; best_peer=""
for _ in $(seq "$runs"); do
  rm -rf "$launcher_dir"
  result=$(job); read -r wall jt <<<"$result"
  best_wall=$(smaller "$best_wall" "$wall"); best_job=$(smaller "$best_job" "$jt")
  rm -rf "$out/aria2"
  t0=$(now)
  aria2c -q -j4 -x1 -s1 --ca-certificate="$certs/cert.pem" --file-allocation=none \
    --allow-overwrite=true --auto-file-renaming=false --summary-interval=0 \
    -d "$out/aria2" -i "$url_list"
  best_peer=$(smaller "$best_peer" "$(elapsed "$t0")")
done
(cd "$launcher_dir" && sha256sum -c --quiet "$data/sha256.txt") || { echo "launcher files differ"; exit 1; }
(cd "$out/aria2" && sha256sum -c --quiet "$data/sha256.txt") || { echo "aria2c files differ"; exit 1; }
echo "  launcher job: ${best_job} s (process ${best_wall} s)   aria2c -j4: ${best_peer} s" \
     "  ratio (aria2c/launcher job): $(ratio "$best_peer" "$best_job")"
rm -rf "$out/aria2"

echo "bench: flushes during a full download"
command -v strace >/dev/null || apt-get install -y -qq strace >/dev/null
rm -rf "$launcher_dir"
trace="$out/fsync.trace"
line=$(LC_ALL=ru_RU.UTF-8 strace -f -qq -T -y -e trace=fsync,fdatasync -o "$trace" \
         "$KORVAL_WINE_LOADER" "$build/bin/bench_game_files.exe" "$(winpath "$launcher_dir")" \
         "$(winpath "$out/launcher.log")" </dev/null 2>/dev/null | tr -d '\r')
case "$line" in ok*) ;; *) echo "bench: the job failed: $line" >&2; exit 1 ;; esac
(cd "$launcher_dir" && sha256sum -c --quiet "$data/sha256.txt") || { echo "launcher files differ"; exit 1; }
part_syncs=$(grep -c '\.part>' "$trace" || true)
index_syncs=$(grep -c 'korval_files\.idx\.tmp>' "$trace" || true)
sync_s=$(grep -E 'f(data)?sync\(' "$trace" | grep -o '<[0-9.]*>$' | tr -d '<>' | paste -sd+ | bc -l)
traced_job=$(echo "$line" | cut -d' ' -f2)
echo "  fsync: $part_syncs of partial files, $index_syncs of the index;" \
     "$(printf '%.3f' "${sync_s:-0}") s inside them (summed over the workers)," \
     "job under strace ${traced_job} s;" \
     "at most $(ratio "${sync_s:-0}" "$best_job") of the job's time without strace"

echo "bench: re-verification of the installed set"
best_stat=""; best_hash=""; best_stat_wall=""; best_hash_wall=""; best_sum=""
for _ in $(seq "$runs"); do
  result=$(job); read -r wall jt <<<"$result"
  best_stat=$(smaller "$best_stat" "$jt"); best_stat_wall=$(smaller "$best_stat_wall" "$wall")
  rm -f "$launcher_dir/korval_files.idx"
  result=$(job); read -r wall jt <<<"$result"
  best_hash=$(smaller "$best_hash" "$jt"); best_hash_wall=$(smaller "$best_hash_wall" "$wall")
  t0=$(now)
  (cd "$launcher_dir" && sha256sum -c --quiet "$data/sha256.txt")
  best_sum=$(smaller "$best_sum" "$(elapsed "$t0")")
done
echo "  valid index: ${best_stat} s (process ${best_stat_wall} s)   index deleted: ${best_hash} s" \
     "(process ${best_hash_wall} s)   sha256sum -c: ${best_sum} s"
echo "  ratio (sha256sum/launcher), valid index: $(ratio "$best_sum" "$best_stat")" \
     "  index deleted: $(ratio "$best_sum" "$best_hash")"
