#!/usr/bin/env bash
# Installs a folder's locked npm packages when its lock file changed since the
# last install (npm ci always wipes node_modules, so it is not run needlessly).
# Usage: npm_deps.sh [FOLDER]   (default: the page, ui/)
set -euo pipefail
cd "${1:-$(dirname "$0")/../ui}"
stamp=node_modules/.korval-lock-stamp
if ! cmp -s package-lock.json "$stamp" 2>/dev/null; then
  npm ci --no-audit --no-fund --loglevel=error >/dev/null
  cp package-lock.json "$stamp"
fi
