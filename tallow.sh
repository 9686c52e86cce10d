#!/usr/bin/env bash
# ./tallow.sh run   install what is missing, build, start the simulated fleet and the application
# ./tallow.sh test  install what is missing, build, run every test
# ./tallow.sh package  install what is missing, build what is installed, make the Debian package
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
build=${TALLOW_BUILD_DIR:-$top/build}
jobs=$(nproc 2>/dev/null || echo 2)

build_all() {
  "$top/scripts/bootstrap.sh"
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$jobs"
}

# set_ini FILE SECTION KEY VALUE: sets one key, keeping every other line (adds section/key if missing).
set_ini() {
  local tmp
  tmp=$(mktemp "$1.XXXXXX")
  awk -v sec="$2" -v key="$3" -v val="$4" '
    function flush() { if (insec && !done) { print key "=" val; done = 1 } }
    /^[ \t]*\[/ { flush(); s = $0; gsub(/^[ \t]*\[[ \t]*|[ \t]*\].*$/, "", s); insec = (tolower(s) == tolower(sec)) }
    insec && !done && /^[ \t]*[^;#[ \t]/ {
      k = $0; sub(/[ \t]*=.*$/, "", k); sub(/^[ \t]*/, "", k)
      if (tolower(k) == tolower(key)) { print key "=" val; done = 1; next }
    }
    { print }
    END { flush(); if (!done) { print "[" sec "]"; print key "=" val } }
  ' "$1" >"$tmp" && mv "$tmp" "$1"
}

ini_value() { # FILE SECTION KEY
  awk -v sec="$2" -v key="$3" '
    /^[ \t]*\[/ { s = $0; gsub(/^[ \t]*\[[ \t]*|[ \t]*\].*$/, "", s); insec = (tolower(s) == tolower(sec)); next }
    insec && /=/ { k = $0; sub(/[ \t]*=.*$/, "", k); sub(/^[ \t]*/, "", k)
      if (tolower(k) == tolower(key)) { v = $0; sub(/^[^=]*=[ \t]*/, "", v); sub(/[ \t\r]*$/, "", v); print v; exit } }
  ' "$1" 2>/dev/null
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
  fleet=${TALLOW_FLEET:-8}
  onvif=${TALLOW_ONVIF_FLEET:-4}
  if [ -x "$devsim" ] && [ "$fleet" != 0 ]; then
    state=$(mktemp -d /tmp/tallow-fleet.XXXXXX)
    "$devsim" --count "$fleet" --onvif "$onvif" --state "$state" --records-port 0 >"$state/devsim.log" 2>&1 &
    sim=$!
    trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
    for _ in $(seq 100); do
      grep -q '^ready ' "$state/devsim.log" && break
      kill -0 "$sim" 2>/dev/null || break
      sleep 0.1
    done
    if grep -q '^ready ' "$state/devsim.log"; then
      echo "tallow: simulated fleet of $fleet devices and $onvif ONVIF cameras from 127.0.0.10 (state and log in $state)"
      # The fleet lives on loopback: keep search probes and address changes off the real networks.
      export TALLOW_NETSDK_SEARCH_SCOPE=${TALLOW_NETSDK_SEARCH_SCOPE:-loopback}
      # Point the factory-record upload at the simulator's service, unless Config.ini names a real one.
      records=$(sed -n 's/^records https:\/\/\([0-9.]*\):\([0-9]*\) ca=\(.*\)$/\1 \2 \3/p' "$state/devsim.log")
      config="$build/bin/Config.ini"
      host=$(ini_value "$config" Upload Host)
      if [ -n "$records" ] && [ -f "$config" ] && { [ -z "$host" ] || [ "$host" = 127.0.0.1 ]; }; then
        read -r rhost rport rca <<<"$records"
        set_ini "$config" Upload Host "$rhost"
        set_ini "$config" Upload Port "$rport"
        set_ini "$config" Upload CAFile "$rca"
        echo "tallow: factory records upload to the simulator at https://$rhost:$rport"
      fi
    else
      echo "tallow: the simulated fleet did not start; see $state/devsim.log" >&2
    fi
  fi
  "$build/bin/Tallow" "$@"
  ;;
test)
  build_all
  cd "$build"
  ctest --output-on-failure -j "$jobs" --timeout 600
  ;;
package)
  "$top/scripts/bootstrap.sh"
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$jobs" --target tallow_installables
  (cd "$build" && cpack -G DEB -B "$build/package")
  ls -l "$build"/package/*.deb
  ;;
*)
  echo "usage: $0 run|test|package" >&2
  exit 2
  ;;
esac
