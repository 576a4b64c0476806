#!/usr/bin/env bash
# Builds the native sanitizer project and runs one of its steps:
#   run.sh BUILD_DIR build | test | fuzz_splitpath | fuzz_pattern
# A fuzzer runs for FUZZ_SECONDS (default 20) on a corpus kept in BUILD_DIR/corpus; any crash,
# sanitizer report or broken invariant makes the step exit non-zero.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:?build folder}
step=${2:?step}

case "$step" in
build)
  if [ ! -f "$build/CMakeCache.txt" ]; then
    CXX=${NATIVE_CXX:-clang++} cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  fi
  cmake --build "$build" -j2
  ;;
test)
  "$build/devpath_native_test"
  ;;
fuzz_splitpath|fuzz_pattern)
  corpus="$build/corpus/$step"
  mkdir -p "$corpus" "$build/crashes"
  if [ -z "$(ls -A "$corpus")" ]; then
    # A few seeds near the real inputs; the first byte picks the code page (odd: DBCS).
    if [ "$step" = fuzz_splitpath ]; then
      printf '\000*:\\Corvane\\Corvane_Info.ini' >"$corpus/settings"
      printf '\001C:\\\203\\\\x.ini' >"$corpus/dbcs"
      printf '\000C:/a.b/c.d' >"$corpus/slash"
    else
      printf '\020*\000.\000i\000n\000i\000C\000o\000r\000.\000I\000N\000I\000' >"$corpus/tail"
    fi
  fi
  log="$build/$step.log"
  status=0
  "$build/$step" -max_total_time="${FUZZ_SECONDS:-20}" -max_len=1200 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$build/crashes/$step-" "$corpus" >"$log" 2>&1 || status=$?
  # The figures worth keeping: final coverage, executions and speed.
  grep -E '^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$step: the fuzzer stopped with status $status (crash artifacts in $build/crashes)" >&2
  fi
  exit "$status"
  ;;
*)
  echo "run.sh: unknown step $step" >&2
  exit 2
  ;;
esac
