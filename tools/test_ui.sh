#!/usr/bin/env bash
# Builds and tests the launcher's page (ui/): unit tests, build, page archive,
# then the end-to-end walk in headless Chromium. Safe to run again and again;
# needs Debian's chromium package and Node 20.19+ with npm.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root/ui"

if [ ! -x /usr/bin/chromium ]; then
  echo "test_ui: installing chromium"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
  $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends chromium >/dev/null
fi

# Plain summary lines for logs and CI, where nobody reads colours.
[ -t 1 ] || export NO_COLOR=1

bash "$root/tools/npm_deps.sh"

echo "== ui: unit tests"
npm run --silent test
echo "== ui: build and page archive"
npm run --silent pack
echo "== ui: end-to-end in headless Chromium"
npm run --silent e2e
