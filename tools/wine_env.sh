# Sourced by the build and test scripts: the private Wine prefix of a build
# folder, a virtual display and a persistent wineserver for the whole run.
# Usage: wine_env_start BUILD_DIR ; ... ; wine_env_stop
source "$(dirname "${BASH_SOURCE[0]}")/../cmake/wine-tools.sh"

wine_env_start() {
  local build_dir="$1"
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  "$(dirname "${BASH_SOURCE[0]}")/../cmake/wine-prefix.sh" "$WINEPREFIX"

  # Windows need an X display; start a private one unless one is given.
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 120); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
      WINE_ENV_XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      break
    done
  fi
  # One wineserver for every Wine process of the run: starts stay cheap.
  # Detached from our output: a pipe it held open would keep readers waiting.
  # It refuses to start beside a server of the prefix that still runs (an
  # earlier run's, or a program's of this one): that one serves as well.
  wineserver -p >/dev/null 2>&1 </dev/null || true
  # Start Wine's services and desktop now, outside any test's output.
  LC_ALL=ru_RU.UTF-8 wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}

wine_env_stop() {
  wineserver -k 2>/dev/null || true
  if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
    kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
  fi
}
