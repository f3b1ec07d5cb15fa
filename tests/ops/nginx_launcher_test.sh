#!/usr/bin/env bash
# The content server as operators run it: nginx on loopback with the
# repository's site configuration and a test certificate, serving what
# tools/publish.py made, and the real launcher under Wine against it:
#   1. a full install (and the self-update finding the published launcher current),
#   2. an install closed half-way, resumed by the next start with range requests,
#   3. a second release with two changed files, brought up to date by
#      downloading only those two,
#   4. publish.py check passing on this server (several ranges answered
#      multipart) and naming every fault of a deliberately broken tree behind
#      a misconfigured nginx,
#   5. a third release through a caching proxy in front of the server, as a
#      CDN's edge serves it: the changed archive still comes as its blocks.
# Usage: nginx_launcher_test.sh BUILD_DIR PORT   (PORT: the build's content port)
set -euo pipefail
build="$(realpath "$1")"
port="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/cmake/wine-tools.sh"
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}"
publish() { python3 "$root/tools/publish.py" "$@"; }
content_nginx() { "$root/tools/nginx/content_nginx.sh" "$@"; }

work="$build/ops-nginx"
srv="$work/srv"
state="$work/nginx"
access="$state/korval-content.access.log"
launcher_pid=""
cleanup() {
  [ -z "$launcher_pid" ] || kill -KILL "$launcher_pid" 2>/dev/null || true
  content_nginx stop "$state"
  content_nginx stop "$work/edge"
}
trap cleanup EXIT
# nginx runs in a session of its own: a test run that is stopped must still end it.
trap 'exit 143' TERM INT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "== $*"; }

command -v nginx >/dev/null || { echo "FAIL: nginx missing: run tools/setup.sh"; exit 1; }
certs=$("$root/tools/content_server_cert.sh" "$build")
content_nginx stop "$state"  # one left by a run that was killed
rm -rf "$work"
mkdir -p "$work/game" "$work/launcher/cef"
# Release numbers remembered by an earlier run would refuse this fresh tree's.
LC_ALL=ru_RU.UTF-8 "$KORVAL_WINE_LOADER" reg delete 'HKCU\Software\KORVAL' /f \
  </dev/null >/dev/null 2>&1 || true

serve() {  # [extra options for content_nginx start]
  content_nginx start "$state" --root "$srv" --cert "$certs/cert.pem" --key "$certs/key.pem" \
    --port "$port" "$@" >/dev/null
}

# The launcher's folder, with the browser runtime's stand-in playing the page.
# Built with the tests' release keys: the whole road runs on signed documents.
exe="$work/launcher/korval_launcher.exe"
cp "$build/bin/korval_launcher_keyed.exe" "$exe"
key="$root/tests/keys/release_a.pem"
cp "$build/bin/cef_stub_full/libcef.dll" "$build/bin/korval.exe" "$work/launcher/cef/"
scenario() { printf '%s\n' "$@" >"$work/launcher/cef/stub_scenario.txt"; }
ready='console __launcher__:{"type":"ready"}'
install='console __launcher__:{"type":"install"}'

run_launcher() {  # game folder name, extra arguments...
  local dir="$1"; shift
  local status=0
  LC_ALL=ru_RU.UTF-8 timeout 90 "$KORVAL_WINE_LOADER" "$exe" --autotest=Ops_Player --no-game \
    "--game-dir=Z:${work//\//\\}\\$dir" "$@" </dev/null >/dev/null 2>&1 &
  launcher_pid=$!
  wait "$launcher_pid" || status=$?
  launcher_pid=""
  cp "$work/launcher/korval_launcher.log" "$work/$dir.$(date +%s%N).log" 2>/dev/null || true
  return "$status"
}

