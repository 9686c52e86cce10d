#!/usr/bin/env bash
# debroot.sh DEB ROOTS_DIR: makes (once) a minimal Debian root holding what the package DEB depends
# on, an X server for tests and a user "tech", under ROOTS_DIR/<key>; the key changes when the
# dependencies do, so a cached root is reused until then. Only this step reaches the Debian archive.
# Prints the root's path on its last line.
set -euo pipefail
deb=$1
roots=$2
suite=${TALLOW_DEBROOT_SUITE:-bookworm}
mirror=${TALLOW_DEBROOT_MIRROR:-http://deb.debian.org/debian}

# The first alternative of every dependency, without its version.
deps=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | sed '/^$/d' | sort -u)
include=$(printf '%s\n' $deps xvfb xauth | sort -u | paste -sd, -)
key=$(printf '%s %s %s' "$suite" "$mirror" "$include" | sha256sum | cut -c1-16)
root=$roots/$key
if [ -f "$root/.complete" ]; then
  echo "debroot: cached $root"
  echo "$root"
  exit 0
fi
command -v mmdebstrap >/dev/null || { echo "debroot: mmdebstrap is not installed"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "debroot: needs root (mmdebstrap root mode, chroot)"; exit 77; }
mkdir -p "$roots"
rm -rf "$root.tmp"
echo "debroot: building $root ($suite: $include)"
if ! mmdebstrap --variant=apt --include="$include" \
       --customize-hook='chroot "$1" useradd --create-home --shell /bin/bash tech' \
       --customize-hook='chroot "$1" apt-get clean' \
       "$suite" "$root.tmp" "$mirror" >"$roots/$key.log" 2>&1; then
  tail -20 "$roots/$key.log"
  echo "debroot: the root could not be built; it needs the Debian archive, so build it where there is a"
  echo "         route to it (outside a test network namespace): ctest -R package_debroot"
  rm -rf "$root.tmp"
  exit 1
fi
touch "$root.tmp/.complete"
mv "$root.tmp" "$root"
# Roots of older dependency lists are of no more use.
find "$roots" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
echo "$root"
