#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need;
# with --packaging also those that building the Debian package needs
# (scripts/package.sh).
# Safe to run again and again: it only calls apt-get when something is missing,
# and prints nothing when everything is already there.
set -euo pipefail

# Qt SQL's headers come with qt6-base-dev; the SQLite driver (a plugin, the
# register of boards) and the PostgreSQL driver (a register shared on a
# server) are packages of their own. The PostgreSQL server itself is only for
# the tests, which start a throw-away one (scripts/pg-test-cluster.sh).
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libqt6sql6-psql postgresql
  libgl-dev libxcb1-dev
  libjpeg-dev libpng-dev libgif-dev libfreetype-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool openbox socat ser2net
  xfonts-terminus console-setup-linux fonts-dejavu-core
  ccache man-db desktop-file-utils appstream
  qt6-translations-l10n qt6-image-formats-plugins
)
# dpkg-buildpackage with debhelper, and the checks a Debian maintainer runs
# on the result.
packaging=(dpkg-dev debhelper lintian)

if [ "${1:-}" = "--packaging" ]; then packages+=("${packaging[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
