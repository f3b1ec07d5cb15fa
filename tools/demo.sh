#!/usr/bin/env bash
# The launcher's whole job, end to end, under Wine: a local content server
# publishes the current launcher and a game (the SA-MP client's stand-in as
# samp.exe, an empty gta_sa.exe and some data files); the launcher starts
# from a folder of its own, finds itself current, shows its window with the
# browser runtime's stand-in playing the page (ready, then the nick through
# --autotest, then "install"), installs the game into the proposed folder
# with its four download workers, writes the nick into the SA-MP key, starts
# samp.exe with the server address and closes. The demo then checks every
# installed file against the manifest and shows what samp.exe was given.
# Exit code 0 only when all of that happened.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KORVAL_BUILD_DIR:-$root/build}"
port="${KORVAL_TEST_PORT:-47443}"
nick="Demo_Player"

bash "$root/tools/setup.sh"
source "$root/cmake/wine-tools.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH="$KORVAL_ARCH" \
  -DKORVAL_CONTENT_HOST=localhost -DKORVAL_CONTENT_PORT="$port" >/dev/null
cmake --build "$build" --parallel "$(nproc)" \
  --target korval_launcher korval install_root_cert cef_stub_full samp_stub \
  >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

source "$root/tools/wine_env.sh"
source "$root/tools/content_server_env.sh"
demo="$build/demo"
finish() {
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

# The launcher's folder: the launcher, the browser runtime's stand-in with
# the sub-process program, and what the stand-in plays as the page.
mkdir -p "$demo/launcher/cef" "$demo/server/pc/launcher" "$demo/server/pc/files"
cp "$build/bin/korval_launcher.exe" "$demo/launcher/"
cp "$build/bin/cef_stub_full/libcef.dll" "$build/bin/korval.exe" "$demo/launcher/cef/"
cat >"$demo/launcher/cef/stub_scenario.txt" <<'SCENARIO'
console __launcher__:{"type":"ready"}
await installDir
console __launcher__:{"type":"install"}
await launching
SCENARIO

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
content_server_start "$build" "$demo/server" "$demo/control" "$port"
count=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["files"]))' "$demo/server/pc/manifest.json")
echo "demo: content server on https://localhost:$port/ publishes launcher 0.1.4 and $count game files"

echo "demo: starting korval_launcher.exe --autotest=$nick"
status=0
LC_ALL=ru_RU.UTF-8 timeout 300 "$KORVAL_WINE_LOADER" "$exe" "--autotest=$nick" \
  </dev/null >/dev/null 2>&1 || status=$?
echo "demo: launcher exit code $status; korval_launcher.log:"
sed 's/^/  /' "$demo/launcher/korval_launcher.log"

failures=0
fail() { echo "demo: FAIL: $*"; failures=$((failures + 1)); }
[ "$status" -eq 0 ] || fail "the launcher ended with $status"
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
print("demo: %d of %d files in C:\\Games\\KORVAL match the manifest%s" % (
    len(manifest["files"]) - len(bad), len(manifest["files"]),
    "" if not leftovers else ", %d .part files left" % len(leftovers)))
for line in bad: print("demo: FAIL: " + line)
sys.exit(1 if bad or leftovers else 0)
PY
record="$game_unix/samp_record.txt"
for _ in $(seq 50); do [ -s "$record" ] && break; sleep 0.1; done
if [ -s "$record" ]; then
  echo "demo: samp.exe (the SA-MP stand-in) was started with:"
  iconv -f CP1251 -t UTF-8 "$record" | tr -d '\r' | sed 's/^/  /'
  grep -q "PlayerName	$nick" "$record" || fail "samp.exe did not see the nick"
  grep -q 'command_line	.*samp.exe" 203.0.113.10:7777' "$record" || fail "samp.exe lacks the server"
else
  fail "samp.exe was not started"
fi
if pgrep -f 'korval_launcher.exe' >/dev/null; then fail "a launcher is still running"; fi
[ "$failures" -eq 0 ] && echo "demo: the launcher did its whole job" && exit 0
exit 1
