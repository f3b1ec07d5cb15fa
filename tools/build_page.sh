#!/usr/bin/env bash
# Builds the page and packs it into the page archive at the given path.
# Usage: build_page.sh OUTPUT_ZIP
set -euo pipefail
out="$(realpath -m "$1")"
bash "$(dirname "$0")/npm_deps.sh"
cd "$(dirname "$0")/../ui"
UI_ZIP_OUT="$out" npm run --silent pack >/dev/null
