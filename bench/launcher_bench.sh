#!/usr/bin/env bash
# Launcher process benchmark, run by hand (not part of the tests). The real
# korval_launcher.exe with the browser runtime's stand-in, as tools/demo.sh
# runs it, always with --no-update:
#   1. start-up: process start to "browser created", with a page that closes
#      at once; from the launcher's own log (first line to that line) and as
#      wall time from the spawn to the line's appearance, vs the spawn-to-exit
#      time of `wine cmd.exe /c exit` (what Wine itself costs). Best of RUNS.
#   2. memory: the peak resident size (VmHWM) of the launcher's process during
#      a full install of SIZE_MIB MiB in FILES files, vs aria2c -j4 over the
#      same URLs from the same server. Installed files are checked first.
# Ratios: launcher start / trivial start (near 1: the start is mostly Wine's),
# aria2c peak / launcher peak (above 1: the launcher holds less) and aria2c
# time / launcher install time.
# Usage: bench/launcher_bench.sh [SIZE_MIB (200)] [FILES (20)] [RUNS (5)]
set -euo pipefail
source "$(dirname "$0")/bench_env.sh"
size_mib="${1:-200}"
files="${2:-20}"
runs="${3:-5}"

command -v aria2c >/dev/null || apt-get install -y -qq aria2 >/dev/null
bench_start korval_launcher korval cef_stub_full samp_stub
data="$build/bench-data/launcher-$size_mib-$files"
out="$build/bench-data/launcher-out"
game="$WINEPREFIX/drive_c/Games/KORVAL"
BENCH_CLEANUP='rm -rf "$out" "$game"'
echo "bench: $KORVAL_ARCH build, $(wine --version)"

if [ ! -f "$data/ready" ]; then
  rm -rf "$data"
  mkdir -p "$data/root/pc/files"
  cp "$build/bin/samp_stub/samp.exe" "$data/root/pc/files/samp.exe"
  python3 - "$data" "$files" "$size_mib" <<'PY'
import os, random, sys
data, count, size_mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
base = os.path.join(data, "root/pc/files")
weights = [rng.uniform(0.2, 1.8) for _ in range(count)]
for i, w in enumerate(weights):
    with open(os.path.join(base, "pack%02d.img" % i), "wb") as f:
        f.write(os.urandom(int(w / sum(weights) * (size_mib << 20))))
PY
  python3 "$root/tools/make_manifest.py" "$data/root/pc/files" >"$data/root/pc/manifest.json"
  python3 -c 'import json, sys
for e in json.load(open(sys.argv[1]))["files"]: print("%s  %s" % (e["hash"], e["url"]))' \
    "$data/root/pc/manifest.json" >"$data/sha256.txt"
  touch "$data/ready"
fi

# A launcher folder of its own, as the launcher is shipped.
dir="$out/launcher"; log="$dir/korval_launcher.log"; exe="$dir/korval_launcher.exe"
rm -rf "$out"; mkdir -p "$dir/cef"
cp "$build/bin/korval_launcher.exe" "$dir/"
cp "$build/bin/cef_stub_full/libcef.dll" "$build/bin/korval.exe" "$dir/cef/"

fresh() {
  wine reg delete 'HKCU\Software\KORVAL' /f >/dev/null 2>&1 || true
  rm -rf "$game" "$log"
}
spawn() { LC_ALL=ru_RU.UTF-8 "$KORVAL_WINE_LOADER" "$exe" --no-update "$@" </dev/null >/dev/null 2>&1 & }
# Seconds between the first log lines matching two patterns; the stamps are
# times of day, so a run across midnight wraps.
log_span() {
  tr -d '\r' <"$log" | awk -v a="$1" -v b="$2" '
    function sec(s, t) { split(s, t, ":"); return t[1] * 3600 + t[2] * 60 + t[3] }
    ta == "" && $0 ~ a { ta = sec($1) }
    tb == "" && $0 ~ b { tb = sec($1) }
    END { d = tb - ta; if (d < 0) d += 86400; printf "%.3f\n", d }'
}
# Waits for a pattern in the log; false after 60 s.
await_log() {
  local i
  for i in $(seq 12000); do grep -q "$1" "$log" 2>/dev/null && return 0; sleep 0.005; done
  return 1
}
# Peak resident MiB of a process, read until it ends: VmHWM only grows, so
# the last reading is the peak; 20 readings a second cost it nothing.
peak_mib() {
  local hwm=0 v
  while v=$(awk '/^VmHWM/ { print $2 }' "/proc/$1/status" 2>/dev/null) && [ -n "$v" ]; do
    hwm=$v; sleep 0.05
  done
  printf '%.1f' "$(echo "$hwm / 1024" | bc -l)"
}

