#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs them.
#   scripts/fuzz.sh                 list the targets
#   scripts/fuzz.sh TARGET [SECS]   run one target (default 300 seconds)
#   scripts/fuzz.sh all [SECS]      run every target in turn
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
build="$here/build-fuzz"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DLENTAR_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

targets=$(cd "$build/bin" && ls fuzz_* 2>/dev/null || true)
if [ $# -eq 0 ]; then
  echo "Fuzz targets:"; printf '  %s\n' $targets; exit 0
fi
secs="${2:-300}"
run_one() {
  local t="$1"
  local work="$here/fuzz-work/$t"
  mkdir -p "$work"
  local seeds=()
  [ -d "$here/fuzz/corpus/$t" ] && seeds+=("$here/fuzz/corpus/$t")
  echo "== $t for ${secs}s"
  "$build/bin/$t" -max_total_time="$secs" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" "${seeds[@]}"
}
if [ "$1" = all ]; then
  for t in $targets; do run_one "$t"; done
else
  run_one "$1"
fi
