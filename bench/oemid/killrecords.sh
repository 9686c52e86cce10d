#!/usr/bin/env bash
# Factory records under SIGKILL: uploads of a few hundred records each against devsim's record
# service, the uploading process killed with SIGKILL at a random moment of each; then the same while
# the killed process also appends new records. After every kill, every record whose write had
# returned must be in a day file, "failed.log" or an archive (twice is allowed, missing is not).
#
#   bench/oemid/killrecords.sh BUILD_DIR [ROUNDS] [RECORDS]      (defaults: 100 rounds, 300 records)
# KILL_WINDOW_MS (default 450): each kill comes at a random moment within this time of the start.
# Run it inside a network namespace of its own (nsrun) so that the service port is free.
set -euo pipefail
shopt -s nullglob

build=${1:?usage: killrecords.sh BUILD_DIR [ROUNDS] [RECORDS]}
rounds=${2:-100}
per_round=${3:-300}
driver=$build/bin/record_killdriver
devsim=$build/bin/devsim
[ -x "$driver" ] && [ -x "$devsim" ] || { echo "build record_killdriver and devsim first" >&2; exit 2; }

work=$(mktemp -d /tmp/killrecords.XXXXXX)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

"$devsim" --count 1 --base-ip 127.0.99.10 --port 47600 --search-port 47601 --records-port 0 \
    --state "$work/sim" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready ' "$work/sim.out" && break; sleep 0.1; done
line=$(grep '^records ' "$work/sim.out") || { echo "devsim runs without its record service" >&2; exit 1; }
port=$(sed -E 's|^records https://[^:]+:([0-9]+) .*|\1|' <<<"$line")
ca=$(sed -E 's|.* ca=(.*)$|\1|' <<<"$line")
app=$work/app
mkdir -p "$app"
: >"$work/written"

# Prints how many written records are missing from the record tree (and lists them on stderr).
missing() {
    cat /dev/null "$app"/oemidupload/unupload/*.log "$app"/oemidupload/upload/*.log |
        cut -d, -f1 | sort -u >"$work/present"
    sort -u "$work/written" >"$work/written.sorted"
    comm -23 "$work/written.sorted" "$work/present" | tee "$work/missing" | head -5 >&2
    wc -l <"$work/missing"
}

kills=0 lost=0 completed=0
run_round() { # phase round
    local phase=$1 round=$2 out=$work/round.out args=()
    if [ "$phase" = upload ]; then
        "$driver" "$app" localhost "$port" "$ca" --write "$per_round" --tag "U${round}_" --uploads 0 >"$out"
        args=(--uploads 1)
    else
        args=(--write "$per_round" --tag "W${round}_" --gap 3)
    fi
    "$driver" "$app" localhost "$port" "$ca" "${args[@]}" >>"$out" &
    local pid=$!
    local ms=$((RANDOM * 32768 + RANDOM))
    ms=$((ms % ${KILL_WINDOW_MS:-450}))
    sleep "$((ms / 1000)).$(printf '%03d' $((ms % 1000)))"
    if kill -KILL "$pid" 2>/dev/null; then kills=$((kills + 1)); fi
    wait "$pid" 2>/dev/null || true
    completed=$((completed + $(grep -c '^upload 0 ' "$out" || true)))
    sed -n 's/^written //p' "$out" >>"$work/written"
    local m
    m=$(missing)
    if [ "$m" -ne 0 ]; then
        echo "round $phase $round: $m records missing" >&2
        lost=$((lost + m))
    fi
}

for phase in upload write+upload; do
    for round in $(seq "$rounds"); do run_round "$phase" "$round"; done
    echo "$phase: $rounds runs, $kills killed so far, $(sort -u "$work/written" | wc -l) records written so far"
done

# A last upload without a kill files everything; the service then holds every record.
"$driver" "$app" localhost "$port" "$ca" --uploads 1 >"$work/final.out" || true
final_missing=$(missing)
left=$(cat /dev/null "$app"/oemidupload/unupload/*.log | wc -l)
accepted=$( (cut -d, -f1 "$work/sim/records/accepted.log" || true) | sort -u | comm -23 "$work/written.sorted" - | wc -l)
written=$(wc -l <"$work/written.sorted")
echo "runs: $((2 * rounds)), SIGKILLs delivered: $kills, uploads that filed records before their process was killed: $completed"
echo "records written: $written; missing after the kills: $lost; missing after the final upload: $final_missing"
echo "lines left in day files and failed.log after the final upload: $left; written but never accepted by the service: $accepted"
[ "$lost" -eq 0 ] && [ "$final_missing" -eq 0 ]
