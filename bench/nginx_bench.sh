#!/usr/bin/env bash
# Full install from nginx over a bandwidth-limited loopback, run by hand (not
# part of the tests): the real launcher under Wine (browser runtime stand-in,
# --no-game) against `aria2c -j4` on the same release, same limit, same run.
#
# Runs in a private network namespace (root): loopback is shaped there with
# tbf at RATE (bench/shaped_link.sh), and nginx listens on the build's
# content port without meeting anything outside. nginx serves a release made
# by tools/publish.py with the repository's site configuration. Every
# installed file is checked against the manifest before a time counts.
#
# Times: the launcher's download phase from its own log ("N to download" to
# "done": connections, requests, bodies, hashing, moves into place); aria2c's
# whole run (it has nothing else to do). Ratio aria2c / launcher: above 1 the
# launcher is faster. The floor is the release's bytes at RATE.
#
# DELAY_MS above 0 adds latency: the benchmarks' delaying proxy takes the
# content port, passes every block on DELAY_MS later in each direction, and
# talks to nginx on the next port; only the proxy's answers are shaped. It
# delays requests, answers and handshakes (each round trip costs 2 x
# DELAY_MS), not TCP's own acknowledgements, so it prices round trips, not
# window growth.
#
# Usage: bench/nginx_bench.sh [SIZE_MIB (200)] [FILES (20)] [RATE (100mbit)] [RUNS (3)] [DELAY_MS (0)]
#   KORVAL_BUILD_DIR (default build-ops): a build configured for localhost
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size_mib="${1:-200}" files="${2:-20}" rate="${3:-100mbit}" runs="${4:-3}" delay_ms="${5:-0}"
build="${KORVAL_BUILD_DIR:-$root/build-ops}"

