#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's archive.
# Idempotent and quiet when everything is already there.
#
# The archive can be caught mid-update: one index then fails its size or hash
# check ("Mirror sync in progress?"). The update is tried a few times; an
# index that still fails is named in one line and the set-up goes on with the
# others, trusting apt's checks as they are. Wine's 32-bit side is installed
# on its own, last: when the archive cannot give it (its i386 libraries must
# match amd64 versions the missing index would have offered), the tests take
# the 64-bit path, as on a kernel that runs no 32-bit programs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

need=(
  cmake make python3 openssl
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
  binutils-mingw-w64-i686 libz-mingw-w64-dev
  # The 64-bit test build, for machines that cannot run the 32-bit one.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  binutils-mingw-w64-x86-64
  googletest
  # The native fuzzers and sanitizer runs of the readers (tools/fuzz.sh), and
  # the 32-bit conversion check (tools/check_conversions.sh).
  clang-14 libfuzzer-14-dev libclang-rt-14-dev zlib1g-dev
  wine wine64
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
# Wine's 32-bit side, only where the kernel can run it.
need32=(wine32:i386)

# Wine maps file names through the Unix locale: the tests' ru_RU.UTF-8 must
# exist for Cyrillic paths to reach the disk.
have_locale() { locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

source "$root/cmake/wine-tools.sh"
missing=()
for p in "${need[@]}"; do installed "$p" || missing+=("$p"); done
missing32=()
# A failed try is remembered for a few hours, so that every test run does not
# wait on the archive again; removing the file tries at once.
no32_stamp=/var/tmp/korval-setup-no-wine32
if [ "$KORVAL_KERNEL_32BIT" = yes ]; then
  for p in "${need32[@]}"; do installed "$p" || missing32+=("$p"); done
  if [ ${#missing32[@]} -gt 0 ] && [ -n "$(find "$no32_stamp" -mmin -360 2>/dev/null)" ]; then
    echo "setup: the 32-bit Wine packages could not be installed at $(date -r "$no32_stamp" +%H:%M);" \
      "the tests take the 64-bit path (remove $no32_stamp to try again)"
    missing32=()
  fi
fi
if [ ${#missing[@]} -eq 0 ] && [ ${#missing32[@]} -eq 0 ] && have_locale; then exit 0; fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

# apt-get update, up to three times. Exits 0 when every index arrived or
# enough did to go on (the failed ones are reported); non-zero only when apt
# itself could not run.
update_index() {
  local try log failed=""
  log=$(mktemp)
  for try in 1 2 3; do
    if $sudo apt-get update -q >"$log" 2>&1; then :; fi
    # apt reports an index that failed its check as "E: Failed to fetch URL
    # REASON" or "W: Failed to fetch ..." and may still exit 0 or 100.
    failed=$(grep -E '^[EW]: Failed to fetch' "$log" | head -n 3 || true)
    [ -z "$failed" ] && grep -qE '^(Reading package lists|Fetched|Hit:|Get:)' "$log" && break
    [ "$try" -lt 3 ] && sleep $((try * 5))
  done
  if [ -n "$failed" ]; then
    echo "setup: after 3 tries the archive still fails an index, going on without it:" \
      "$(echo "$failed" | head -n 1 | sed 's/^[EW]: Failed to fetch //')"
  fi
  if ! grep -qE '^Reading package lists' "$log"; then
    cat "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

if [ ${#missing[@]} -gt 0 ] || [ ${#missing32[@]} -gt 0 ]; then
  echo "setup: installing $(echo ${missing[*]} ${missing32[*]})"
  if [ ${#missing32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  update_index
  if [ ${#missing[@]} -gt 0 ]; then
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  if [ ${#missing32[@]} -gt 0 ]; then
    log=$(mktemp)
    if ! $sudo apt-get install -y -qq --no-install-recommends "${missing32[@]}" >"$log" 2>&1; then
      echo "setup: the 32-bit Wine packages (${missing32[*]}) cannot be installed from the" \
        "archive as it is now ($(grep -m1 -E '^E: ' "$log" | sed 's/^E: //')); the tests take" \
        "the 64-bit path and compile the 32-bit programs only"
      touch "$no32_stamp" 2>/dev/null || true
    else
      rm -f "$no32_stamp"
    fi
    rm -f "$log"
  fi
fi
if ! have_locale; then
  echo "setup: generating the ru_RU.UTF-8 locale"
  $sudo sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
