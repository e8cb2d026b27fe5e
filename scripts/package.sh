#!/usr/bin/env bash
# Builds the Debian package of Lentar into build/package/:
#   scripts/package.sh
# The package installs under /usr; its library dependencies are computed by
# dpkg-shlibdeps.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja >/dev/null
cmake --build "$here/build" -j"$(nproc)"
cd "$here/build"
cpack -G DEB --config CPackConfig.cmake
ls -1 "$here"/build/package/*.deb
