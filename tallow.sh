#!/usr/bin/env bash
# ./tallow.sh run   install what is missing, build, start the simulated fleet and the application
# ./tallow.sh test  install what is missing, build, run every test
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
build=${TALLOW_BUILD_DIR:-$top/build}
jobs=$(nproc 2>/dev/null || echo 2)

build_all() {
  "$top/scripts/bootstrap.sh"
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$jobs"
}

case "${1:-}" in
run)
  shift
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "tallow: no display found (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
    echo "        Start it inside a virtual X server instead:  xvfb-run -a ./tallow.sh run" >&2
    exit 2
  fi
  build_all
  devsim="$build/bin/devsim"
  if [ -x "$devsim" ]; then
    state=$(mktemp -d /tmp/tallow-fleet.XXXXXX)
    "$devsim" --count "${TALLOW_FLEET:-8}" --state "$state" &
    sim=$!
    trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
    echo "tallow: simulated fleet running (state in $state)"
  fi
  "$build/bin/Tallow" "$@"
  ;;
test)
  build_all
  cd "$build"
  ctest --output-on-failure -j "$jobs" --timeout 600
  ;;
*)
  echo "usage: $0 run|test" >&2
  exit 2
  ;;
esac
