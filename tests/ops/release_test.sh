#!/usr/bin/env bash
# tools/release.sh with the stand-in browser runtime in place of a CEF
# distribution: it refuses a distribution that lacks a runtime file or is
# 64-bit, and a release for players without a release key or with a
# malformed one; otherwise it lays out the players' folder (the release keys
# built in), signs both executables with a self-signed code-signing
# certificate (verified by osslsigncode against it), zips the folder and
# leaves what publish-launcher accepts.
# Usage: release_test.sh BUILD_DIR
set -euo pipefail
build="$(realpath "$1")"
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$build/ops-release"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "== $*"; }
mkdir -p "$work"
rm -rf "$work/out" "$work/cef" "$work/cef64" "$work/srv"

step "the stand-in runtime, 32-bit"
cmake -S "$root" -B "$work/stub" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH=i686 \
  -DKORVAL_BUILD_TESTS=OFF -DKORVAL_BUILD_PAGE=OFF >"$work/stub.log" 2>&1 &&
  cmake --build "$work/stub" --parallel 2 --target cef_stub_full >>"$work/stub.log" 2>&1 ||
  { cat "$work/stub.log"; exit 1; }

# A distribution's layout: Release/ and Resources/ with locales.
mkdir -p "$work/cef/Release" "$work/cef/Resources/locales"
cp "$work/stub/bin/cef_stub_full/libcef.dll" "$work/cef/Release/"
for f in chrome_elf.dll snapshot_blob.bin v8_context_snapshot.bin libEGL.dll; do
  echo "stand-in $f" >"$work/cef/Release/$f"
done
for f in icudtl.dat resources.pak chrome_100_percent.pak chrome_200_percent.pak \
    locales/en-US.pak locales/ru.pak locales/de.pak; do
  echo "stand-in $f" >"$work/cef/Resources/$f"
done

openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Korval Test Publisher" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
  -keyout "$work/sign.key" -out "$work/sign.pem" >/dev/null 2>&1
release() {
  bash "$root/tools/release.sh" --content-host content.korval.test --content-port 8443 \
    --publisher "Korval Test Publisher" --out "$work/out" --build-dir "$work/build" --no-page \
    --test-release "$@"
}

step "refusals before the build"
# A release for players with the placeholders would send them nowhere.
refused() {  # expected message part, then release.sh's options
  local part="$1" out
  shift
  # No runtime: a release that passed these checks would stop at the next.
  out=$(bash "$root/tools/release.sh" --cef "$work/no-cef" --out "$work/out" --no-page "$@" 2>&1) &&
    fail "accepted: $*"
  grep -qF -- "$part" <<<"$out" || fail "refusal of $*: $out"
}
refused "the content host content.korval.example is a placeholder" --content-host content.korval.example
refused "the game server 203.0.113.10 is a placeholder" --content-host cdn.korval.ru
refused "the community page korval.example is a placeholder" --content-host cdn.korval.ru \
  --game-server 45.12.3.4
refused "the game server 198.51.100.7 is a placeholder" --content-host cdn.korval.ru \
  --game-server 198.51.100.7 --community-url https://vk.com/korval
refused "the content host content.korval.test is a placeholder" --content-host content.korval.test \
  --game-server 45.12.3.4 --community-url https://vk.com/korval
# Real addresses but no release key: the launcher would run anything served.
refused "no release key" --content-host cdn.korval.ru --game-server 45.12.3.4 \
  --community-url https://vk.com/korval
key_a=$(cat "$root/tests/keys/release_a.pub")
for bad in "${key_a^^}" "${key_a:1}" "$(printf '%0128d' 1)" "$work/no-such.pub"; do
  refused "--release-key $bad" --content-host cdn.korval.ru --game-server 45.12.3.4 --test-release \
    --release-key "$bad"
done
refused "at most two --release-key" --content-host cdn.korval.ru --game-server 45.12.3.4 \
  --community-url https://vk.com/korval --release-key "$key_a" \
  --release-key "$root/tests/keys/release_b.pub" --release-key "$root/tests/keys/stranger.pub"
# Never a host name, not even in a test release: the page drops such servers.
refused "must be a numeric IPv4 address" --content-host cdn.korval.ru --game-server play.korval.ru \
  --test-release
refused "must be a numeric IPv4 address" --content-host cdn.korval.ru --game-server 45.12.3.256 \
  --test-release
