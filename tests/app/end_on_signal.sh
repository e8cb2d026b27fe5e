#!/usr/bin/env bash
# The editor ended from outside: SIGTERM (and SIGHUP) while it shows a
# question (the missing font archive of an empty folder) end it within five
# seconds, with lentar.ini written beside the program.
#   end_on_signal.sh BUILD_DIR
set -uo pipefail
build="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for signal in TERM HUP; do
  rm -rf "$work/$signal"; mkdir -p "$work/$signal"
  cp "$build/bin/lentar" "$work/$signal/lentar"
  ( cd "$work/$signal" && QT_QPA_PLATFORM=offscreen exec ./lentar ) >"$work/$signal.log" 2>&1 &
  pid=$!
  sleep 2
  kill -"$signal" "$pid"
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "SIG$signal: the editor still runs after 5 s"; kill -9 "$pid"; status=1; continue
  fi
  wait "$pid"
  if [ ! -s "$work/$signal/lentar.ini" ]; then
    echo "SIG$signal: lentar.ini was not written"; cat "$work/$signal.log"; status=1
  fi
done
exit $status
