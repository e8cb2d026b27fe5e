#!/usr/bin/env bash
# Makes the pictures of the windows, to look at them or for documentation:
# the screenshot programs (tests/screenshots/) and the window tests built a
# second time with their picture slots, on a virtual X display. Not part of
# ./test.sh.
#   scripts/screenshots.sh [FOLDER]     the PNG files go to FOLDER
#                                       (default /tmp/lentar-shots)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
build="$here/build"
shots="$(realpath -m "${1:-/tmp/lentar-shots}")"
mkdir -p "$shots"

programs=()
for src in "$here"/tests/screenshots/*.cpp; do programs+=("$(basename "$src" .cpp)"); done
# Window tests built again with the slot that saves their pictures.
slots=("loadform_screenshots screenshotWhenAsked"
       "tagdialogs_screenshots screenshots"
       "imgform_screenshots shotsOfTheEditorAndTheImportQuestion")
# The simulated board the board window talks to, the fonts the previews use.
targets=("${programs[@]}" lentar-boardsim lentar_default_fonts)
for s in "${slots[@]}"; do targets+=("${s%% *}"); done

[ -f "$build/build.ninja" ] || cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

run() {
  echo "== $*"
  # An operator's laptop screen, with a window manager placing and framing
  # the windows as a desktop does.
  (cd "$build/tests" && LENTAR_SHOTS_DIR="$shots" QT_QPA_PLATFORM=xcb \
     xvfb-run -a -s "-screen 0 1366x768x24" \
     sh -c 'openbox >/dev/null 2>&1 & sleep 0.5; "$0" "$@"; status=$?; kill $! 2>/dev/null; exit $status' \
     "$build/bin/$1" "${@:2}")
}
for p in "${programs[@]}"; do run "$p"; done
for s in "${slots[@]}"; do run $s; done
echo "Pictures in $shots:"
ls "$shots"
