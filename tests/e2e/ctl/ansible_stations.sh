#!/usr/bin/env bash
# The Ansible role against two simulated stations: two devsim fleets, each in a network namespace of its
# own, reached with Ansible's local connection through an "ip netns exec" prefix. Station "good" holds
# only NVRs, station "mixed" also a DVR: a check with an NVR package passes on the first and fails the
# play on the second; both summaries are collected.
# usage: ansible_stations.sh SOURCE_DIR TALLOWCTL DEVSIM
set -u
src=$1 ctl=$2 devsim=$3
skip() { echo "SKIPPED: $*"; exit 77; }
command -v ansible-playbook >/dev/null || skip "ansible-playbook is not installed (Debian package ansible-core)"
command -v python3 >/dev/null || skip "python3 is needed to write the package"
[ "$(id -u)" = 0 ] || skip "creating network namespaces needs root"

work=$(mktemp -d /tmp/tallowctl-ansible.XXXXXX)
ns_good=tctl-good-$$ ns_mixed=tctl-mixed-$$
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  ip netns del "$ns_good" 2>/dev/null; ip netns del "$ns_mixed" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for ns in "$ns_good" "$ns_mixed"; do
  ip netns add "$ns" || skip "cannot create network namespace $ns"
  ip netns exec "$ns" ip link set lo up
done

# tallowctl keeps its files beside itself: a private copy for this test.
mkdir -p "$work/app" && cp "$ctl" "$work/app/tallowctl"

cat >"$work/good.json" <<'JSON'
{"devices": [
  {"ip": "127.0.0.10", "mac": "00:12:34:78:00:01", "hardware": "HI3520D-NVR", "deviceType": 4},
  {"ip": "127.0.0.11", "mac": "00:12:34:78:00:02", "hardware": "HI3520D-NVR", "deviceType": 4}]}
JSON
cat >"$work/mixed.json" <<'JSON'
{"devices": [
  {"ip": "127.0.0.10", "mac": "00:12:34:78:01:01", "hardware": "HI3520D-NVR", "deviceType": 4},
  {"ip": "127.0.0.11", "mac": "00:12:34:78:01:02", "hardware": "HI3521A-DVR", "deviceType": 1}]}
JSON
for station in good mixed; do
  ns=tctl-$station-$$
  ip netns exec "$ns" "$devsim" --fleet "$work/$station.json" --state "$work/state-$station" >"$work/devsim-$station.log" 2>&1 &
  pids+=($!)
done
for station in good mixed; do
  for _ in $(seq 100); do grep -q '^ready ' "$work/devsim-$station.log" && break; sleep 0.1; done
  grep -q '^ready ' "$work/devsim-$station.log" || { echo "devsim of $station did not start"; cat "$work/devsim-$station.log"; exit 1; }
done

python3 - "$work/nvr.bin" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("InstallDesc", '{ "Hardware" : "HI3520D-NVR" }')
    z.writestr("u-boot.bin.img", b"\x5a" * 4096)
PY

cat >"$work/stations.ini" <<INI
[stations]
good  tallowctl_prefix='["ip", "netns", "exec", "$ns_good"]'
mixed tallowctl_prefix='["ip", "netns", "exec", "$ns_mixed"]'
[stations:vars]
ansible_connection=local
ansible_python_interpreter=$(command -v python3)
INI
cat >"$work/vars.json" <<VARS
{"tallowctl_path": "$work/app/tallowctl", "tallowctl_command": "check",
 "tallowctl_args": ["--package", "$work/nvr.bin", "--search-time", "1500"],
 "tallowctl_environment": {"TALLOW_NETSDK_SEARCH_SCOPE": "loopback"},
 "tallowctl_collect_dir": "$work/results"}
VARS
mkdir -p "$work/results"
ANSIBLE_ROLES_PATH="$src/deploy/ansible/roles" ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_HOME="$work/home" \
  ANSIBLE_NOCOLOR=1 ansible-playbook -i "$work/stations.ini" -e "@$work/vars.json" \
  "$src/deploy/ansible/tallowctl.yml" >"$work/play.log" 2>&1
play=$?
cat "$work/play.log"

fail() { echo "FAIL: $*"; exit 1; }
[ "$play" = 2 ] || fail "the play should fail on one station (ansible-playbook exit $play, expected 2)"
grep -Eq '^good +: .*failed=0' "$work/play.log" || fail "station good should not fail"
grep -Eq '^mixed +: .*failed=1' "$work/play.log" || fail "station mixed should fail"
python3 - "$work/results" <<'PY' || exit 1
import json, sys
good = json.load(open(sys.argv[1] + "/good.json"))
mixed = json.load(open(sys.argv[1] + "/mixed.json"))
def check(cond, what):
    if not cond:
        print("FAIL:", what, json.dumps(good), json.dumps(mixed)); sys.exit(1)
check(good["exitCode"] == 0 and good["summary"]["succeeded"] == 2 and good["summary"]["failed"] == 0, "good summary")
check(mixed["exitCode"] == 1 and mixed["summary"]["succeeded"] == 1 and mixed["summary"]["failed"] == 1, "mixed summary")
texts = sorted(d["text"] for d in mixed["summary"]["devices"])
check(texts == ["Invalid hardware", "Ready"], "mixed texts %s" % texts)
print("PASS: both summaries collected, the play failed on station mixed only")
PY
