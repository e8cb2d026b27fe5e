#!/usr/bin/env bash
# The editor on a real X server, ended from outside while the emulation
# window runs: SIGTERM ends it within five seconds, lentar.ini is written
# beside the program and the unsaved set is kept; the next start offers it
# back ("Внимание!").
#   end_on_signal_x11.sh BUILD_DIR
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -uo pipefail
build="$1"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || exit 77
work=$(mktemp -d)
server=""
cleanup() {
  [ -n "${pid:-}" ] && kill -9 "$pid" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses: Xvfb refuses one whose lock file exists.
for display in $(seq 90 140); do [ -e "/tmp/.X$display-lock" ] || break; done
Xvfb ":$display" -screen 0 1366x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
server=$!
export DISPLAY=":$display"
# The tests run with the offscreen platform by default; this one needs the X server.
export QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$work/run"
cp "$build/bin/lentar" "$work/run/lentar"
cp -r "$build/bin/Fonts" "$work/run/Fonts"
printf 'Hello board\r\n' >"$work/run/a.txt"
export XDG_RUNTIME_DIR="$work"

# Waits up to 20 s for a window of the editor whose name matches $1.
window() {
  for _ in $(seq 200); do
    found=$(xdotool search --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -1)
    [ -n "$found" ] && { echo "$found"; return 0; }
    sleep 0.1
  done
  return 1
}

(cd "$work/run" && exec ./lentar a.txt) >"$work/first.log" 2>&1 &
pid=$!
main=$(window "a.txt") || { echo "the editor's window did not appear"; cat "$work/first.log"; exit 1; }
xdotool windowfocus --sync "$main" 2>/dev/null
xdotool key --window "$main" End
xdotool type --window "$main" --delay 20 "new words"
window 'a.txt\*' >/dev/null || { echo "typing did not change the set"; exit 1; }
xdotool key --window "$main" F9
window "Табло бегущей строка|Табло бегущей строки" >/dev/null ||
  { echo "the emulation window did not open"; exit 1; }

kill -TERM "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "SIGTERM: the editor still runs after 5 s"; exit 1; fi
wait "$pid"
pid=""
[ -s "$work/run/lentar.ini" ] || { echo "lentar.ini was not written"; cat "$work/first.log"; exit 1; }
grep -q "new words" "$work/run/Recovery/unsaved.txt" 2>/dev/null ||
  { echo "the unsaved set was not kept"; ls -R "$work/run"; exit 1; }

(cd "$work/run" && exec ./lentar) >"$work/second.log" 2>&1 &
pid=$!
window "Внимание!" >/dev/null || { echo "the kept set was not offered back"; cat "$work/second.log"; exit 1; }
exit 0
