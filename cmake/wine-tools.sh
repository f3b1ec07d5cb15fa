# Sourced by every script that runs Windows programs. Decides which build the
# tests run and in which kind of Wine prefix:
#   - where the kernel runs 32-bit programs and Wine's 32-bit side is
#     installed, the shipped i686 build, in a 64-bit prefix: a 32-bit program
#     on 64-bit Windows, under WoW64, as players run it;
#   - elsewhere (ia32 emulation switched off in the kernel, or the 32-bit Wine
#     packages out of reach), a 64-bit build of the same sources in a 64-bit
#     prefix; tools/test.sh then still compiles every 32-bit program.
# KORVAL_WINE_ARCH=win32 forces a 32-bit prefix (32-bit Windows), for a
# comparison by hand.

# Whether this kernel runs 32-bit x86 programs at all: a 93-byte static ELF
# that only calls exit(0). Wine's 32-bit loader needs the same support.
korval_kernel_runs_32bit() {
  local probe rc
  probe=$(mktemp)
  # ELF header, one program header, then: mov eax,1; xor ebx,ebx; int 0x80.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -f "$probe"
  return "$rc"
}

# KORVAL_ARCH, when given, is taken as it is (a 64-bit build wants a 64-bit
# prefix).
if [ -z "${KORVAL_KERNEL_32BIT:-}" ]; then
  if korval_kernel_runs_32bit; then KORVAL_KERNEL_32BIT=yes; else KORVAL_KERNEL_32BIT=no; fi
fi
if [ -z "${KORVAL_ARCH:-}" ]; then
  if [ "$KORVAL_KERNEL_32BIT" = yes ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
    KORVAL_ARCH=i686
  else
    KORVAL_ARCH=x86_64
  fi
fi
if [ "$KORVAL_ARCH" = x86_64 ]; then KORVAL_WINE_ARCH=win64; fi
KORVAL_WINE_ARCH="${KORVAL_WINE_ARCH:-win64}"
export KORVAL_ARCH KORVAL_WINE_ARCH KORVAL_KERNEL_32BIT

if [ "$KORVAL_ARCH" = i686 ]; then
  # The 32-bit loader runs 32-bit programs in either kind of prefix, and
  # hands 64-bit ones (wineboot of a 64-bit prefix) to wine64 itself.
  KORVAL_WINE_LOADER=/usr/lib/wine/wine
else
  KORVAL_WINE_LOADER=/usr/lib/wine/wine64
  export WINELOADER=/usr/lib/wine/wine64
fi

# How the tests' Windows is described in the scripts' own lines.
korval_tested_kind() {
  if [ "$KORVAL_ARCH" = i686 ] && [ "$KORVAL_WINE_ARCH" = win64 ]; then
    echo "32-bit (i686) executables in a 64-bit prefix, under WoW64 as players run them"
  elif [ "$KORVAL_ARCH" = i686 ]; then
    echo "32-bit (i686) executables in a 32-bit prefix"
  else
    echo "64-bit (x86_64) executables in a 64-bit prefix, standing in for the shipped 32-bit ones"
  fi
}

wine() { "$KORVAL_WINE_LOADER" "$@"; }
