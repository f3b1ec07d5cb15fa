#!/usr/bin/env bash
# Builds the launcher for players and lays out the folder they receive:
#   korval-launcher-VERSION/korval_launcher.exe
#   korval-launcher-VERSION/cef/korval.exe, libcef.dll and the runtime's files
# signs both executables (Authenticode, osslsigncode) when a certificate is
# given, and writes beside the folder its ZIP and the input of
# `publish.py publish-launcher` (korval_launcher.exe and VERSION).
#
# Usage: tools/release.sh --content-host HOST --cef CEF_DIR --out OUT_DIR
#          [--content-port 443] [--game-server IPV4] [--community-url URL]
#          [--product-name NAME] [--publisher NAME]
#          [--release-key HEX_OR_FILE [--release-key HEX_OR_FILE]]
#          [--cert PEM --key PEM [--key-pass-file FILE] [--verify-ca PEM]]
#          [--timestamp-url URL] [--build-dir DIR] [--no-page] [--test-release]
#
# --release-key is a public key of the release keys (publish.py keygen prints
# it: 128 lower-case hex digits, or a file holding them); the launcher then
# runs only what publish.py --key signed with one of them. Two during a key
# roll-over (docs/deploy.md). A release for players without one would run
# whatever the content server serves, and is refused.
#
# CEF_DIR is a CEF binary distribution for 32-bit Windows (its Release and
# Resources folders), or a folder that already holds the runtime's files
# side by side. --no-page builds without the page archive (it needs Node.js);
# such a launcher shows its page only from a ui.zip placed beside it, so it
# is for tests, not for players.
#
# A release for players must name real servers: the built-in defaults and the
# names reserved for documentation and tests (the address blocks 192.0.2.0/24,
# 198.51.100.0/24 and 203.0.113.0/24; .example, example.com/.net/.org, .test,
# .invalid, localhost) send players nowhere and are refused. --test-release
# allows them for a release that no player will get. The game server must be a
# numeric IPv4 address in every case: the page offers no server by name.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
die() { echo "release: $*" >&2; exit 1; }

host="" port=443 game_server="" community="" product="" publisher=""
cef="" out="" cert="" key="" key_pass="" verify_ca="" timestamp="" page=ON
build="$root/build-release"
test_release=0
release_keys=()
while [ $# -gt 0 ]; do
  [ "$1" = --no-page ] || [ "$1" = --test-release ] || [ $# -ge 2 ] || die "$1 needs a value"
  case "$1" in
    --no-page) page=OFF; shift; continue ;;
    --test-release) test_release=1; shift; continue ;;
    --content-host) host="$2" ;;
    --content-port) port="$2" ;;
    --game-server) game_server="$2" ;;
    --community-url) community="$2" ;;
    --product-name) product="$2" ;;
    --publisher) publisher="$2" ;;
    --cef) cef="$2" ;;
    --out) out="$2" ;;
    --cert) cert="$2" ;;
    --key) key="$2" ;;
    --key-pass-file) key_pass="$2" ;;
    --verify-ca) verify_ca="$2" ;;
    --timestamp-url) timestamp="$2" ;;
    --build-dir) build="$2" ;;
    --release-key) release_keys+=("$2") ;;
    *) die "unknown option $1 (see the head of $0)" ;;
  esac
  shift 2
done
[ -n "$host" ] && [ -n "$cef" ] && [ -n "$out" ] || die "--content-host, --cef and --out are needed"

# What the build would use where an option is not given: CMake's default.
cmake_default() { sed -n "s/^set($1 \"\([^\"]*\)\".*/\1/p" "$root/CMakeLists.txt"; }
is_ipv4() {
  [[ $1 =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})$ ]] || return 1
  local part
  for part in "${BASH_REMATCH[@]:1}"; do [ "$((10#$part))" -le 255 ] || return 1; done
}
is_placeholder() {  # a host name or address
  local name="${1,,}"
  name="${name%.}"
  case "$name" in
    example | *.example | example.com | *.example.com | example.net | *.example.net | \
      example.org | *.example.org | test | *.test | invalid | *.invalid | \
      localhost | *.localhost | 192.0.2.* | 198.51.100.* | 203.0.113.*) return 0 ;;
  esac
  return 1
}
url_host() { sed -E 's|^[a-zA-Z][a-zA-Z0-9+.-]*://||; s|[/?#].*||; s|^.*@||; s|:[0-9]*$||' <<<"$1"; }

