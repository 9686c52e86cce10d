#!/usr/bin/env bash
# devsim's ONVIF face against ONVIF clients nobody here wrote: Debian's onvif-util and the npm
# "onvif" client. Run inside a private network namespace (tests/support/in-private-net.sh).
#
# usage: onvif-clients.sh DEVSIM WORKDIR
set -euo pipefail
devsim=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
npm_dir="${TALLOW_ONVIF_NPM_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tallow/npm-onvif-0.8.3}"

fail() {
  echo "FAIL: $*" >&2
  [ -f "$work/devsim.err" ] && sed 's/^/devsim: /' "$work/devsim.err" >&2
  exit 1
}
command -v onvif-util >/dev/null || fail "onvif-util is missing (Debian package onvif-tools; scripts/bootstrap.sh)"
command -v node >/dev/null || fail "node is missing (scripts/bootstrap.sh)"
[ -f "$npm_dir/node_modules/onvif/package.json" ] || fail "the npm onvif client is missing in $npm_dir (scripts/bootstrap.sh)"

rm -rf "$work"
mkdir -p "$work"
# Three ONVIF devices (one whose clock runs three hours ahead) and one that speaks only the SDK.
cat > "$work/fleet.json" <<'JSON'
{"devices": [
  {"ip": "127.0.0.10", "protocol": "onvif", "hostName": "cam10", "model": "Cam One", "hardware": "IPC-X1",
   "serial": "0a0b0c0d0e0f1010", "password": "secret", "rebootMs": 300},
  {"ip": "127.0.0.11", "protocol": "both", "hostName": "nvr11", "password": "secret"},
  {"ip": "127.0.0.12", "protocol": "onvif", "hostName": "cam12", "model": "Cam Two", "serial": "0a0b0c0d0e0f1212",
   "password": "secret", "rebootMs": 300, "faults": {"clockSkewSeconds": 10800}},
  {"ip": "127.0.0.13", "hostName": "dvr13"}
]}
JSON
"$devsim" --fleet "$work/fleet.json" --state "$work/state" >"$work/devsim.out" 2>"$work/devsim.err" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q '^ready' "$work/devsim.out" && break
  kill -0 $sim 2>/dev/null || fail "devsim did not start"
  sleep 0.1
done
grep -q '^ready' "$work/devsim.out" || fail "devsim not ready"

echo "== onvif-util -a"
all=$(timeout 60 onvif-util -a 2>&1) || fail "onvif-util -a: $all"
echo "$all"
echo "$all" | grep -q '^Found 3 cameras' || fail "onvif-util -a did not find the three ONVIF devices"
for want in '127.0.0.10 cam10(General Cam One)' '127.0.0.11 nvr11(General HI3520D-NVR)' '127.0.0.12 cam12(General Cam Two)'; do
  echo "$all" | grep -qxF "$want" || fail "onvif-util -a did not list: $want"
done
echo "$all" | grep -q '127.0.0.13' && fail "onvif-util -a listed the SDK-only device"

echo "== onvif-util -u admin -p secret 127.0.0.10, get time"
session=$(printf 'get time\nquit\n' | timeout 60 onvif-util -u admin -p secret 127.0.0.10 2>&1) ||
  fail "onvif-util login: $session"
echo "$session"
echo "$session" | grep -q 'successfully connected to host' || fail "onvif-util did not log in"
echo "$session" | grep -q 'serial: 0a0b0c0d0e0f1010' || fail "onvif-util read no serial"
echo "$session" | grep -q 'Timezone:    CST-8' || fail "onvif-util 'get time' showed no time zone"
echo "$session" | grep -q 'Time Set By: Manual' || fail "onvif-util 'get time' failed"

echo "== onvif-util with a wrong password (must be refused)"
wrong=$(printf 'quit\n' | timeout 60 onvif-util -u admin -p wrong 127.0.0.10 2>&1) && fail "a wrong password logged in: $wrong"
echo "$wrong"
echo "$wrong" | grep -q 'ter:NotAuthorized' || fail "a wrong password was not answered ter:NotAuthorized"

for dev in "127.0.0.10 0a0b0c0d0e0f1010 Cam\ One 0 00:12:34:00:00:00" "127.0.0.12 0a0b0c0d0e0f1212 Cam\ Two 10800 00:12:34:00:00:02"; do
  eval "set -- $dev"
  echo "== npm onvif client, device $1"
  NODE_PATH="$npm_dir/node_modules" timeout 60 node "$here/npm-onvif-client.js" 3 "$1" admin secret "$2" "$3" "$4" ||
    fail "npm onvif client against $1"
  # The client's reboot takes the device away for a moment: the next client's discovery must find it
  # back, so wait until devsim says it is.
  for _ in $(seq 150); do
    grep -q "^back $5 " "$work/devsim.out" && break
    sleep 0.1
  done
  grep -q "^back $5 " "$work/devsim.out" || fail "device $1 did not come back after its reboot"
done

# What the devices themselves recorded: one reboot each, the wrong password counted.
grep -q '^reboot 00:12:34:00:00:00 ' "$work/devsim.out" || fail "device 127.0.0.10 did not reboot"
grep -q '^reboot 00:12:34:00:00:02 ' "$work/devsim.out" || fail "device 127.0.0.12 did not reboot"
node -e '
const s = JSON.parse(require("fs").readFileSync(process.argv[1]));
if (s.counts.reboot !== 1 || s.counts.onvifAuthFailed < 1) { console.error(JSON.stringify(s.counts)); process.exit(1); }
' "$work/state/001234000000/state.json" || fail "state of 127.0.0.10 does not show one reboot and the refused password"
echo "onvif clients: all checks passed"
