#!/usr/bin/env bash
# Installs the Debian packages in scripts/packages.txt that are missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(grep -v '^\s*#' "$here/packages.txt" | sed '/^\s*$/d')
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Node and npm run the npm ONVIF client of the checks; a Node installed otherwise (with its own
# npm) is kept, as Debian's npm package conflicts with it.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The npm ONVIF client, pinned, in a cache directory of its own (never global); the ONVIF checks
# of devsim look for it there (tests/e2e/onvif/onvif-clients.sh).
onvif_npm="${TALLOW_ONVIF_NPM_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tallow/npm-onvif-0.8.3}"
if [ ! -f "$onvif_npm/node_modules/onvif/package.json" ]; then
  echo "bootstrap: installing the npm onvif client into $onvif_npm"
  mkdir -p "$onvif_npm"
  npm install --prefix "$onvif_npm" --no-audit --no-fund --no-save onvif@0.8.3
fi
