#!/usr/bin/env bash
# Acknowledged uploads over a faulty line, at the real reply deadline and line
# speed: lentar-boardsim paces every byte, delays every reply and ignores a
# share of the requests; lentar-cli uploads a 600-byte image (another one each
# time) for every seed. A failed upload is allowed; an upload reported as done
# must have left exactly its image on the board.
#   scripts/upload-faults.sh [FIRST_SEED [LAST_SEED [DELAY_MS [DROP]]]]
# Defaults: seeds 1..40, 1900 ms, 0.3. Needs a built tree (build/bin).
set -uo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
bin="$here/build/bin"
first="${1:-1}" last="${2:-40}" delay="${3:-1900}" drop="${4:-0.3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ok=0 failed=0 wrong=0
for seed in $(seq "$first" "$last"); do
  rm -f "$work"/upload-*.bin
  "$bin/lentar-boardsim" --link "$work/board" --pace --delay-ms "$delay" --drop "$drop" \
    --seed "$seed" --save-dir "$work" 2>/dev/null &
  sim=$!
  for _ in $(seq 100); do [ -e "$work/board" ] && break; sleep 0.05; done
  head -c 600 /dev/urandom >"$work/image.bin"
  printf '[Settings]\r\n' >"$work/lentar.ini"
  if "$bin/lentar-cli" board --port "$work/board" --ini "$work/lentar.ini" \
       upload "$work/image.bin" >/dev/null 2>&1; then
    newest=$(ls -v "$work"/upload-*.bin 2>/dev/null | tail -1)
    if [ -n "$newest" ] && cmp -s "$newest" "$work/image.bin"; then
      ok=$((ok + 1)); echo "seed $seed: done, the board holds the image"
    else
      wrong=$((wrong + 1)); echo "seed $seed: REPORTED DONE, BUT THE BOARD HOLDS ANOTHER IMAGE"
    fi
  else
    failed=$((failed + 1)); echo "seed $seed: failed"
  fi
  kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null
done
echo "done $ok, failed $failed, false successes $wrong"
[ "$wrong" -eq 0 ]