if [ "${KORVAL_BENCH_NETNS:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "bench: needs root (a private network namespace)" >&2; exit 1; }
  bash "$root/tools/setup.sh"
  command -v bc >/dev/null || apt-get install -y -qq bc >/dev/null
  source "$root/cmake/wine-tools.sh"
  port=$(sed -n 's/^KORVAL_CONTENT_PORT:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
  host=$(sed -n 's/^KORVAL_CONTENT_HOST:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
  [ "$host" = localhost ] && [ -n "$port" ] ||
    { echo "bench: $build is not a build for localhost (configure it as tools/test.sh does)" >&2; exit 1; }
  cmake --build "$build" --parallel 2 \
    --target korval_launcher korval cef_stub_full samp_stub install_root_cert >/dev/null
  export KORVAL_BENCH_PORT="$port" KORVAL_BUILD_DIR="$build"
fi
source "$root/bench/shaped_link.sh"
link_private_namespace "$0" "$@"

port="$KORVAL_BENCH_PORT"
nginx_port="$port"
# With a delay, the proxy takes the content port and nginx the next one.
[ "$delay_ms" = 0 ] || nginx_port=$((port + 1))
link_shape "$rate" "$delay_ms" "$port"
source "$root/tools/wine_env.sh"
work="$build/bench-nginx"
state="$work/nginx"
finish() {
  link_stop
  "$root/tools/nginx/content_nginx.sh" stop "$state"
  wine_env_stop
  rm -rf "$work/out"
}
trap finish EXIT
wine_env_start "$build"
certs=$("$root/tools/content_server_cert.sh" "$build")
now() { date +%s.%N; }
ms() { date -d "$1" +%s.%N; }  # a log time of today, in seconds

echo "bench: $KORVAL_ARCH build, $(wine --version), loopback shaped to $rate, $delay_ms ms each way, $(nproc) cores"
data="$work/data-$size_mib-$files"
if [ ! -f "$data/ready" ]; then
  rm -rf "$data"
  mkdir -p "$data/game"
  cp "$build/bin/samp_stub/samp.exe" "$data/game/samp.exe"
  : >"$data/game/gta_sa.exe"
  python3 - "$data/game" "$files" "$size_mib" <<'PY'
import os, random, sys
game, count, size_mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(11)
weights = [rng.uniform(0.2, 1.8) for _ in range(count)]
os.makedirs(os.path.join(game, "models"))
for i, w in enumerate(weights):
    size = int(size_mib * 1048576 * w / sum(weights))
    with open(os.path.join(game, "models", "part%03d.img" % i), "wb") as f:
        f.write(os.urandom(size))
PY
  python3 "$root/tools/publish.py" publish "$data/game" "$data/srv" --release bench >/dev/null
  touch "$data/ready"
fi
python3 "$root/tools/publish.py" publish-launcher "$build/bin/korval_launcher.exe" "$data/srv" \
  --version "$(PYTHONPATH="$root/tools" python3 -c 'import sys; from publishing import pe_version; print(pe_version.read_version_info(sys.argv[1])["strings"]["ProductVersion"])' "$build/bin/korval_launcher.exe")" \
  >/dev/null
"$root/tools/nginx/content_nginx.sh" start "$state" --root "$data/srv" --cert "$certs/cert.pem" \
  --key "$certs/key.pem" --port "$nginx_port" >/dev/null
[ "$delay_ms" = 0 ] || link_delay "$port" "$nginx_port" "$delay_ms"
manifest="$data/srv/pc/manifest.json"
bytes=$(python3 -c 'import json,sys; print(sum(f["size"] for f in json.load(open(sys.argv[1]))["files"]))' "$manifest")
floor=$(echo "$bytes * 8 / $(link_rate_bits "$rate")" | bc -l)

verify() {  # folder: every file as the manifest says
  python3 - "$manifest" "$1" <<'PY'
import hashlib, json, os, sys
m, d = json.load(open(sys.argv[1])), sys.argv[2]
bad = [f["url"] for f in m["files"] if not os.path.isfile(os.path.join(d, *f["url"].split("/")))
       or hashlib.sha256(open(os.path.join(d, *f["url"].split("/")), "rb").read()).hexdigest() != f["hash"]]
sys.exit("bench: wrong or missing: " + " ".join(bad) if bad else 0)
PY
}

mkdir -p "$work/launcher/cef"
exe="$work/launcher/korval_launcher.exe"
cp "$build/bin/korval_launcher.exe" "$exe"
cp "$build/bin/cef_stub_full/libcef.dll" "$build/bin/korval.exe" "$work/launcher/cef/"
printf '%s\n' 'console __launcher__:{"type":"ready"}' 'await installDir' \
  'console __launcher__:{"type":"install"}' 'await launching' >"$work/launcher/cef/stub_scenario.txt"
python3 -c '
import json, sys
m = json.load(open(sys.argv[1]))
for f in m["files"]:
    if f["size"]:
        print("https://localhost:%s%s/%s\n  out=%s" % (sys.argv[2], m["basePath"], f["url"], f["url"]))
' "$manifest" "$port" >"$work/aria2.list"

best_launcher="" best_aria=""
smaller() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
for run in $(seq "$runs"); do
  rm -rf "$work/out"
  LC_ALL=ru_RU.UTF-8 timeout 900 "$KORVAL_WINE_LOADER" "$exe" --autotest=Bench_Player --no-game \
    "--game-dir=Z:${work//\//\\}\\out" </dev/null >/dev/null 2>&1 || { echo "bench: launcher failed"; exit 1; }
  verify "$work/out"
  log="$work/launcher/korval_launcher.log"
  start=$(sed -n 's/^\([0-9:.]*\) download: .* to download .*/\1/p' "$log")
  end=$(sed -n 's/^\([0-9:.]*\) download: done.*/\1/p' "$log")
  t_launcher=$(printf '%.3f' "$(echo "$(ms "$end") - $(ms "$start")" | bc -l)")
  best_launcher=$(smaller "$best_launcher" "$t_launcher")

  rm -rf "$work/out"
  t0=$(now)
  # Its own resolver finds no name server in the private namespace; the
  # system's reads /etc/hosts.
  aria2c -j4 -x1 -s1 --async-dns=false --ca-certificate="$certs/cert.pem" --input-file="$work/aria2.list" \
    --dir="$work/out" --file-allocation=none --allow-overwrite=true --auto-file-renaming=false \
    --summary-interval=0 --console-log-level=warn -q || { echo "bench: aria2c failed"; exit 1; }
  t_aria=$(printf '%.3f' "$(echo "$(now) - $t0" | bc -l)")
  : >"$work/out/gta_sa.exe"
  verify "$work/out"
  best_aria=$(smaller "$best_aria" "$t_aria")
  # Connections each client opened for its files in this run, from nginx's log.
  log_lines=$(grep ' /pc/files/' "$state/korval-content.access.log" |
    tail -n "$((2 * $(grep -c '^https' "$work/aria2.list")))")
  c_launcher=$(grep '"KorvalLauncher"' <<<"$log_lines" | awk '{split($NF, c, "/"); print c[1]}' | sort -u | wc -l)
  c_aria=$(grep '"aria2' <<<"$log_lines" | awk '{split($NF, c, "/"); print c[1]}' | sort -u | wc -l)
  echo "bench: run $run: launcher $t_launcher s ($c_launcher connections), aria2c -j4 $t_aria s ($c_aria connections)"
done

mib=$(echo "$bytes / 1048576" | bc -l)
echo
echo "| what ($(printf '%.0f' "$mib") MiB in $(($(grep -c '"url"' "$manifest"))) files, loopback at $rate, $delay_ms ms each way) | time | MiB/s |"
echo "|---|---|---|"
printf '| line floor (bytes at the rate) | %.2f s | %.1f |\n' "$floor" "$(echo "$mib / $floor" | bc -l)"
printf '| launcher, download phase | %.2f s | %.1f |\n' "$best_launcher" "$(echo "$mib / $best_launcher" | bc -l)"
printf '| aria2c -j4 -x1 -s1 | %.2f s | %.1f |\n' "$best_aria" "$(echo "$mib / $best_aria" | bc -l)"
printf 'ratio aria2c / launcher: %.2f (best of %d runs)\n' "$(echo "$best_aria / $best_launcher" | bc -l)" "$runs"
