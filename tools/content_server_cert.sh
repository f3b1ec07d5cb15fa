#!/usr/bin/env bash
# Makes the test content server's certificate for "localhost" (once per build
# folder) and has the build's Wine prefix trust it (once per prefix).
# Usage: content_server_cert.sh BUILD_DIR   -> prints the folder with cert.pem/key.pem
set -uo pipefail
build_dir="$1"
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
certs="$build_dir/content-server"
mkdir -p "$certs"
(
  flock 9
  if [ ! -f "$certs/cert.der" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=localhost" \
      -addext "subjectAltName=DNS:localhost" -keyout "$certs/key.pem" -out "$certs/cert.pem" \
      >/dev/null 2>&1 &&
      openssl x509 -in "$certs/cert.pem" -outform der -out "$certs/cert.der" || exit 1
  fi
  marker="$WINEPREFIX/korval-root-cert.sha256"
  digest=$(sha256sum "$certs/cert.der" | cut -d' ' -f1)
  if [ "$(cat "$marker" 2>/dev/null)" != "$digest" ]; then
    "$here/../cmake/wine-run.sh" "$build_dir" "$build_dir/bin/install_root_cert.exe" \
      "Z:${certs//\//\\}\\cert.der" >/dev/null && echo "$digest" >"$marker" || exit 1
  fi
) 9>"$certs/.lock" || { echo "content_server_cert: failed" >&2; exit 1; }
echo "$certs"
