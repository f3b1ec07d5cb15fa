#!/usr/bin/env bash
# The launcher's whole job, end to end, under Wine, with the real page in
# Debian's Chromium behind the real-browser runtime (tools/cef_real).
#
# With a display (DISPLAY set): a local content server publishes the current
# launcher and a small game (the SA-MP client's stand-in as samp.exe, an empty
# gta_sa.exe and some data files), and the launcher opens with its page in a
# visible Chromium window over its own, for a person to play through: nick,
# server, folder, install, launch. When the launcher has ended, the demo
# checks what it installed and shows what samp.exe was given.
#
# Without a display (or with KORVAL_DEMO_HEADLESS=1): the same session played
# by a script in headless Chromium, keyboard and mouse in the page, with an
# error and a resumed retry on the way (tests/real_browser); it rewrites the
# screenshots in docs/screenshots and shows the launcher's log and what
# samp.exe was given.
# Exit code 0 only when the launcher did its job.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVAL_BUILD_DIR:-$root/build}"
port="${KORVAL_TEST_PORT:-47443}"
visible=0
[ -n "${DISPLAY:-}" ] && [ "${KORVAL_DEMO_HEADLESS:-0}" != 1 ] && visible=1

bash "$root/tools/setup.sh"
source "$root/cmake/wine-tools.sh"
echo "demo: running $(korval_tested_kind)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH="$KORVAL_ARCH" \
  -DKORVAL_CONTENT_HOST=localhost -DKORVAL_CONTENT_PORT="$port" >/dev/null
cmake --build "$build" --parallel "$(nproc)" \
  --target korval_launcher korval install_root_cert cef_real samp_stub real_browser_pick_folder \
  >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

# What samp.exe (the SA-MP stand-in) recorded of its last start, as text.
show_samp_record() {
  echo "demo: samp.exe (the SA-MP stand-in) recorded ${2:-its last start}:"
  iconv -f CP1251 -t UTF-8 "$1" | tr -d '\r' | sed 's/^/  /'
}

if [ "$visible" -eq 0 ]; then
  echo "demo: no display; the player's session is played in headless Chromium"
  status=0
  KORVAL_TEST_PATTERN='a first install' UPDATE_SCREENSHOTS=1 \
    bash "$root/tests/real_browser/run.sh" "$build" "$port" || status=$?
  session="$build/real_browser/first-install"
  if [ -f "$session/korval_launcher.log" ]; then
    echo "demo: the first install's korval_launcher.log:"
    sed 's/^/  /' "$session/korval_launcher.log"
  fi
  # The record of the same start: the cases after it start the game again.
  record="$session/samp_record.txt"
  [ ! -s "$record" ] || show_samp_record "$record" "the first install's start"
  if [ "$status" -eq 0 ]; then
    echo "demo: the launcher did its whole job ($(korval_tested_kind)); the stages' screenshots are in docs/screenshots"
  else
    echo "demo: FAIL: the scripted session ended with $status"
  fi
  exit "$status"
fi

source "$root/tools/wine_env.sh"
source "$root/tools/content_server_env.sh"
demo="$build/demo"
bridge_pid=""
finish() {
  [ -z "$bridge_pid" ] || kill "$bridge_pid" 2>/dev/null || true
  content_server_stop
  wine_env_stop
}
trap finish EXIT
wine_env_start "$build"

# A fresh start: no saved folder, no saved nick, no game from an earlier run.
wine reg delete 'HKCU\Software\KORVAL' /f >/dev/null 2>&1 || true
wine reg delete 'HKCU\Software\SAMP' /f >/dev/null 2>&1 || true
game_unix="$WINEPREFIX/drive_c/Games/KORVAL"
rm -rf "$game_unix" "$demo"

# The launcher's folder: the launcher, the real-browser runtime and the
# sub-process program.
mkdir -p "$demo/launcher/cef" "$demo/server/pc/launcher" "$demo/server/pc/files"
cp "$build/bin/korval_launcher.exe" "$demo/launcher/"
cp "$build/bin/cef_real/libcef.dll" "$build/bin/korval.exe" "$demo/launcher/cef/"

