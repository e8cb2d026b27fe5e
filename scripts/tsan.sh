#!/usr/bin/env bash
# Builds the communication and window tests with ThreadSanitizer in
# build-tsan/ and runs them: the serial and network lines, the port's receive
# thread and the windows that wait on it are where threads meet.
#   scripts/tsan.sh            build, run every test program, print the figure
#   scripts/tsan.sh PROGRAM..  only these (comm_tests, lines_tests, gui_test_dialform, ...)
# Each program's race reports go to build-tsan/tsan-logs/. The exit status is
# non-zero when a test failed or a race was reported. Not part of ./test.sh.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
build="$here/build-tsan"
jobs="${JOBS:-$(nproc)}"

if [ $# -gt 0 ]; then
  programs=("$@")
else
  programs=(comm_tests lines_tests)
  for src in "$here"/tests/gui/test_*.cpp; do
    name="$(basename "$src" .cpp)"
    programs+=("gui_$name")
  done
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$build" -j"$jobs" --target "${programs[@]}"

logs="$build/tsan-logs"
rm -rf "$logs"
mkdir -p "$logs"
# Qt itself is not built with the sanitizer: the hand-overs inside it (its
# thread pool, its event queues) are invisible to the detector, so what Qt's
# own code does to memory (allocating, freeing, copying) is not checked; every
# access of the program's own code is. tsan.supp names the few hand-overs
# left, and only those.
export TSAN_OPTIONS="halt_on_error=0 exitcode=0 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$here/scripts/tsan.supp log_path=$logs/report"
export QT_QPA_PLATFORM=offscreen

failed=()
run=0
for p in "${programs[@]}"; do
  echo "== $p"
  out="$logs/$p.out"
  status=0
  (cd "$build/tests" && "$build/bin/$p") >"$out" 2>&1 || status=$?
  # GoogleTest: "[==========] N tests from M test suites ran."; Qt Test:
  # "Totals: P passed, F failed, S skipped, ..." (skipped ones did not run).
  n=$(sed -n -e 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' \
             -e 's/^Totals: \([0-9]*\) passed, \([0-9]*\) failed, .*/\1 \2/p' "$out" |
      awk '{ for (i = 1; i <= NF; ++i) s += $i } END { print s + 0 }')
  run=$((run + n))
  echo "   $n tests, exit status $status"
  [ "$status" -eq 0 ] || failed+=("$p")
done

reports=$(cat "$logs"/report.* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
echo "ThreadSanitizer: ${#programs[@]} programs, $run tests run, $reports reports (logs: $logs)"
if [ ${#failed[@]} -gt 0 ]; then echo "failed: ${failed[*]}"; exit 1; fi
[ "$reports" -eq 0 ]