matches_manifest() {  # game folder: every file as the live manifest says, no .part left
  python3 - "$srv/pc/manifest.json" "$work/$1" <<'PY'
import hashlib, json, os, sys
manifest, game = json.load(open(sys.argv[1])), sys.argv[2]
bad = []
for e in manifest["files"]:
    path = os.path.join(game, *e["url"].split("/"))
    if not os.path.isfile(path) or hashlib.sha256(open(path, "rb").read()).hexdigest() != e["hash"]:
        bad.append(e["url"])
bad += [n for _, _, names in os.walk(game) for n in names if n.endswith(".part")]
print(" ".join(bad))
sys.exit(1 if bad else 0)
PY
}

requests() {  # lines of the access log from line $1 on, "status path range"
  tail -n +"$1" "$access" | sed -n 's/.*"GET \([^ ]*\) [^"]*" \([0-9]*\) [0-9]* "\([^"]*\)".*/\2 \1 \3/p'
}

step "publish release v1 and the launcher"
samp="$build/bin/samp_stub/samp.exe"
cp "$samp" "$work/game/samp.exe"
: >"$work/game/gta_sa.exe"
mkdir -p "$work/game/models" "$work/game/data"
for i in 1 2 3 4; do head -c $((3 * 1048576 + i * 4099)) /dev/urandom >"$work/game/models/pack$i.img"; done
echo "weather 1" >"$work/game/data/conf.txt"
publish publish "$work/game" "$srv" --release v1 --key "$key"
publish publish-launcher "$exe" "$srv" --version 0.1.4 --key "$key" | grep -v '^note: '
serve

step "full install"
scenario "$ready" "await installDir" "$install" "await launching"
mark=$(($(wc -l <"$access") + 1))
run_launcher game1 || fail "full install: launcher ended with $?"
bad=$(matches_manifest game1) || fail "full install: wrong or missing: $bad"
grep -q 'update: latest 0.1.4, current 0.1.4' "$work/launcher/korval_launcher.log" ||
  fail "the self-update did not read the published latest.json as current"
# One whole-file request for each file with content (empty ones need none).
got=$(requests "$mark" | grep -c '^200 /pc/files/v1/.* -$' || true)
[ "$got" -eq 6 ] || fail "full install: $got file requests for 6 files with content"

step "install closed half-way, then resumed"
content_nginx stop "$state"
serve --rate 700k
scenario "$ready" "await installDir" "$install" "wait 2500" "close"
run_launcher game2 || fail "interrupted install: launcher ended with $?"
parts=$(find "$work/game2" -name '*.part' -size +0 | wc -l)
[ "$parts" -gt 0 ] || fail "closing half-way left no partial file to resume"
content_nginx stop "$state"
serve
mark=$(($(wc -l <"$access") + 1))
# Without both game executables in place the folder still counts as not
# installed, so the page is asked for the folder again.
scenario "$ready" "await installDir" "$install" "await launching"
run_launcher game2 || fail "resumed install: launcher ended with $?"
bad=$(matches_manifest game2) || fail "resumed install: wrong or missing: $bad"
resumed=$(requests "$mark" | awk '$1 == 206 && $3 ~ /^bytes=[1-9][0-9]*-$/' | wc -l)
# Every partial file goes on from where it stopped; none starts again.
[ "$resumed" -eq "$parts" ] || fail "$resumed of $parts partial files resumed with 206: $(requests "$mark")"
echo "resumed $resumed of $parts partial files with range requests"

step "second release: two files changed, the archive in two places"
python3 - "$work/game/models/pack2.img" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    for at in (5000, 2000000):
        f.seek(at)
        f.write(b"changed " * 500)
PY
echo "weather 2" >"$work/game/data/conf.txt"
publish publish "$work/game" "$srv" --release v2 --key "$key"
[ "$(stat -c %i "$srv/pc/files/v1/models/pack1.img")" = "$(stat -c %i "$srv/pc/files/v2/models/pack1.img")" ] ||
  fail "an unchanged file was copied, not shared"
