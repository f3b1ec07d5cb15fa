#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's archive.
# Idempotent and quiet when everything is already there.
set -euo pipefail

need=(
  cmake make python3 openssl
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
  binutils-mingw-w64-i686 libz-mingw-w64-dev
  # The 64-bit test build, for kernels that run no 32-bit programs.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  binutils-mingw-w64-x86-64
  googletest
  # The native fuzzers and sanitizer runs of the readers (tools/fuzz.sh).
  clang-14 libfuzzer-14-dev libclang-rt-14-dev zlib1g-dev
  wine wine32:i386 wine64
  xvfb xauth
  strace
  icoutils
  locales
  # The content server test and the release signing; the nginx benchmark.
  nginx osslsigncode
  aria2 iproute2
  # The page's end-to-end tests and the real-browser runtime's bridge.
  chromium
  # The install-folder tests' drive as strict as Windows' system drive root.
  python3-fusepy fuse3
)

# Wine maps file names through the Unix locale: the tests' ru_RU.UTF-8 must
# exist for Cyrillic paths to reach the disk.
have_locale() { locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; }

missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && have_locale; then exit 0; fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if ! have_locale; then
  echo "setup: generating the ru_RU.UTF-8 locale"
  $sudo sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