mv "$work/cef/Resources/icudtl.dat" "$work/icudtl.dat"
rm "$work/cef/Resources/locales/ru.pak"
out=$(release --cef "$work/cef" 2>&1) && fail "a distribution without icudtl.dat was accepted"
grep -q "lacks the browser runtime's icudtl.dat, locales/ru.pak$" <<<"$out" || fail "refusal: $out"
mv "$work/icudtl.dat" "$work/cef/Resources/icudtl.dat"
echo "stand-in locales/ru.pak" >"$work/cef/Resources/locales/ru.pak"
mkdir -p "$work/cef64"
cp -r "$work/cef/Resources" "$work/cef64/"
mkdir "$work/cef64/Release" && cp "$work/cef/Release/"* "$work/cef64/Release/"
cp "$build/bin/cef_stub_full/libcef.dll" "$work/cef64/Release/libcef.dll"
machine=$(PYTHONPATH="$root/tools" python3 -c '
import sys
from publishing import pe_version
print(pe_version.PeImage(open(sys.argv[1], "rb").read()).machine)' "$work/cef64/Release/libcef.dll")
if [ "$machine" = x86-64 ]; then
  out=$(release --cef "$work/cef64" 2>&1) && fail "a 64-bit runtime was accepted"
  grep -q "is for x86-64" <<<"$out" || fail "refusal: $out"
else
  echo "note: the test build's stand-in is $machine here; the 64-bit refusal is not tried"
fi

step "build, lay out, sign, zip"
release --cef "$work/cef" --cert "$work/sign.pem" --key "$work/sign.key" \
  --verify-ca "$work/sign.pem" --release-key "$key_a" --release-key "$root/tests/keys/release_b.pub" ||
  { fail "release failed"; exit 1; }
grep -qx "KORVAL_RELEASE_KEYS:[A-Z]*=$key_a;$(cat "$root/tests/keys/release_b.pub")" \
  "$work/build/CMakeCache.txt" || fail "the release keys did not reach CMake"
version=$(cat "$work/out/VERSION")
folder="$work/out/korval-launcher-$version"
expected="cef/chrome_100_percent.pak cef/chrome_200_percent.pak cef/chrome_elf.dll cef/icudtl.dat cef/korval.exe cef/libEGL.dll cef/libcef.dll cef/locales/en-US.pak cef/locales/ru.pak cef/resources.pak cef/snapshot_blob.bin cef/v8_context_snapshot.bin korval_launcher.exe "
got=$(cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$got" = "$expected" ] || fail "the folder holds: $got"
zipped=$(python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' \
  "$work/out/korval-launcher-$version.zip")
[ "$zipped" = "$(cd "$work/out" && find "korval-launcher-$version" -type f | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')" ] ||
  fail "the ZIP holds: $zipped"
cmp -s "$work/cef/Release/libcef.dll" "$folder/cef/libcef.dll" || fail "libcef.dll is not the distribution's"

for exe in korval_launcher.exe cef/korval.exe; do
  osslsigncode verify -CAfile "$work/sign.pem" -in "$folder/$exe" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "$exe: signature does not verify"; }
  grep -q "Korval Test Publisher" "$work/verify.log" || fail "$exe: not signed by the test publisher"
  i686-w64-mingw32-objdump -f "$folder/$exe" | grep -q 'file format pei-i386' || fail "$exe: not 32-bit"
  # A signature from anyone else does not verify against this certificate.
  if osslsigncode verify -CAfile /etc/ssl/certs/ca-certificates.crt -in "$folder/$exe" >/dev/null 2>&1; then
    fail "$exe verifies against the system store: not really self-signed?"
  fi
done
# The build's settings reached the executable.
grep -qa "content.korval.test" <(iconv -f UTF-16LE -t UTF-8 -c "$folder/korval_launcher.exe") ||
  fail "the content host is not in the launcher"

step "publish-launcher takes the release's output"
python3 "$root/tools/publish.py" publish-launcher "$work/out/korval_launcher.exe" "$work/srv" \
  --version "$version" --key "$root/tests/keys/release_a.pem" || fail "publish-launcher refused the release"
[ -f "$work/srv/pc/launcher/latest.json.sig" ] || fail "publish-launcher --key wrote no signature"
python3 "$root/tools/publish.py" publish-launcher "$work/out/korval_launcher.exe" "$work/srv" \
  --version "$version.1" 2>"$work/refused.log" && fail "a wrong version was published"
grep -q "carries version $version, not $version.1" "$work/refused.log" || fail "refusal: $(cat "$work/refused.log")"
cmp -s "$work/out/korval_launcher.exe" "$work/srv/pc/launcher/korval_launcher-$version.exe" ||
  fail "the published executable is not the signed one"

if [ "$failures" -eq 0 ]; then echo "release: all checks passed"; exit 0; fi
exit 1
