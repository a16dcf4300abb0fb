#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and fuzzes each for SECONDS (default 60), starting
# from its seed corpus in fuzz/corpus/<target>/. Prints one line per target:
#   <target>  execs=<n>  crashes=<n>
# Inputs found on the way go to $FUZZ_BUILD_DIR/corpus/<target>/, crashing inputs to
# $FUZZ_BUILD_DIR/artifacts/<target>/ (copy a crash into fuzz/corpus/<target>/ once
# fixed). Exits 1 when any target crashed.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Environment: FUZZ_BUILD_DIR (default build-fuzzer), CXX (default clang++-14 or
# clang++), JOBS (parallel compiles, default 2).
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_PER_TARGET=${1:-60}
shift || true
OUT=${FUZZ_BUILD_DIR:-$ROOT/build-fuzzer}
CXX=${CXX:-$(command -v clang++-14 || command -v clang++)}
JOBS=${JOBS:-2}
mkdir -p "$OUT/obj" "$OUT/gen/qadj/proto"

CXXFLAGS=(-std=c++20 -g -O1 -fno-omit-frame-pointer
          -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
          -I"$ROOT/fuzz" -I"$ROOT/platform/include" -I"$ROOT/platform/src" -I"$OUT/gen"
          -I"$ROOT/protocol/include" -I"$ROOT/server/include"
          -I"$ROOT/grid/include" -I"$ROOT/window/include" -I"$ROOT/appserver/include")

# The sources each target needs besides its harness fuzz/fuzz_<target>.cpp: only the
# units under test, so that no Qt or network code is built with the fuzzer.
declare -A SOURCES=(
  [packet]="protocol/src/packet.cpp"
  [record_set]="protocol/src/packet.cpp server/src/record_set.cpp platform/src/text.cpp"
  [float_text]="platform/src/number_text.cpp"
  [remote_wire]="platform/src/remote_wire.cpp platform/src/com_types.cpp platform/src/text.cpp GEN:remote.pb.cc"
  [profile]="platform/src/profile.cpp platform/src/text.cpp platform/src/paths.cpp"
  [gbk]="platform/src/text.cpp"
  [number_format]="platform/src/number_text.cpp"
  [quantity]="window/src/numbers.cpp protocol/src/save_request.cpp platform/src/com_types.cpp platform/src/number_text.cpp platform/src/quantity.cpp platform/src/text.cpp"
  [statements]="protocol/src/statements.cpp platform/src/number_text.cpp platform/src/quantity.cpp platform/src/calendar.cpp"
)
declare -A EXTRA_LIBS=(
  [remote_wire]="$(pkg-config --libs grpc++ protobuf)"
)

TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(packet record_set remote_wire profile gbk number_format
                                     float_text quantity statements)

compile() {  # compile SOURCE OBJECT
  if [ ! -f "$2" ] || [ "$1" -nt "$2" ]; then
    "$CXX" "${CXXFLAGS[@]}" -c "$1" -o "$2" || return 1
  fi
}

build_target() {
  local t=$1 objs=() src obj
  for src in fuzz/fuzz_$t.cpp ${SOURCES[$t]}; do
    if [[ $src == GEN:* ]]; then
      src=$OUT/gen/qadj/proto/${src#GEN:}
    else
      src=$ROOT/$src
    fi
    obj=$OUT/obj/$(basename "${src%.*}").o
    compile "$src" "$obj" || return 1
    objs+=("$obj")
  done
  # shellcheck disable=SC2086
  "$CXX" "${CXXFLAGS[@]}" "${objs[@]}" ${EXTRA_LIBS[$t]:-} -o "$OUT/fuzz_$t"
}

# The wire messages of the object runtime, generated as the platform build does.
if [ ! -f "$OUT/gen/qadj/proto/remote.pb.cc" ] ||
   [ "$ROOT/platform/proto/remote.proto" -nt "$OUT/gen/qadj/proto/remote.pb.cc" ]; then
  protoc -I "$ROOT/platform/proto" --cpp_out="$OUT/gen/qadj/proto" "$ROOT/platform/proto/remote.proto" || exit 1
fi

echo "building ${#TARGETS[@]} targets with $CXX into $OUT" >&2
for t in "${TARGETS[@]}"; do
  if [ -z "${SOURCES[$t]+x}" ]; then echo "unknown target $t" >&2; exit 2; fi
  build_target "$t" || { echo "build of fuzz_$t failed" >&2; exit 1; }
done

status=0
for t in "${TARGETS[@]}"; do
  mkdir -p "$OUT/corpus/$t" "$OUT/artifacts/$t"
  log=$OUT/fuzz_$t.log
  "$OUT/fuzz_$t" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$OUT/artifacts/$t/" \
    "$OUT/corpus/$t" "$ROOT/fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  [ -z "$execs" ] && execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  crashes=$(find "$OUT/artifacts/$t" -type f -newer "$OUT/fuzz_$t" | wc -l)
  [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ] && crashes=1
  printf '%-14s execs=%-10s crashes=%s\n' "$t" "${execs:-0}" "$crashes"
  [ "$crashes" -ne 0 ] && { status=1; echo "  see $log" >&2; }
done
exit $status
