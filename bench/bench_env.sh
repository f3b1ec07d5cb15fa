# Sourced by the benchmark scripts: a build of their own, Wine, the content
# server's certificate, and the timing helpers.
#   bench_start TARGET...   installs what is missing, builds the targets, starts
#                           Wine; sets root, build, port and certs
#   BENCH_CLEANUP           extra shell text run at exit (temporary output)

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# A build and a content port of their own: a benchmark must not meet a test run.
build="${KORVAL_BUILD_DIR:-$root/build-bench}"
port="${KORVAL_BENCH_PORT:-47449}"
BENCH_CLEANUP=""

source "$root/tools/wine_env.sh"
source "$root/tools/content_server_env.sh"

bench_finish() {
  content_server_stop
  wine_env_stop
  eval "$BENCH_CLEANUP"
}

bench_start() {
  bash "$root/tools/setup.sh"
  command -v bc >/dev/null || apt-get install -y -qq bc >/dev/null
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVAL_ARCH="$KORVAL_ARCH" \
    -DKORVAL_CONTENT_HOST=localhost -DKORVAL_CONTENT_PORT="$port" >/dev/null
  cmake --build "$build" --parallel "$(nproc)" --target "$@" install_root_cert >/dev/null
  trap bench_finish EXIT
  wine_env_start "$build"
  certs=$("$root/tools/content_server_cert.sh" "$build")
  export LC_ALL=C
}

winpath() { echo "Z:${1//\//\\}"; }
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
now() { date +%s.%N; }
elapsed() { printf '%.3f' "$(echo "$(now) - $1" | bc -l)"; }
# The smaller of a best-so-far (maybe empty) and a new time.
smaller() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
