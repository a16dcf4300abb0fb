#!/usr/bin/env bash
# Runs the built test suite N times as CI does (ctest -j2, offscreen Qt) and reports
# every test that failed in any run, with the runs it failed in. Exits non-zero when
# any test failed at least once.
#
#   scripts/repeat-tests.sh [N] [CTEST_ARGS...]     (N defaults to 10)
#
# Environment: BUILD_DIR (default build). Each run's output is kept in
# $BUILD_DIR/repeat-logs/run-K.log.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
shift || true
build=${BUILD_DIR:-build}
[ -f "$build/CTestTestfile.cmake" ] || { echo "no build in $build: run scripts/setup.sh first" >&2; exit 2; }
logs=$build/repeat-logs
mkdir -p "$logs"
export QT_QPA_PLATFORM=offscreen
declare -A failedIn=()
for ((k = 1; k <= runs; ++k)); do
  log=$logs/run-$k.log
  start=$(date +%s)
  ctest --test-dir "$build" -j2 --output-on-failure --timeout 300 "$@" >"$log" 2>&1
  status=$?
  # ctest lists the failed tests after "The following tests FAILED:" as "  N - name (Failed)".
  failures=$(sed -n '/The following tests FAILED:/,$p' "$log" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p')
  for t in $failures; do failedIn[$t]="${failedIn[$t]:-} $k"; done
  summary=$(grep -E '^[0-9]+% tests passed' "$log" || echo "ctest exited with $status")
  echo "run $k/$runs: $summary ($(($(date +%s) - start)) s)"
done
if [ ${#failedIn[@]} -eq 0 ]; then
  echo "no test failed in $runs runs"
  exit 0
fi
echo "tests that failed in some run:"
for t in "${!failedIn[@]}"; do echo "  $t: run(s)${failedIn[$t]}"; done
exit 1
