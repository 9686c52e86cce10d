#!/usr/bin/env bash
# ./scripts/sanitize.sh thread|address [ctest -R pattern]
# Builds the tree with ThreadSanitizer, or AddressSanitizer with UndefinedBehaviorSanitizer, in its own
# build directory (build-tsan / build-asan) and runs the tests (all, or those matching the pattern).
# SANITIZE_BUILD_ONLY=1 builds without running the tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-}
case "$kind" in
thread) dir=$top/build-tsan ;;
address) dir=$top/build-asan ;;
*) echo "usage: $0 thread|address [test-pattern]" >&2; exit 2 ;;
esac
pattern=${2:-}
"$top/scripts/bootstrap.sh"
gen=()
[ -f "$dir/CMakeCache.txt" ] || ! command -v ninja >/dev/null || gen=(-G Ninja)
launch=()
if command -v ccache >/dev/null; then
  launch=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$dir" "${gen[@]}" "${launch[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALLOW_SANITIZE="$kind" >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)"
[ -z "${SANITIZE_BUILD_ONLY:-}" ] || exit 0
supp=$top/tests/sanitizers
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$supp/tsan.supp ${TSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp ${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1 ${UBSAN_OPTIONS:-}"
cd "$dir"
if [ -n "$pattern" ]; then
  ctest --output-on-failure -j 2 --timeout 900 -R "$pattern"
else
  ctest --output-on-failure -j 2 --timeout 900
fi
