#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS] [TARGET...]
# Builds every libFuzzer target (clang, AddressSanitizer and UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each for SECONDS (default 60), or only the TARGETs named. New inputs and any
# crash files stay in build-fuzz/fuzz/work/<target>/ (corpus/, artifacts/); the seeds under
# tests/fuzz/ are only read. Prints one line per target: runs, seconds, corpus size, crashes.
# Environment: TALLOW_FUZZ_BUILD_DIR (default build-fuzz), FUZZ_JOBS parallel runs (default 1),
# TMPDIR for the targets' scratch files (default /dev/shm when writable).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TALLOW_FUZZ_BUILD_DIR:-$top/build-fuzz}
seconds=${1:-60}
shift || true
jobs=${FUZZ_JOBS:-1}
# Targets whose parser takes a file write it per input: keep those files in memory when we can.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing (apt-get install clang libclang-rt-14-dev)" >&2
  exit 2
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLOW_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
mapfile -t lines <"$build/fuzz/targets.txt"
targets=()
for l in "${lines[@]}"; do
  name=${l%% *}
  if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx "$name"; then targets+=("$name"); fi
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no such target: $*" >&2; exit 2; }
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

run_one() {
  local name=$1 seeds dict work log
  read -r _ seeds dict < <(grep "^$name " "$build/fuzz/targets.txt")
  work=$build/fuzz/work/$name
  mkdir -p "$work/corpus" "$work/artifacts"
  log=$work/last-run.log
  local opts=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
              -artifact_prefix="$work/artifacts/")
  [ -n "${dict:-}" ] && opts+=(-dict="$dict")
  # The run's own directory is the working directory, so that nothing lands in the source tree.
  (cd "$work" && "$build/fuzz/$name" "${opts[@]}" "$work/corpus" "$seeds") >"$log" 2>&1 || true
  local runs secs crashes corpus
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  crashes=$(find "$work/artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  corpus=$(find "$work/corpus" -type f | wc -l)
  printf '%-26s runs %-10s exec/s %-7s corpus %-6s crash files %s%s\n' "$name" "${runs:-?}" "${secs:-?}" \
    "$corpus" "$crashes" "$(grep -q '^==.*ERROR\|^SUMMARY' "$log" && echo '  (see '"$log"')' || true)"
}

echo "fuzz: ${#targets[@]} targets, ${seconds}s each, $jobs at a time"
running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
done
wait
