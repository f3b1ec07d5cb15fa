# Sourced by scripts that need the test content server running:
#   content_server_start BUILD_DIR ROOT CONTROL PORT   (sets CONTENT_SERVER_PID)
#   content_server_stop
# The certificate for "localhost" is made and trusted by the build's Wine
# prefix on first use (tools/content_server_cert.sh).

content_server_start() {
  local build_dir="$1" root="$2" control="$3" port="$4"
  local here certs
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  certs=$("$here/content_server_cert.sh" "$build_dir") || return 1
  mkdir -p "$root" "$control"
  rm -f "$control/ready"
  python3 "$here/content_server.py" --root "$root" --control "$control" --port "$port" \
    --cert "$certs/cert.pem" --key "$certs/key.pem" &
  CONTENT_SERVER_PID=$!
  for _ in $(seq 100); do
    [ -f "$control/ready" ] && return 0
    kill -0 "$CONTENT_SERVER_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "content server did not start on port $port" >&2
  return 1
}

content_server_stop() {
  if [ -n "${CONTENT_SERVER_PID:-}" ]; then
    kill "$CONTENT_SERVER_PID" 2>/dev/null || true
    wait "$CONTENT_SERVER_PID" 2>/dev/null || true
    CONTENT_SERVER_PID=""
  fi
  return 0
}