used_game_server="${game_server:-$(cmake_default KORVAL_GAME_SERVER_HOST)}"
used_community="${community:-$(cmake_default KORVAL_COMMUNITY_URL)}"
is_ipv4 "$used_game_server" ||
  die "the game server must be a numeric IPv4 address (the page offers no server by name): $used_game_server"
if [ "$test_release" = 0 ]; then
  for setting in "content host|--content-host|$host" "game server|--game-server|$used_game_server" \
      "community page|--community-url|$(url_host "$used_community")"; do
    IFS='|' read -r what option value <<<"$setting"
    if is_placeholder "$value"; then
      die "the $what $value is a placeholder that sends players nowhere: give the real one with $option (or --test-release for a release no player gets)"
    fi
  done
fi
# A file holding the key is read here, so that what reaches CMake is the key itself.
keys=()
for given in "${release_keys[@]}"; do
  value="$given"
  if ! [[ $value =~ ^[0-9a-f]{128}$ ]] && [ -f "$value" ]; then
    value=$(tr -d ' \t\r\n' <"$given")
  fi
  [[ $value =~ ^[0-9a-f]{128}$ ]] ||
    die "--release-key $given: give the public key as 128 lower-case hexadecimal digits (X then Y, as publish.py keygen prints it) or a file holding them"
  PYTHONPATH="$root/tools" python3 -c 'import sys
from publishing import signing
signing.parse_public_key(sys.argv[1])' "$value" 2>/dev/null ||
    die "--release-key $given is no public key of the P-256 curve: check that it was copied whole"
  for known in "${keys[@]}"; do [ "$known" != "$value" ] || die "--release-key $given is given twice"; done
  keys+=("$value")
