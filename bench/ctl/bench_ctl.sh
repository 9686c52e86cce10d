#!/usr/bin/env bash
# bench_ctl.sh [devices] [package MiB] [link Mbit/s] [spacing ms] [parallel]
# One firmware run through tallowctl on a devsim fleet of NVRs sharing one link, as bench_upgrade runs
# the tab: wall time of the whole command (search included, and the run alone from its events), peak
# RSS and CPU time of tallowctl, and the CPU time devsim spent. Run it in a network namespace of its own
# (ip netns exec NAME bench_ctl.sh ...): the fleet uses 127.0.200.0/22 and ports 36600-36601.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
devices=${1:-256} mib=${2:-16} mbps=${3:-1000} spacing=${4:-0} parallel=${5:-64}
work=$(mktemp -d /tmp/bench_ctl.XXXXXX)
sim=
cleanup() { [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

python3 - "$work" "$devices" "$mib" <<'PY'
import json, os, sys, zipfile
work, n, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
devs = [{"ip": "127.0.%d.%d" % (200 + (10 + i) // 250, 1 + (10 + i) % 250),
         "mac": "00:12:35:%02x:%02x:%02x" % (i >> 16, (i >> 8) & 255, i & 255),
         "serial": "benchctl%08d" % i, "hardware": "HI3520D-NVR", "deviceType": 4, "upgradeMs": 2000}
        for i in range(n)]
json.dump({"devices": devs}, open(work + "/fleet.json", "w"))
with zipfile.ZipFile(work + "/nvr.bin", "w", zipfile.ZIP_STORED) as z:
    z.writestr("InstallDesc", '{ "Hardware" : "HI3520D-NVR" }')
    z.writestr("u-boot.bin.img", os.urandom(mib << 20))
PY
mkdir -p "$work/app"
cp "$here/tallowctl" "$work/app/"   # its run log and records go beside this copy
"$here/devsim" --fleet "$work/fleet.json" --state "$work/state" --port 36600 --search-port 36601 \
  --link-mbps "$mbps" --keys-at-start 1 >"$work/devsim.log" 2>&1 &
sim=$!
for _ in $(seq 600); do grep -q '^ready ' "$work/devsim.log" && break; sleep 0.1; done
grep -q '^ready ' "$work/devsim.log" || { echo "devsim did not start"; exit 1; }
sim_cpu0=$(awk '{print $14 + $15}' /proc/$sim/stat)

TALLOW_NETSDK_SEARCH_PORT=36601 TALLOW_NETSDK_SEARCH_SCOPE=loopback TALLOW_PASSWORD= \
  /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$work/app/tallowctl" upgrade -p "$work/nvr.bin" --json \
  --search-time 3000 --spacing-ms "$spacing" --max-parallel "$parallel" </dev/null >"$work/run.jsonl" || true
sim_cpu1=$(awk '{print $14 + $15}' /proc/$sim/stat)
read -r wall rss user sys <"$work/time"
python3 - "$work/run.jsonl" "$wall" "$rss" "$user" "$sys" "$(( (sim_cpu1 - sim_cpu0) ))" "$(getconf CLK_TCK)" \
  "$devices" "$mib" "$mbps" "$spacing" "$parallel" <<'PY'
import datetime, json, sys
lines = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
wall, rss, user, sys_, simticks, hz = float(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
n, mib, mbps, spacing, parallel = sys.argv[8:13]
t = lambda s: datetime.datetime.fromisoformat(s)
events = [l for l in lines if l.get("event") == "device"]
summary = lines[-1]
run = (t(summary["time"]) - t(events[0]["time"])).total_seconds() if events else 0.0
print("tallowctl upgrade: %s devices x %s MiB, link %s Mbit/s, spacing %s ms, parallel %s" % (n, mib, mbps, spacing, parallel))
print("  result: %d succeeded, %d failed, exit %d" % (summary["succeeded"], summary["failed"], summary["exitCode"]))
print("  wall: %.1f s whole command (3.0 s search), %.1f s from the first device event to the summary" % (wall, run))
print("  peak RSS: %.1f MiB" % (rss / 1024.0))
print("  CPU: tallowctl %.1f s (user %.1f, sys %.1f); devsim %.1f s" % (user + sys_, user, sys_, simticks / hz))
PY
