#!/usr/bin/env bash
# The launcher's sources through clang for the shipped 32-bit target with
# -Wshorten-64-to-32: a 64-bit value put into a 32-bit one without saying so
# (a file offset into a size_t, an index computed in 64 bits) is harmless on
# the 64-bit test build and cuts on the players' one. Exit 0 when no source
# has such a site.
# Usage: check_conversions.sh BUILD_DIR   (for the build's generated headers)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"
gcc_dir=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-posix 2>/dev/null | sort -V | tail -n 1)
if [ -z "$gcc_dir" ] || ! command -v clang++-14 >/dev/null; then
  echo "FAIL: needs clang++-14 and the i686 MinGW-w64 g++ (tools/setup.sh installs both)"
  exit 1
fi
flags=(--target=i686-w64-mingw32 -fsyntax-only -std=c++20
  # MinGW's own headers and libstdc++, never the host's.
  -nostdinc++ -nostdlibinc
  -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/i686-w64-mingw32"
  -isystem "$gcc_dir/include/c++/backward" -isystem /usr/i686-w64-mingw32/include
  -DWIN32_LEAN_AND_MEAN -DNOMINMAX -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0601
  -I"$root" -I"$root/launcher" -I"$build/generated"
  # This pass reports one kind of fault; the compilers' other warnings are
  # the real build's business.
  -Wno-everything -Wshorten-64-to-32)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
files=0
broken=0
while IFS= read -r source; do
  files=$((files + 1))
  clang++-14 "${flags[@]}" "$source" >>"$log" 2>&1 || broken=$((broken + 1))
done < <(find "$root/launcher" "$root/subprocess" -name '*.cpp' | sort)
# A site in a header is reported once per source that includes it.
sites=$(grep -E '^[^ ]+:[0-9]+:[0-9]+: warning: .*\[-Wshorten-64-to-32\]' "$log" | cut -d: -f1-3 | sort -u | wc -l)
if [ "$broken" -gt 0 ] || [ "$sites" -gt 0 ]; then
  grep -E 'warning:|error:' "$log" | sed "s|^$root/||" | sort -u
  echo "FAIL: $sites implicit 64-to-32-bit conversions, $broken of $files sources did not compile for i686"
  exit 1
fi
echo "conversions: $files sources, no implicit 64-to-32-bit conversion on i686"
