#!/usr/bin/env bash
# Block-level updates end to end, run by hand (not part of the tests): for
# six pairs of an old and a new file, both versions published with
# tools/publish.py and served by nginx with the repository's site
# configuration (HTTPS, the bench build's content port), the old one
# installed by the game files job (bench/game_files.cpp, under Wine), then
#   - the update: the same job over that folder, which builds the new file
#     from the old one and range requests;
#   - a full download: the same job into an empty folder;
#   - zsync: Debian's zsync 0.6.2 with zsyncmake -b 2048, `zsync -i OLD
#     URL.zsync`, from a second nginx serving the same tree over plain HTTP
#     (zsync speaks no HTTPS) on the next port but one.
# Bytes are what nginx sent ($body_bytes_sent of every request of that run,
# the manifest, the description or the .zsync included). Times are the job's
# own (bench/game_files.cpp: from the job's start to its last message).
#
# The pairs: a stand-in for gta3.img (a directory sector, then entries of
# 2 KiB to 256 KiB of random bytes padded with zeros to 2048-byte sectors)
#   inplace    1 % of the entries replaced by new bytes of the same sectors
#   grown      five entries grow by 1 to 16 sectors, the first near the
#              start, so every later entry moves (new directory sector)
#   rebuilt    the same entries in another order (new directory sector)
#   fifth      entries of 79 % of the bytes replaced in place: a fifth of
#              the archive still usable, where the aim on time is tightest
# and a plain file of random bytes of the same size
#   inserted   1000 bytes inserted 100 000 bytes from the start
#   unrelated  replaced by other random bytes of the same size
#
# On a 100 Mbit/s link (computed, not measured): the job's loopback time
# less the time its fetched bytes took on loopback, plus those bytes at
# 12.5 MB/s. The loopback rate is the one of the case's full download
# (its bytes / its time), so the full download counts as bound by the link,
# its receiving and hashing overlapped with it; the update's planning and
# copying come on top of its (fewer) bytes at the link's rate.
#
# The last column names the aims a pair misses: more than 10 % over zsync's
# bytes, more than a full download plus the description, with at least a
# fifth reused no faster than a full download at 100 Mbit/s, with less than
# that reused more than 10 % over a full download's bytes.
#
# Usage: bench/block_update_bench.sh [ARCHIVE_MIB (256)] [CASES (all six)]
set -euo pipefail
source "$(dirname "$0")/bench_env.sh"
mib="${1:-256}"
cases="${2:-inplace grown rebuilt fifth inserted unrelated}"
http_port=$((port + 2))

command -v zsyncmake >/dev/null || apt-get install -y -qq zsync >/dev/null
bench_start bench_game_files
work="$build/bench-block-update"
data="$work/data-$mib"
srv="$work/srv"
https_state="$work/nginx-https"
http_state="$work/nginx-http"
zdir="$work/zsync"
stop_http() {
  local pid
  pid=$(cat "$http_state/nginx.pid" 2>/dev/null) || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$http_state/nginx.pid"
}
BENCH_CLEANUP='"$root/tools/nginx/content_nginx.sh" stop "$https_state"; stop_http
  rm -rf "$srv" "$zdir" "$work/inst" "$work/full" "$work/zout"'
"$root/tools/nginx/content_nginx.sh" stop "$https_state"
stop_http
rm -rf "$srv" "$zdir" "$work/inst" "$work/full" "$work/zout"
mkdir -p "$srv" "$zdir" "$work/zout"

if [ ! -f "$data/ready" ]; then
  rm -rf "$data"
  mkdir -p "$data"
  python3 - "$data" "$mib" <<'PY'
import os, random, sys
out, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(23)
SECTOR = 2048
def pad(b):
    return b + bytes(-len(b) % SECTOR)
datas, total = [], SECTOR
while total < mib << 20:
    datas.append(rng.randbytes(int(SECTOR * 2 ** rng.uniform(0, 7))))
    total += len(pad(datas[-1]))
