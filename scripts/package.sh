#!/usr/bin/env bash
# Builds the Debian packages of Lentar into build/package/:
#   scripts/package.sh
# dpkg-buildpackage builds them from debian/ (debhelper, CMake) with Debian's
# hardening flags: lentar_VERSION_ARCH.deb and its debugging symbols,
# lentar-dbgsym_VERSION_ARCH.deb. It runs in a copy of the sources under
# build/, so that nothing is written beside the source tree.
#
# The Maintainer field is LENTAR_MAINTAINER from the environment, else from
# build/'s CMake cache (cmake -B build -DLENTAR_MAINTAINER="Name <address>"),
# else the project's neutral default; LENTAR_HOMEPAGE likewise. The tests are left to ./test.sh; give
# DEB_BUILD_OPTIONS (e.g. an empty one) to run them in the package build too.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh" --packaging

out="$here/build/package"
work="$here/build/package-source"
rm -rf "$work"
mkdir -p "$work/lentar" "$out"
tar -C "$here" --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . |
  tar -C "$work/lentar" -xf -

cached() { [ -f "$here/build/CMakeCache.txt" ] && sed -n "s/^$1:STRING=//p" "$here/build/CMakeCache.txt"; }
export LENTAR_MAINTAINER="${LENTAR_MAINTAINER:-$(cached LENTAR_MAINTAINER)}"
export LENTAR_HOMEPAGE="${LENTAR_HOMEPAGE:-$(cached LENTAR_HOMEPAGE)}"
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS-nocheck parallel=$(nproc)}"

(cd "$work/lentar" && dpkg-buildpackage -us -uc -b)

rm -f "$out"/lentar*.deb "$out"/lentar*.changes "$out"/lentar*.buildinfo
mv "$work"/lentar*.deb "$work"/lentar*.changes "$work"/lentar*.buildinfo "$out"/
rm -rf "$work"
ls -1 "$out"/*.deb