# The content server's files: the version record and the game.
exe="$demo/launcher/korval_launcher.exe"
cat >"$demo/server/pc/launcher/latest.json" <<JSON
{"version": "0.1.4", "url": "korval_launcher.exe", "sha256": "$(sha256sum "$exe" | cut -d' ' -f1)", "size": $(stat -c %s "$exe")}
JSON
files="$demo/server/pc/files"
cp "$build/bin/samp_stub/samp.exe" "$files/samp.exe"
: >"$files/gta_sa.exe"
mkdir -p "$files/models" "$files/audio"
for i in 1 2 3 4 5 6; do head -c $((3 * 1048576 + i * 4099)) /dev/urandom >"$files/models/pack$i.img"; done
head -c 5000000 /dev/urandom >"$files/audio/radio.dat"
python3 "$root/tools/make_manifest.py" "$files" >"$demo/server/pc/manifest.json"
# At about 6 MB/s in all, so that the progress can be watched.
mkdir -p "$demo/control"
python3 - "$demo/server/pc/manifest.json" >"$demo/control/faults.json" <<'PY'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
print(json.dumps({"/pc/files/" + f["url"]: {"trickle": [16384, 10]} for f in files if f["size"] > 1048576}))
PY
content_server_start "$build" "$demo/server" "$demo/control" "$port"
count=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["files"]))' "$demo/server/pc/manifest.json")
echo "demo: content server on https://localhost:$port/ publishes launcher 0.1.4 and $count game files"

# The bridge shows the launcher's page in a Chromium window of its own, over
# the launcher's window, and ends when that browser has gone.
bash "$root/tools/npm_deps.sh" "$root/tools/cef_real/bridge"
mkfifo "$demo/bridge.out"
node "$root/tools/cef_real/bridge/main.mjs" --port 0 --visible --once >"$demo/bridge.out" 2>&1 &
bridge_pid=$!
exec 3<"$demo/bridge.out"
read -r -t 60 line <&3 || { echo "demo: FAIL: the bridge did not start"; exit 1; }
bridge_port="${line##* on }"; bridge_port="${bridge_port%%,*}"
cat <&3 | sed 's/^/  /' &
echo "demo: $line"

echo "demo: starting korval_launcher.exe; play through the page, or close its window to end"
status=0
LC_ALL=ru_RU.UTF-8 KORVAL_BRIDGE_PORT="$bridge_port" "$KORVAL_WINE_LOADER" "$exe" \
  </dev/null >/dev/null 2>&1 || status=$?
echo "demo: launcher exit code $status; korval_launcher.log:"
sed 's/^/  /' "$demo/launcher/korval_launcher.log"

failures=0
fail() { echo "demo: FAIL: $*"; failures=$((failures + 1)); }
[ "$status" -eq 0 ] || fail "the launcher ended with $status"
record="$game_unix/samp_record.txt"
for _ in $(seq 50); do [ -s "$record" ] && break; sleep 0.1; done
if [ -s "$record" ]; then
  python3 - "$demo/server/pc/manifest.json" "$game_unix" <<'PY' || failures=$((failures + 1))
import hashlib, json, os, sys
manifest, game = json.load(open(sys.argv[1])), sys.argv[2]
bad = []
for entry in manifest["files"]:
    path = os.path.join(game, *entry["url"].split("/"))
    if not os.path.isfile(path):
        bad.append(entry["url"] + " missing")
    elif hashlib.sha256(open(path, "rb").read()).hexdigest() != entry["hash"]:
        bad.append(entry["url"] + " differs")
leftovers = [n for _, _, names in os.walk(game) for n in names if n.endswith(".part")]
print("demo: %d of %d files in %s match the manifest%s" % (
    len(manifest["files"]) - len(bad), len(manifest["files"]), game,
    "" if not leftovers else ", %d .part files left" % len(leftovers)))
for line in bad: print("demo: FAIL: " + line)
sys.exit(1 if bad or leftovers else 0)
PY
  show_samp_record "$record"
  grep -q 'command_line	.*samp.exe" 203.0.113.10:777[78]' "$record" || fail "samp.exe lacks the server"
else
  echo "demo: the launcher was closed before it started the game"
fi
if pgrep -f 'korval_launcher.exe' >/dev/null; then fail "a launcher is still running"; fi
[ "$failures" -eq 0 ] && echo "demo: done ($(korval_tested_kind))" && exit 0
exit 1
