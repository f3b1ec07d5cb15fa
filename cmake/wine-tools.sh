# Sourced by every script that runs Windows programs. Chooses Wine's 32-bit
# loader where the kernel runs 32-bit programs, else the 64-bit one: some
# kernels ship with ia32 emulation switched off, and there the test build is
# a 64-bit build of the same sources (tools/test.sh picks it by KORVAL_WINE_ARCH).
if [ -z "${KORVAL_WINE_ARCH:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    KORVAL_WINE_ARCH=win32
  else
    KORVAL_WINE_ARCH=win64
  fi
fi
export KORVAL_WINE_ARCH
if [ "$KORVAL_WINE_ARCH" = win64 ]; then
  KORVAL_WINE_LOADER=/usr/lib/wine/wine64
  export WINELOADER=/usr/lib/wine/wine64
else
  KORVAL_WINE_LOADER=/usr/lib/wine/wine
fi
if [ "$KORVAL_WINE_ARCH" = win64 ]; then KORVAL_ARCH=x86_64; else KORVAL_ARCH=i686; fi
export KORVAL_ARCH
wine() { "$KORVAL_WINE_LOADER" "$@"; }
