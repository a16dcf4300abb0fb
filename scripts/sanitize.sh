#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UndefinedBehaviorSanitizer
# (-DQADJ_SANITIZE=ON) in its own build directory and runs the test suite there.
# Any sanitizer report fails the run: undefined behaviour aborts the test that hit
# it (-fno-sanitize-recover), ASan stops at the first error, and LeakSanitizer
# reports leaks at exit, except the third-party ones in scripts/lsan-suppressions.txt.
#
#   scripts/sanitize.sh [CTEST_ARGS...]
#
# With SANITIZE_TARGETS="t1 t2 ..." only those targets are built (default: all) and
# only the tests whose executables exist are run.
# Environment: SANITIZE_BUILD_DIR (default build-sanitize), JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${SANITIZE_BUILD_DIR:-$ROOT/build-sanitize}
JOBS=${JOBS:-2}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQADJ_SANITIZE=ON \
  -DQADJ_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="-fno-sanitize-recover=undefined"
SKIP=()
if [ -n "${SANITIZE_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$BUILD" -j"$JOBS" --target $SANITIZE_TARGETS
  # Run only the tests whose executable exists (ctest numbers them from 1).
  IDS=$(ctest --test-dir "$BUILD" --show-only=json-v1 | python3 -c '
import json, os, sys
tests = json.load(sys.stdin)["tests"]
print(",".join(str(i + 1) for i, t in enumerate(tests)
               if t.get("command") and os.path.exists(t["command"][0])))')
  [ -n "$IDS" ] || { echo "no built tests among SANITIZE_TARGETS" >&2; exit 1; }
  SKIP=(-I "0,0,0,$IDS")
else
  cmake --build "$BUILD" -j"$JOBS"
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan-suppressions.txt:print_suppressions=0
cd "$BUILD"
ctest -j"$JOBS" --output-on-failure --timeout 600 "${SKIP[@]}" "$@"