echo "bench: start-up to \"browser created\", best of $runs"
printf 'close\n' >"$dir/cef/stub_scenario.txt"
best_log=""; best_wall=""; best_peer=""
for _ in $(seq "$runs"); do
  fresh
  t0=$(now); spawn
  await_log "browser created" || { echo "bench: no browser"; exit 1; }
  best_wall=$(smaller "$best_wall" "$(elapsed "$t0")")
  wait $! || { echo "bench: the launcher failed"; exit 1; }
  best_log=$(smaller "$best_log" "$(log_span . "browser created")")
  t0=$(now)
  LC_ALL=ru_RU.UTF-8 wine cmd.exe /c exit </dev/null >/dev/null 2>&1
  best_peer=$(smaller "$best_peer" "$(elapsed "$t0")")
done
printf '  launcher log: %.3f s   launcher spawn to log line: %s s   wine cmd /c exit: %s s\n' \
  "$best_log" "$best_wall" "$best_peer"
echo "  ratio (launcher spawn to browser / trivial start): $(ratio "$best_wall" "$best_peer")"
# The same start once more for its peak, and the trivial program's: what an
# install adds and what Wine itself holds show against these two.
fresh; spawn; idle_peak=$(peak_mib $!); wait $! || { echo "bench: the launcher failed"; exit 1; }
LC_ALL=ru_RU.UTF-8 "$KORVAL_WINE_LOADER" cmd.exe /c exit </dev/null >/dev/null 2>&1 &
trivial_peak=$(peak_mib $!); wait $! || true
echo "  peak, page closed at once: launcher $idle_peak MiB   wine cmd /c exit $trivial_peak MiB"

count=$(wc -l <"$data/sha256.txt")
total=$(du -sm --apparent-size "$data/root/pc/files" | cut -f1)
echo "bench: full install of $count files, $total MiB"
content_server_start "$build" "$data/root" "$data/control" "$port"
echo '{}' >"$data/control/faults.json"
cat >"$dir/cef/stub_scenario.txt" <<'SCENARIO'
console __launcher__:{"type":"ready"}
await installDir
console __launcher__:{"type":"install"}
await launching
SCENARIO
fresh
t0=$(now); spawn --autotest=Bench_Player; shell_pid=$!
pid=""
for _ in $(seq 400); do pid=$(pgrep -nf 'korval_launcher\.exe' || true); [ -n "$pid" ] && break; sleep 0.005; done
[ -n "$pid" ] || { echo "bench: no launcher process"; exit 1; }
launcher_peak=$(peak_mib "$pid")
wait "$shell_pid" || { echo "bench: the launcher failed"; sed 's/^/  /' "$log"; exit 1; }
launcher_wall=$(elapsed "$t0")
grep -q "game: started" "$log" || { echo "bench: the game was not started"; exit 1; }
job=$(log_span 'download: started' 'download: done')
(cd "$game" && sha256sum -c --quiet "$data/sha256.txt") || { echo "launcher files differ"; exit 1; }

sed "s|.*  \(.*\)|https://localhost:$port/pc/files/\1|" "$data/sha256.txt" >"$out/aria2.txt"
t0=$(now)
aria2c -q -j4 -x1 -s1 --ca-certificate="$certs/cert.pem" --file-allocation=none \
  --allow-overwrite=true --auto-file-renaming=false --summary-interval=0 \
  -d "$out/aria2" -i "$out/aria2.txt" &
aria_pid=$!
aria_peak=$(peak_mib "$aria_pid")
wait "$aria_pid" || { echo "bench: aria2c failed"; exit 1; }
aria_wall=$(elapsed "$t0")
(cd "$out/aria2" && sha256sum -c --quiet "$data/sha256.txt") || { echo "aria2c files differ"; exit 1; }
printf '  launcher peak: %s MiB (install %.3f s, process %s s)   aria2c -j4 peak: %s MiB (%s s)\n' \
  "$launcher_peak" "$job" "$launcher_wall" "$aria_peak" "$aria_wall"
echo "  ratio (aria2c peak / launcher peak): $(ratio "$aria_peak" "$launcher_peak")" \
     "  ratio (aria2c time / launcher install): $(ratio "$aria_wall" "$job")"