mark=$(($(wc -l <"$access") + 1))
scenario "$ready" "await launching"
run_launcher game1 || fail "update: launcher ended with $?"
bad=$(matches_manifest game1) || fail "update: wrong or missing: $bad"
fetched=$(requests "$mark" | awk '$2 ~ /^\/pc\/files\// {print $2}' | sort -u | tr '\n' ' ')
[ "$fetched" = "/pc/files/v2/data/conf.txt /pc/files/v2/models/pack2.img /pc/files/v2/models/pack2.img.blocks " ] ||
  fail "update fetched '$fetched', not the two changed files and the archive's description"
# The archive comes as its changed blocks: ranges only, their bytes as nginx
# sent them (a multipart body's part headers included). One connection for
# all its ranges: one handshake, not one per range. The two places are two
# ranges of one request, answered multipart: no falling back to one range
# per request on the repository's own site.
sent=$(tail -n +"$mark" "$access" | awk '$4 == "/pc/files/v2/models/pack2.img" {
  split($NF, c, "/"); if (requests++ && c[1] != connection) bad = 1; connection = c[1]
  if ($6 != 206 || $8 !~ /^"bytes=[0-9]+-[0-9]+(,[0-9]+-[0-9]+)*"$/) bad = 1
  ranges += split($8, r, ","); if ($8 ~ /,/) multi = 1; n += $7 }
  END { print (bad || ranges < 2 || !multi) ? -1 : n + 0 }')
[ "$sent" -gt 0 ] && [ "$sent" -lt 65536 ] ||
  fail "pack2.img came as $sent bytes (-1: not as ranges over one connection, several in one request), not as its changed blocks"
! grep -q 'the server answers one range per request' "$work/launcher/korval_launcher.log" ||
  fail "the launcher fell back to single ranges on the repository's site: $(grep 'one range per request' "$work/launcher/korval_launcher.log")"
echo "pack2.img updated with $sent bytes of ranges"

step "check: this server"
out=$(publish check "https://localhost:$port/" --cafile "$certs/cert.pem" \
  --public-key "$(cat "$root/tests/keys/release_a.pub")") || fail "check failed on a good server: $out"
grep -qF "ranges: answered multipart/byteranges with the right parts" <<<"$out" ||
  fail "check did not find the site answering several ranges multipart: $out"

step "check: a broken tree behind a misconfigured nginx"
content_nginx stop "$state"
broken="$work/broken"
cp -a "$srv" "$broken"
release="$broken/pc/files/v2"
rm "$release/models/pack3.img"
rm "$release/data/conf.txt" && echo "weather 3" >"$release/data/conf.txt"
rm "$release/samp.exe" && cp "$samp" "$release/samp.exe" && echo tail >>"$release/samp.exe"
rm "$release/models/pack1.img.blocks" && printf 'KVBLOCKS' >"$release/models/pack1.img.blocks"
# The site as an operator might get it wrong: Debian's gzip left on for every
# type and the manifest's Cache-Control forgotten.
mkdir -p "$work/badsite"
sed -e 's/^\( *\)gzip off;/\1gzip on; gzip_types *; gzip_min_length 1;/' \
  -e '/location = \/pc\/manifest.json/,/^    }/{/Cache-Control/d}' \
  "$root/tools/nginx/korval-content.conf" >"$work/badsite/korval-content.conf"
cp "$root/tools/nginx/nginx.conf" "$root/tools/nginx/content_nginx.sh" "$work/badsite/"
"$work/badsite/content_nginx.sh" start "$state" --root "$broken" --cert "$certs/cert.pem" \
  --key "$certs/key.pem" --port "$port" >/dev/null
status=0
out=$(publish check "https://localhost:$port/" --cafile "$certs/cert.pem") || status=$?
echo "$out" | sed 's/^/  /'
[ "$status" -eq 1 ] || fail "check ended with $status on a broken server"
for want in "/pc/files/v2/models/pack3.img: status 404" \
    "/pc/files/v2/data/conf.txt: content differs" \
    "/pc/files/v2/samp.exe: $(($(stat -c %s "$samp") + 5)) bytes, the manifest says $(stat -c %s "$samp")" \
    "/pc/files/v2/models/pack1.img.blocks: 8 bytes, the manifest says" \
    "/pc/manifest.json: Cache-Control is '(none)'" \
    ": range request answered 200, not 206 (asked with Accept-Encoding)" \
    ": block range request answered 200, not 206 (asked with Accept-Encoding)"; do
  grep -qF "$want" <<<"$out" || fail "check did not report: $want"
