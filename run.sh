#!/usr/bin/env bash
# Builds the editor and starts it: ./run.sh [SETFILE]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja >/dev/null
cmake --build "$here/build" --target lentar -j"$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$here/build/bin/lentar" "$@"
fi
exec "$here/build/bin/lentar" "$@"
