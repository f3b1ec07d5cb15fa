#!/usr/bin/env bash
# Block-level updates end to end over a limited link, run by hand (the tests
# never run it). For each pair of an old and a new file, both versions are
# published with tools/publish.py and served by nginx with the repository's
# site configuration (HTTPS, the bench build's content port); the old one is
# installed by the game files job (bench/game_files.cpp, under Wine). Then,
# RUNS times each, interleaved:
#   - the update: the same job over a fresh copy of that install, which builds
#     the new file from the old one plus range requests;
#   - a full download: the same job into an empty folder;
#   - zsync: Debian's zsync 0.6.2, zsyncmake -b 2048 on the published file and
#     `zsync -i OLD URL.zsync`, from a second nginx serving the same tree over
#     plain HTTP (zsync speaks no HTTPS) on the content port + 2.
# Every result is compared with the new file byte for byte. The best time of
# the runs counts, with that run's bytes and requests.
#
# The link: the script re-runs itself in a network namespace of its own
# (root) whose loopback is shaped to RATE at an Ethernet MTU
# (bench/shaped_link.sh). With DELAY_MS above 0 each server sits behind the
# benchmarks' delaying proxy, which adds DELAY_MS each way (a round trip
# costs 2 x DELAY_MS): the proxies take the content port and the content
# port + 2, nginx the next port of each, and only what the proxies send to
# the clients crosses the limited link. With DELAY_MS 0 there is no proxy
# and all of loopback is the link.
#
# Bytes are what nginx sent ($body_bytes_sent of every request of that run,
# the manifest, the description or the .zsync included), requests the lines
# of its log. Times are the job's own (bench/game_files.cpp: from the job's
# start to its last message) and zsync's whole run.
#
# The pairs: a stand-in for gta3.img (a directory sector, then entries of
# 2 KiB to 256 KiB of random bytes padded with zeros to 2048-byte sectors)
#   inplace    1 % of the entries replaced by new bytes of the same sectors
#   grown      five entries grow by 1 to 16 sectors, the first near the
#              start, so every later entry moves (new directory sector)
#   rebuilt    the same entries in another order (new directory sector)
#   fifth      entries of 79 % of the bytes replaced in place: a fifth of
#              the archive still usable, where the aim on time is tightest
# a plain file of random bytes of the same size
#   inserted   1000 bytes inserted 100 000 bytes from the start
#   unrelated  replaced by other random bytes of the same size
# and releases as this repository made them (the commits are fixed, so that
# runs on later trees compare; both builds in one folder path, tests and the
# page left out: -DKORVAL_BUILD_TESTS=OFF -DKORVAL_BUILD_PAGE=OFF, i686)
#   exe        korval_launcher.exe built at two commits four apart (a small
#              change of the download code)
#   bin        an uncompressed tar of those two builds' bin/ folders (both
#              executables, the stand-ins, the bench programs)
#   src        `git archive --format=tar` of the tree at two commits 24 apart
# The synthetic pairs are kept in build-bench/bench-block-update/data-MIB,
# the others in .../data-history.
#
# The last column names the aims a pair misses on that link:
#   bytes      more than 1.1 x zsync's bytes
#   time       slower than 1.1 x zsync's time + 0.25 s
#   full       with at least a fifth of the file reusable: not faster than
#              the full download
#   full+10%   with less reusable: more than 10 % slower than the full
#              download
# Reusable is what the launcher reused, or what zsync's ranges left out of
# the file when that is more (a launcher that gave up on its old copy is
# still held to the aim of a reusable file).
#
# Usage: bench/block_update_bench.sh [ARCHIVE_MIB (256)] [CASES (all nine)]
#          [RATE (100mbit)] [DELAY_MS (25)] [RUNS (3)]
#   or the same as environment variables of those names (an argument wins)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mib="${1:-${ARCHIVE_MIB:-256}}"
cases="${2:-${CASES:-inplace grown rebuilt fifth inserted unrelated exe bin src}}"
rate="${3:-${RATE:-100mbit}}"
delay_ms="${4:-${DELAY_MS:-25}}"
runs="${5:-${RUNS:-3}}"
# The pairs made from this repository's history: old and new commit.
exe_commits="dc339c65c26614974c75913f0278442a040b11f5 f49f3540c4fb33d21810342055c72dae27b4c28d"
src_commits="3d27a51ab55017faf7f08ee6ff13c9d984d34c3a f49f3540c4fb33d21810342055c72dae27b4c28d"

