#!/usr/bin/env bash
# Renders the content server's nginx site, or runs it in a private nginx.
#
#   content_nginx.sh site --server-name NAME --root DIR --cert PEM --key PEM
#                         [--port 443] [--log-dir /var/log/nginx] [--rate 0]
#       prints the site configuration for /etc/nginx/sites-available/
#   content_nginx.sh start STATE_DIR --root DIR --cert PEM --key PEM --port N
#                         [--rate BYTES_PER_S] [--server-name localhost]
#       starts a private nginx (pid, logs, temporary files in STATE_DIR) and
#       waits until it listens; prints its pid
#   content_nginx.sh stop STATE_DIR
#       stops the nginx that start left in STATE_DIR, if it still runs
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

die() { echo "content_nginx: $*" >&2; exit 2; }

parse() {
  port=443 server_name=localhost root="" cert="" key="" log_dir=/var/log/nginx rate=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --port) port="$2" ;;
      --server-name) server_name="$2" ;;
      --root) root="$2" ;;
      --cert) cert="$2" ;;
      --key) key="$2" ;;
      --log-dir) log_dir="$2" ;;
      --rate) rate="$2" ;;
      *) die "unknown option $1" ;;
    esac
    shift 2 || die "$1 needs a value"
  done
  [ -n "$root" ] && [ -n "$cert" ] && [ -n "$key" ] || die "--root, --cert and --key are needed"
  # nginx reads these while it runs: relative paths would depend on its prefix.
  root="$(realpath "$root")" cert="$(realpath "$cert")" key="$(realpath "$key")"
}

render() {  # template -> stdout, with the values of parse
  sed -e "s|@PORT@|$port|g" -e "s|@SERVER_NAME@|$server_name|g" -e "s|@ROOT@|$root|g" \
    -e "s|@CERT@|$cert|g" -e "s|@KEY@|$key|g" -e "s|@LOG_DIR@|$log_dir|g" \
    -e "s|@RATE@|$rate|g" -e "s|@PREFIX@|${prefix:-}|g" -e "s|@USER@|$(id -un)|g" "$1"
}

stop() {
  local state="$1" pid
  pid=$(cat "$state/nginx.pid" 2>/dev/null) || return 0
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$state/nginx.pid"
}

case "${1:-}" in
  site)
    shift; parse "$@"
    render "$here/korval-content.conf"
    ;;
  start)
    [ $# -ge 2 ] || die "start needs a state folder"
    prefix="$(mkdir -p "$2" && realpath "$2")"; shift 2; parse "$@"
    command -v nginx >/dev/null || die "nginx is missing (tools/setup.sh installs it)"
    stop "$prefix"
    mkdir -p "$prefix/tmp"
    log_dir="$prefix"
    render "$here/korval-content.conf" >"$prefix/korval-content.conf"
    render "$here/nginx.conf" >"$prefix/nginx.conf"
    nginx -t -q -c "$prefix/nginx.conf" -p "$prefix" 2>"$prefix/config-test.log" ||
      { cat "$prefix/config-test.log" >&2; exit 1; }
    # Detached from the caller's output, which a test may be reading to its end.
    setsid nginx -c "$prefix/nginx.conf" -p "$prefix" </dev/null >>"$prefix/error.log" 2>&1 &
    for _ in $(seq 100); do
      if [ -s "$prefix/nginx.pid" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        cat "$prefix/nginx.pid"
        exit 0
      fi
      kill -0 $! 2>/dev/null || break
      sleep 0.05
    done
    cat "$prefix/error.log" >&2
    stop "$prefix"
    die "nginx did not start on port $port"
    ;;
  stop)
    [ $# -eq 2 ] || die "stop needs the state folder"
    stop "$2"
    ;;
  *)
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