done
[ ${#keys[@]} -le 2 ] ||
  die "at most two --release-key: one, or the old and the new one during a key roll-over"
if [ ${#keys[@]} -eq 0 ] && [ "$test_release" = 0 ]; then
  die "no release key: the launcher would run whatever the content server serves; give the public key of your release key with --release-key (tools/publish.py keygen makes one) (or --test-release for a release no player gets)"
fi
{ [ -n "$cert" ] && [ -n "$key" ]; } || [ -z "$cert$key" ] || die "--cert and --key go together"
if [ -n "$cert" ]; then
  command -v osslsigncode >/dev/null || die "osslsigncode is missing (tools/setup.sh installs it)"
fi

# The runtime's files, checked before the long build. The first five are the
# ones the runtime cannot start without; the packs carry the page's basic
# resources, and the launcher asks for the locale "ru" (en-US is the
# runtime's own fall-back) from cef\locales.
runtime_files=(libcef.dll chrome_elf.dll snapshot_blob.bin v8_context_snapshot.bin
  icudtl.dat resources.pak chrome_100_percent.pak chrome_200_percent.pak
  locales/en-US.pak locales/ru.pak)
# Loaded when present (graphics back-ends); the launcher disables the GPU,
# so they are copied but not required.
optional_files=(d3dcompiler_47.dll libEGL.dll libGLESv2.dll vk_swiftshader.dll
  vk_swiftshader_icd.json vulkan-1.dll)
cef_file() {  # the distribution's path of one runtime file, empty when absent
  local name="$1" where
  for where in "$cef/Release/$name" "$cef/Resources/$name" "$cef/$name"; do
    [ -f "$where" ] && { echo "$where"; return 0; }
  done
  return 0
}
missing=()
for name in "${runtime_files[@]}"; do
  [ -n "$(cef_file "$name")" ] || missing+=("$name")
done
[ ${#missing[@]} -eq 0 ] || die "$cef lacks the browser runtime's $(printf '%s, ' "${missing[@]}" | sed 's/, $//')"
machine=$(PYTHONPATH="$root/tools" python3 -c '
import sys
from publishing import pe_version
with open(sys.argv[1], "rb") as f:
    print(pe_version.PeImage(f.read()).machine)' "$(cef_file libcef.dll)") ||
  die "$(cef_file libcef.dll) is not a Windows library"
[ "$machine" = i386 ] || die "$(cef_file libcef.dll) is for $machine; the launcher is 32-bit and needs the 32-bit runtime"

echo "release: building the 32-bit launcher for https://$host$([ "$port" = 443 ] || echo ":$port")/ in $build"
settings=(-DKORVAL_CONTENT_HOST="$host" -DKORVAL_CONTENT_PORT="$port")
[ -z "$game_server" ] || settings+=(-DKORVAL_GAME_SERVER_HOST="$game_server")
[ -z "$community" ] || settings+=(-DKORVAL_COMMUNITY_URL="$community")
[ -z "$product" ] || settings+=(-DKORVAL_PRODUCT_NAME="$product")
[ -z "$publisher" ] || settings+=(-DKORVAL_PUBLISHER="$publisher")
# Always given, so that a build folder configured with keys before is not
# reused with its old ones.
settings+=(-DKORVAL_RELEASE_KEYS="$(IFS=';'; echo "${keys[*]}")")
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH=i686 \
  -DKORVAL_BUILD_TESTS=OFF -DKORVAL_BUILD_PAGE="$page" "${settings[@]}" >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; die "configure failed"; }
cmake --build "$build" --parallel "${KORVAL_JOBS:-2}" --target korval_launcher korval \
  >"$build.build.log" 2>&1 || { tail -40 "$build.build.log"; die "build failed"; }
[ "$page" = ON ] || echo "release: WARNING: built without the page archive (--no-page): not for players"
[ "$test_release" = 0 ] || echo "release: WARNING: a test release (--test-release): not for players"
if [ ${#keys[@]} -eq 0 ]; then
  echo "release: WARNING: no release key: this launcher runs unsigned releases; not for players"
else
  for k in "${keys[@]}"; do
    echo "release: accepts releases signed with key $(python3 -c 'import hashlib, sys; print(hashlib.sha256(bytes.fromhex(sys.argv[1])).hexdigest()[:16])' "$k")"
  done
fi

version=$(PYTHONPATH="$root/tools" python3 -c '
import sys
from publishing import pe_version
info = pe_version.read_version_info(sys.argv[1])
assert info["machine"] == "i386", info["machine"]
print(info["strings"]["ProductVersion"])' "$build/bin/korval_launcher.exe") ||
  die "the built launcher has no version resource"

name="korval-launcher-$version"
folder="$out/$name"
rm -rf "$folder" "$out/$name.zip"
mkdir -p "$folder/cef/locales"
cp "$build/bin/korval_launcher.exe" "$folder/"
cp "$build/bin/korval.exe" "$folder/cef/"
for file in "${runtime_files[@]}" "${optional_files[@]}"; do
  from=$(cef_file "$file")
  [ -z "$from" ] || cp "$from" "$folder/cef/$file"
done

sign() {  # executable
  local exe="$1" pass=()
  [ -z "$key_pass" ] || pass=(-readpass "$key_pass")
  local ts=()
  [ -z "$timestamp" ] || ts=(-ts "$timestamp")
  osslsigncode sign -certs "$cert" -key "$key" "${pass[@]}" -h sha256 \
    -n "${product:-Korval Launcher}" "${ts[@]}" -in "$exe" -out "$exe.signed" >/dev/null ||
    die "signing $exe failed"
  mv "$exe.signed" "$exe"
  local ca=()
  [ -z "$verify_ca" ] || ca=(-CAfile "$verify_ca")
  osslsigncode verify "${ca[@]}" -in "$exe" >"$exe.verify.log" 2>&1 ||
    { cat "$exe.verify.log"; rm -f "$exe.verify.log"; die "the signature of $exe does not verify"; }
  rm -f "$exe.verify.log"
}
if [ -n "$cert" ]; then
  sign "$folder/korval_launcher.exe"
  sign "$folder/cef/korval.exe"
  echo "release: signed korval_launcher.exe and cef/korval.exe"
else
  echo "release: WARNING: not signed (no --cert): Windows SmartScreen will warn players"
fi

python3 - "$out" "$name" <<'PY'
import os, sys, zipfile
out, name = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(os.path.join(out, name + ".zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for folder, dirs, files in os.walk(os.path.join(out, name)):
        dirs.sort()
        for f in sorted(files):
            path = os.path.join(folder, f)
            z.write(path, os.path.relpath(path, out))
PY
cp "$folder/korval_launcher.exe" "$out/korval_launcher.exe"
echo "$version" >"$out/VERSION"
echo "release: $out/$name.zip ($(du -sh "$folder" | cut -f1) unpacked) for players;"
echo "release: publish the self-update with:"
echo "  tools/publish.py publish-launcher $out/korval_launcher.exe CONTENT_ROOT --version $version --key PRIVATE_KEY"