source "$here/shaped_link.sh"
if [ "${KORVAL_BENCH_NETNS:-}" != 1 ]; then
  # What needs the package archive comes before the namespace cuts it off.
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (a private network namespace)" >&2; exit 1; }
  bash "$here/../tools/setup.sh"
  command -v zsyncmake >/dev/null || apt-get install -y -qq zsync >/dev/null
  command -v bc >/dev/null || apt-get install -y -qq bc >/dev/null
fi
link_private_namespace "$0" "$@"

source "$here/bench_env.sh"
bench_start bench_game_files
http_port=$((port + 2))
https_nginx=$port http_nginx=$http_port
if [ "$delay_ms" != 0 ]; then https_nginx=$((port + 1)) http_nginx=$((port + 3)); fi
link_shape "$rate" "$delay_ms" "$port" "$http_port"

work="$build/bench-block-update"
data="$work/data-$mib"
history="$work/data-history"
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
BENCH_CLEANUP='link_stop; "$root/tools/nginx/content_nginx.sh" stop "$https_state"; stop_http
  rm -rf "$srv" "$zdir" "$work/inst" "$work/inst-old" "$work/full" "$work/zout" "$work/release-build"'
"$root/tools/nginx/content_nginx.sh" stop "$https_state"
stop_http
rm -rf "$srv" "$zdir" "$work/inst" "$work/inst-old" "$work/full" "$work/zout"
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

# Releases as the repository made them. Both builds use one folder path, as a
# build machine would, so that only the sources differ.
history_stamp="exe $exe_commits; src $src_commits"
if [ "$(cat "$history/ready" 2>/dev/null)" != "$history_stamp" ]; then
  rm -rf "$history"
  rb="$work/release-build"
  which=old
  for commit in $exe_commits; do
    echo "bench: building $commit for the exe and bin pairs" >&2
    rm -rf "$rb"
    mkdir -p "$rb/src"
    git -C "$root" archive --format=tar "$commit" | tar -x -C "$rb/src"
    { cmake -S "$rb/src" -B "$rb/out" -DKORVAL_ARCH=i686 -DCMAKE_BUILD_TYPE=Release \
        -DKORVAL_BUILD_TESTS=OFF -DKORVAL_BUILD_PAGE=OFF &&
      cmake --build "$rb/out" --parallel "$(nproc)"; } >"$work/release-build.log" 2>&1 ||
      { tail -n 30 "$work/release-build.log" >&2; exit 1; }
    mkdir -p "$history/exe/$which/launcher_build" "$history/bin/$which/launcher_build"
    cp "$rb/out/bin/korval_launcher.exe" "$history/exe/$which/launcher_build/"
    tar --sort=name -cf "$history/bin/$which/launcher_build/bin.tar" -C "$rb/out" bin
    which=new
  done
  rm -rf "$rb"
  which=old
  for commit in $src_commits; do
    mkdir -p "$history/src/$which/source"
    git -C "$root" archive --format=tar "$commit" >"$history/src/$which/source/korval.tar"
    which=new
  done
  echo "$history_stamp" >"$history/ready"
fi
case_dir() {
  case "$1" in
    exe|bin|src) echo "$history/$1" ;;
    *) echo "$data/$1" ;;
  esac
}

"$root/tools/nginx/content_nginx.sh" start "$https_state" --root "$srv" --cert "$certs/cert.pem" \
  --key "$certs/key.pem" --port "$https_nginx" >/dev/null