done
[ "$(grep -vc '^note: ' <<<"$out")" -eq 7 ] || fail "check reported $(grep -vc '^note: ' <<<"$out") problems for 7 faults"

step "third release through a CDN's edge: a caching proxy in front of the server"
# The edge caches large files in 1 MiB slices that it fills from the server
# with ranges of its own (nginx's slice module), as CDNs do; the launcher's
# ranges are answered from those slices.
content_nginx stop "$state"
origin_port=$((port + 3))
content_nginx start "$state" --root "$srv" --cert "$certs/cert.pem" --key "$certs/key.pem" \
  --port "$origin_port" >/dev/null
edge="$work/edge"
mkdir -p "$edge/cache" "$edge/tmp"
cat >"$edge/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $edge/nginx.pid;
error_log $edge/error.log warn;
events { worker_connections 64; }
http {
    client_body_temp_path $edge/tmp/body;
    proxy_temp_path $edge/tmp/proxy;
    fastcgi_temp_path $edge/tmp/fastcgi;
    uwsgi_temp_path $edge/tmp/uwsgi;
    scgi_temp_path $edge/tmp/scgi;
    log_format edge '\$status "\$request" \$body_bytes_sent "\$http_range" \$connection';
    access_log $edge/access.log edge;
    proxy_cache_path $edge/cache levels=1:2 keys_zone=edge:4m max_size=256m;
    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate $certs/cert.pem;
        ssl_certificate_key $certs/key.pem;
        location / {
            slice 1m;
            proxy_cache edge;
            proxy_cache_key \$uri\$slice_range;
            proxy_set_header Range \$slice_range;
            proxy_cache_valid 200 206 1h;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_ssl_server_name on;
            proxy_ssl_name localhost;
            proxy_pass https://127.0.0.1:$origin_port;
        }
    }
}
EOF
setsid nginx -c "$edge/nginx.conf" -p "$edge" </dev/null >>"$edge/error.log" 2>&1 &
for _ in $(seq 100); do
  [ -s "$edge/nginx.pid" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done
python3 - "$work/game/models/pack4.img" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(1500000)
    f.write(b"edge " * 20)
PY
publish publish "$work/game" "$srv" --release v3 --key "$key"
scenario "$ready" "await launching"
run_launcher game1 || fail "update through the edge: launcher ended with $?"
bad=$(matches_manifest game1) || fail "update through the edge: wrong or missing: $bad"
sent=$(awk '$3 == "/pc/files/v3/models/pack4.img" {
  if ($1 != 206 || $6 !~ /^"bytes=[0-9]+-[0-9]+"$/) bad = 1; n += $5 }
  END { print bad ? -1 : n + 0 }' "$edge/access.log")
[ "$sent" -gt 0 ] && [ "$sent" -lt 65536 ] ||
  fail "pack4.img came through the edge as $sent bytes (-1: not as ranges), not as its changed blocks"
echo "pack4.img updated through the edge with $sent bytes of ranges"
# An edge that caches in slices answers several ranges with the whole file:
# told, and no problem.
out=$(publish check "https://localhost:$port/" --cafile "$certs/cert.pem" \
  --public-key "$(cat "$root/tests/keys/release_a.pub")") || fail "check failed through the edge: $out"
grep -qF "ranges: answered with the whole file (200)" <<<"$out" ||
  fail "check did not tell the edge's whole-file answer to several ranges: $out"

if [ "$failures" -eq 0 ]; then echo "nginx content server: all checks passed"; exit 0; fi
exit 1
