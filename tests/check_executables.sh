#!/usr/bin/env bash
# The shipped executables: 32-bit large-address-aware GUI programs that need
# no MinGW DLLs, and the launcher's icon group and application manifest.
set -uo pipefail
bin="$1"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for exe in korval_launcher.exe korval.exe; do
  dump=$(i686-w64-mingw32-objdump -p "$bin/$exe") || { fail "$exe: unreadable"; continue; }
  grep -q 'file format pei-i386' <<<"$dump" || fail "$exe: not a 32-bit PE"
  grep -q 'Subsystem.*(Windows GUI)' <<<"$dump" || fail "$exe: not a GUI program"
  # 4 GB of address space under WoW64, not 2.
  grep -q 'large address aware' <<<"$dump" || fail "$exe: not large-address-aware"
  bad=$(grep 'DLL Name' <<<"$dump" | grep -iE 'libstdc|libgcc|libwinpthread|zlib|libz' || true)
  [ -z "$bad" ] || fail "$exe needs $bad"
done

exe="$bin/korval_launcher.exe"
wrestool -x --type=14 --name=1 "$exe" >"$tmp/group.ico" 2>/dev/null
sizes=$(icotool -l "$tmp/group.ico" 2>/dev/null | sed -n 's/.*--width=\([0-9]*\).*--bit-depth=\([0-9]*\).*/\1x\2/p' | sort -n | tr '\n' ' ')
[ "$sizes" = "16x32 32x32 48x32 64x32 256x32 " ] || fail "icon group 1 holds '$sizes'"

wrestool -x --raw --type=24 --name=1 "$exe" >"$tmp/manifest.xml" 2>/dev/null
manifest=$(tr -d '\r' <"$tmp/manifest.xml")
for want in 'name="Korval.Launcher"' 'version="0.1.0.0"' 'processorArchitecture="x86"' \
    '35138b9a-5d96-4fbd-8e2d-a2440225f93a' '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38' \
    '1f676c76-80e1-4239-95bb-83d0f6d0da78' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' \
    '>true/pm<' '>PerMonitorV2<' 'level="asInvoker"' 'uiAccess="false"'; do
  grep -qF "$want" <<<"$manifest" || fail "manifest lacks $want"
done
count=$(wrestool -l --type=24 "$exe" 2>/dev/null | wc -l)
[ "$count" -eq 1 ] || fail "$count manifests in the launcher"

# The version resource carries LAUNCHER_VERSION: publish-launcher reads it
# there, and Windows shows it in the file's properties.
version=$(sed -n 's/.*LAUNCHER_VERSION\[\] = "\([0-9.]*\)".*/\1/p' \
  "$(dirname "$0")/../launcher/core/session_state.cpp")
for exe in korval_launcher.exe korval.exe; do
  strings=$(wrestool -x --raw --type=16 "$bin/$exe" 2>/dev/null | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n')
  for want in "ProductVersion" "FileVersion" "ProductName" "CompanyName"; do
    grep -q "$want\$" <<<"$strings" || fail "$exe: version resource lacks $want"
  done
  [ "$(grep -cx "$version" <<<"$strings")" -eq 2 ] || fail "$exe: version resource does not carry $version"
done

if [ "$failures" -eq 0 ]; then echo "executables: all checks passed"; exit 0; fi
exit 1