https_log="$https_state/korval-content.access.log"
# zsync's own server: plain HTTP (zsync speaks no HTTPS), several ranges per
# request allowed, since zsync asks for about 20 at a time.
mkdir -p "$http_state/tmp"
cat >"$http_state/nginx.conf" <<CONF
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
        listen 127.0.0.1:$http_nginx;
        root $srv;
        access_log $http_state/access.log plain;
        sendfile on;
        gzip off;
        keepalive_requests 100000;
        location /zsync/ { alias $zdir/; }
    }
}
CONF
nginx -t -q -c "$http_state/nginx.conf" -p "$http_state"
setsid nginx -c "$http_state/nginx.conf" -p "$http_state" </dev/null >>"$http_state/error.log" 2>&1 &
for _ in $(seq 100); do
  [ -s "$http_state/nginx.pid" ] && (exec 3<>"/dev/tcp/127.0.0.1/$http_nginx") 2>/dev/null && break
  sleep 0.05
done
http_log="$http_state/access.log"
if [ "$delay_ms" != 0 ]; then
  link_delay "$port" "$https_nginx" "$delay_ms"
  link_delay "$http_port" "$http_nginx" "$delay_ms"
fi

lines() { wc -l <"$1"; }
# log, first line, path suffix: "bytes requests bytes-of-paths-with-the-suffix
# ranges connections"
sent_since() {
  tail -n +"$2" "$1" | awk -v s="$3" '{ n += $7; r++ }
    substr($4, length($4) - length(s) + 1) == s { d += $7 }
    $8 != "\"-\"" { g += gsub(/,/, ",", $8) + 1 }
    { split($NF, c, "/"); if (!(c[1] in seen)) { seen[c[1]] = 1; k++ } }
    END { print n + 0, r + 0, d + 0, g + 0, k + 0 }'
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
true_that() { [ "$(echo "$1" | bc -l)" = 1 ]; }

echo "bench: $KORVAL_ARCH build, $(wine --version), $(zsync -V 2>&1 | head -1), $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg); link $rate, $delay_ms ms each way, best of $runs"
table="$work/table.txt" details="$work/details.txt"
: >"$table"
: >"$details"
for case in $cases; do
  cdir=$(case_dir "$case")
  [ -d "$cdir/old" ] || { echo "bench: no pair named $case" >&2; exit 1; }
  rel=$(cd "$cdir/old" && find . -type f | sed 's|^\./||')
  size=$(stat -c %s "$cdir/new/$rel")
  python3 "$root/tools/publish.py" publish "$cdir/old" "$srv" --release "$case-1" >/dev/null
  rm -rf "$work/inst-old" "$work/inst"
  job "$work/inst-old" >/dev/null
  python3 "$root/tools/publish.py" publish "$cdir/new" "$srv" --release "$case-2" >/dev/null
  blocks=$(stat -c %s "$srv/pc/files/$case-2/$rel.blocks" 2>/dev/null || echo 0)
  zsyncmake -b 2048 -u "http://127.0.0.1:$http_port/pc/files/$case-2/$rel" -o "$zdir/$case.zsync" \
    "$srv/pc/files/$case-2/$rel" >/dev/null

  best_u="" best_f="" best_z="" times_u="" times_f="" times_z=""
  for run in $(seq "$runs"); do
    # The update, over a copy of the old install (times and index kept).
    rm -rf "$work/inst"
    cp -a "$work/inst-old" "$work/inst"
    mark=$(($(lines "$https_log") + 1))
    t=$(job "$work/inst")
    read -r b r d g k <<<"$(sent_since "$https_log" "$mark" .blocks)"
    same "$work/inst/$rel" "$cdir/new/$rel"
    times_u+=" $t"
    if [ "$(smaller "$best_u" "$t")" != "$best_u" ]; then
      best_u=$t b_update=$b r_update=$r d_update=$d g_update=$g k_update=$k
      cp "$job_log" "$work/$case.update.log"
    fi

    mark=$(($(lines "$https_log") + 1))
    rm -rf "$work/full"
    t=$(job "$work/full")
    read -r b r _ _ _ <<<"$(sent_since "$https_log" "$mark" .blocks)"
    same "$work/full/$rel" "$cdir/new/$rel"
    rm -rf "$work/full"
    times_f+=" $t"
    if [ "$(smaller "$best_f" "$t")" != "$best_f" ]; then best_f=$t b_full=$b r_full=$r; fi

    mark=$(($(lines "$http_log") + 1))
    rm -f "$work/zout/new" "$work/zout/new.part" "$work/zout/new.zs-old"
    t0=$(now)
    (cd "$work/zout" && zsync -q -i "$cdir/old/$rel" -o new \
       "http://127.0.0.1:$http_port/zsync/$case.zsync" >/dev/null 2>&1) ||
      { echo "bench: zsync failed on $case" >&2; exit 1; }
    t=$(elapsed "$t0")
    read -r b r d g k <<<"$(sent_since "$http_log" "$mark" .zsync)"
    same "$work/zout/new" "$cdir/new/$rel"
    rm -f "$work/zout/new" "$work/zout/new.zs-old"
    times_z+=" $t"
    if [ "$(smaller "$best_z" "$t")" != "$best_z" ]; then
      best_z=$t b_zsync=$b r_zsync=$r d_zsync=$d g_zsync=$g k_zsync=$k
    fi
  done
  rm -rf "$work/inst" "$work/inst-old"

  how=$(grep -o 'from local blocks: [0-9]* bytes reused\|whole instead: .*' "$work/$case.update.log" ||
        echo whole)
  reused=$(sed -n 's/from local blocks: \([0-9]*\) bytes reused/\1/p' <<<"$how")
  reused=${reused:-0}
  reuse_pct=$(echo "100 * $reused / $size" | bc -l)
  # What zsync did not fetch of the file (its multipart framing counts as
  # fetched, so this errs low).
  z_pct=$(echo "x = 100 * ($size - ($b_zsync - $d_zsync)) / $size; if (x < 0) 0 else x" | bc -l)
  reusable=$(echo "if ($z_pct > $reuse_pct) $z_pct else $reuse_pct" | bc -l)
  aims=()
  true_that "$b_update <= 1.1 * $b_zsync" || aims+=("bytes")
  true_that "$best_u <= 1.1 * $best_z + 0.25" || aims+=("time")
  if true_that "$reusable >= 20"; then
    true_that "$best_u < $best_f" || aims+=("full")
  else
    true_that "$best_u <= 1.1 * $best_f" || aims+=("full+10%")
  fi
  missed=$(IFS=,; echo "${aims[*]:-}")
  printf '| %s | %s | %s s | %s | %s | %s s | %s | %s | %s s | %s | %s | %s | %s |\n' \
    "$case" "$(printf '%.1f' "$reuse_pct") %" "$(f2 "$best_u")" "$(fmt "$b_update")" "$r_update" \
    "$(f2 "$best_z")" "$(fmt "$b_zsync")" "$r_zsync" "$(f2 "$best_f")" "$(fmt "$b_full")" \
    "$(f2 "$best_u / $best_f")" "$(f2 "$best_u / $best_z")" "${missed:-none}" | tee -a "$table"
  {
    echo "$case: $rel, $(fmt "$size") bytes; description $(fmt "$blocks") (fetched $(fmt "$d_update")), .zsync $(fmt "$d_zsync"); $how"
    echo "  bytes update / zsync $(printf '%.3f' "$(echo "$b_update / $b_zsync" | bc -l)"), update / full $(printf '%.3f' "$(echo "$b_update / $b_full" | bc -l)"); zsync left $(printf '%.1f' "$z_pct") % of the file unfetched"
    echo "  launcher: $r_update requests, $g_update ranges, $k_update connections; zsync: $r_zsync requests, $g_zsync ranges, $k_zsync connections; full: $r_full requests"
    echo "  runs (s): update$times_u; full$times_f; zsync$times_z"
  } | tee -a "$details" >&2
done
echo
echo "ARCHIVE_MIB=$mib, link $rate with $delay_ms ms added each way ($((2 * delay_ms)) ms round trip)," \
  "best of $runs; bytes and requests from nginx's log, times of the job under Wine and of zsync"
echo "| case | reused | update | bytes | requests | zsync | bytes | requests | full | bytes | update / full | update / zsync | aims missed |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|"
cat "$table"
echo "aims missed: bytes = over 1.1 x zsync's bytes; time = slower than 1.1 x zsync's time + 0.25 s;" \
  "full = a fifth or more reusable and not faster than the full download; full+10% = less" \
  "reusable and over 1.1 x the full download's time"
echo
cat "$details"