def write(case, which, name, pieces):
    path = os.path.join(out, case, which, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for p in pieces:
            f.write(p)
    return path
directory = rng.randbytes(SECTOR)
old = [directory] + [pad(d) for d in datas]
img = "models/gta3.img"
first = write("inplace", "old", img, old)
for case in ("grown", "rebuilt"):
    os.makedirs(os.path.join(out, case, "old", "models"))
    os.link(first, os.path.join(out, case, "old", img))

changed = list(datas)
picked = rng.sample(range(len(datas)), max(1, len(datas) // 100))
for i in picked:
    # New content in the same sectors: the entry's offsets stay.
    sectors = len(pad(datas[i])) // SECTOR
    changed[i] = rng.randbytes(rng.randint((sectors - 1) * SECTOR + 1, sectors * SECTOR))
write("inplace", "new", img, [directory] + [pad(d) for d in changed])

grown = list(datas)
at = [len(datas) // 50] + rng.sample(range(len(datas) // 50 + 1, len(datas)), 4)
for i in at:
    grown[i] = datas[i] + rng.randbytes(SECTOR * rng.randint(1, 16))
write("grown", "new", img, [rng.randbytes(SECTOR)] + [pad(d) for d in grown])

order = list(range(len(datas)))
rng.shuffle(order)
write("rebuilt", "new", img, [rng.randbytes(SECTOR)] + [pad(datas[i]) for i in order])

size = sum(len(p) for p in old)
plain = "movies/intro.bin"
def random_file(case, which):
    path = os.path.join(out, case, which, plain)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for at in range(0, size, 1 << 24):
            f.write(rng.randbytes(min(1 << 24, size - at)))
    return path
base = random_file("inserted", "old")
with open(base, "rb") as f:
    whole = f.read()
write("inserted", "new", plain, [whole[:100000], rng.randbytes(1000), whole[100000:]])
os.makedirs(os.path.join(out, "unrelated", "old", "movies"))
os.link(base, os.path.join(out, "unrelated", "old", plain))
random_file("unrelated", "new")

# Where the aim on time is tightest: a fifth of the archive still in place.
fifth = list(datas)
replaced, order = 0, list(range(len(datas)))
rng.shuffle(order)
for i in order:
    if replaced >= 0.79 * size:
        break
    sectors = len(pad(datas[i])) // SECTOR
    fifth[i] = rng.randbytes(rng.randint((sectors - 1) * SECTOR + 1, sectors * SECTOR))
    replaced += sectors * SECTOR
os.makedirs(os.path.join(out, "fifth", "old", "models"))
os.link(first, os.path.join(out, "fifth", "old", img))
write("fifth", "new", img, [directory] + [pad(d) for d in fifth])
print("bench: %d entries, %d bytes; %d replaced in place, entries %s grown"
      % (len(datas), size, len(picked), ",".join(map(str, at))))
PY
  touch "$data/ready"
fi

"$root/tools/nginx/content_nginx.sh" start "$https_state" --root "$srv" --cert "$certs/cert.pem" \
  --key "$certs/key.pem" --port "$port" >/dev/null
https_log="$https_state/korval-content.access.log"
# zsync's own server: plain HTTP, and several ranges per request allowed,
# since zsync asks for about 20 at a time (the launcher's site answers those
# with the whole file, max_ranges 1, which zsync takes as a failure).
mkdir -p "$http_state/tmp"
cat >"$http_state/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $http_state/nginx.pid;
error_log $http_state/error.log warn;
user $(id -un);
events { worker_connections 64; }
http {
    default_type application/octet-stream;
    client_body_temp_path $http_state/tmp/body;
    proxy_temp_path $http_state/tmp/proxy;
    fastcgi_temp_path $http_state/tmp/fastcgi;
    uwsgi_temp_path $http_state/tmp/uwsgi;
    scgi_temp_path $http_state/tmp/scgi;
    log_format plain '\$remote_addr [\$time_iso8601] "\$request" \$status '
                     '\$body_bytes_sent "\$http_range" \$request_time '
                     '"\$http_user_agent" \$connection/\$connection_requests';
    server {
        listen 127.0.0.1:$http_port;
        root $srv;
        access_log $http_state/access.log plain;
        sendfile on;
        gzip off;
        keepalive_requests 100000;
        location /zsync/ { alias $zdir/; }
    }
}
EOF
nginx -t -q -c "$http_state/nginx.conf" -p "$http_state"
setsid nginx -c "$http_state/nginx.conf" -p "$http_state" </dev/null >>"$http_state/error.log" 2>&1 &
for _ in $(seq 100); do
  [ -s "$http_state/nginx.pid" ] && (exec 3<>"/dev/tcp/127.0.0.1/$http_port") 2>/dev/null && break
  sleep 0.05
done
http_log="$http_state/access.log"

lines() { wc -l <"$1"; }
sent_since() {  # log, first line, path suffix: "bytes requests bytes-of-paths-with-the-suffix"
  tail -n +"$2" "$1" | awk -v s="$3" '{ n += $7; r++ }
    substr($4, length($4) - length(s) + 1) == s { d += $7 } END { print n + 0, r + 0, d + 0 }'
}
job_log="$work/job.log"
job() {  # folder: the job's seconds; fails unless the job ended ready
  local line
  rm -f "$job_log"
  line=$(LC_ALL=ru_RU.UTF-8 wine "$build/bin/bench_game_files.exe" "$(winpath "$1")" \
           "$(winpath "$job_log")" </dev/null 2>/dev/null | tr -d '\r')
  case "$line" in ok*) ;; *) echo "bench: the job failed: $line" >&2; exit 1 ;; esac
  echo "$line" | cut -d' ' -f2
}
same() {  # file, file
  cmp -s "$1" "$2" || { echo "bench: $1 is not the new file" >&2; exit 1; }
}
fmt() { printf "%'d" "$1"; }
f2() { printf '%.2f' "$(echo "$1" | bc -l)"; }

echo "bench: $KORVAL_ARCH build, $(wine --version), $(zsync -V 2>&1 | head -1), $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
table="$work/table.txt"
: >"$table"
for case in $cases; do
  rel=$(cd "$data/$case/old" && find . -type f | sed 's|^\./||')
  size=$(stat -c %s "$data/$case/new/$rel")
  python3 "$root/tools/publish.py" publish "$data/$case/old" "$srv" --release "$case-1" >/dev/null
  rm -rf "$work/inst"
  job "$work/inst" >/dev/null
  python3 "$root/tools/publish.py" publish "$data/$case/new" "$srv" --release "$case-2" >/dev/null
  blocks=$(stat -c %s "$srv/pc/files/$case-2/$rel.blocks")

  mark=$(($(lines "$https_log") + 1))
  t_update=$(job "$work/inst")
  read -r b_update r_update d_update <<<"$(sent_since "$https_log" "$mark" .blocks)"
  same "$work/inst/$rel" "$data/$case/new/$rel"
  cp "$job_log" "$work/$case.update.log"
  how=$(grep -o 'from local blocks: [0-9]* bytes reused\|whole instead: .*' "$job_log" || echo whole)
  reused=$(sed -n 's/from local blocks: \([0-9]*\) bytes reused/\1/p' <<<"$how")
  reused=${reused:-0}

  mark=$(($(lines "$https_log") + 1))
  rm -rf "$work/full"
  t_full=$(job "$work/full")
  read -r b_full _ _ <<<"$(sent_since "$https_log" "$mark" .blocks)"
  same "$work/full/$rel" "$data/$case/new/$rel"
  rm -rf "$work/full"

  zsyncmake -b 2048 -u "http://127.0.0.1:$http_port/pc/files/$case-2/$rel" -o "$zdir/$case.zsync" \
    "$srv/pc/files/$case-2/$rel" >/dev/null
  mark=$(($(lines "$http_log") + 1))
  rm -f "$work/zout/new" "$work/zout/new.part"
  t0=$(now)
  (cd "$work/zout" && zsync -q -i "$data/$case/old/$rel" -o new \
     "http://127.0.0.1:$http_port/zsync/$case.zsync" >/dev/null 2>&1) ||
    { echo "bench: zsync failed on $case" >&2; exit 1; }
  t_zsync=$(elapsed "$t0")
  read -r b_zsync r_zsync d_zsync <<<"$(sent_since "$http_log" "$mark" .zsync)"
  same "$work/zout/new" "$data/$case/new/$rel"
  rm -f "$work/zout/new" "$work/zout/new.zs-old"

  # The update's time on the link: what it did besides moving its bytes
  # over loopback (at the full download's loopback rate), plus the bytes
  # at 100 Mbit/s.
  rate=$(echo "$b_full / $t_full" | bc -l)
  local_s=$(echo "x = $t_update - $b_update / $rate; if (x < 0) 0 else x" | bc -l)
  l_update=$(echo "$b_update / 12500000 + $local_s" | bc -l)
  l_full=$(echo "$b_full / 12500000" | bc -l)
  reuse_pct=$(echo "100 * $reused / $size" | bc -l)
  aims=""
  [ "$(echo "$b_update <= 1.1 * $b_zsync" | bc -l)" = 1 ] || aims+=" >zsync+10%"
  [ "$(echo "$b_update <= $b_full + $blocks" | bc -l)" = 1 ] || aims+=" >full+description"
  if [ "$(echo "$reuse_pct >= 20" | bc -l)" = 1 ] && [ "$(echo "$l_update >= $l_full" | bc -l)" = 1 ]; then
    aims+=" not-faster-at-100Mbit"
  fi
  [ "$(echo "$reuse_pct >= 20 || $b_update < 1.1 * $b_full" | bc -l)" = 1 ] || aims+=" >full+10%"
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s s | %s s | %s s | %s s | %s s | %s |\n' \
    "$case" "$(printf '%.1f' "$reuse_pct") %" "$(fmt "$b_update") ($r_update)" \
    "$(fmt "$b_zsync") ($r_zsync)" "$(fmt "$d_update") / $(fmt "$d_zsync")" "$(fmt "$b_full")" "$(printf '%.3f' "$(echo "$b_update / $b_zsync" | bc -l)")" \
    "$(printf '%.3f' "$(echo "$b_update / $b_full" | bc -l)")" "$t_update" "$t_full" "$t_zsync" \
    "$(f2 "$l_update")" "$(f2 "$l_full")" "${aims:- met}" | tee -a "$table"
  echo "   $case: $size bytes, description $blocks bytes, $how" >&2
done
echo
echo "ARCHIVE_MIB=$mib: bytes from nginx (requests), times of the job under Wine on loopback"
echo "| case | reused | launcher update | zsync | of which description / .zsync | full download | launcher / zsync | launcher / full | update | full | zsync | update at 100 Mbit/s | full at 100 Mbit/s | aims |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|"
cat "$table"
