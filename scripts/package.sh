#!/usr/bin/env bash
# Builds the Debian package of the configurator with CPack: a Release build
# without tests in build-package/ (or $ORDAN_PACKAGE_BUILD_DIR), installed
# under /usr, dependencies computed from the shared libraries it links to.
# Prints the path of the .deb on its last line.
#   scripts/package.sh
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORDAN_PACKAGE_BUILD_DIR:-$repo/build-package}

"$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/*.deb)
dpkg-deb --field "$deb" >&2
echo "$deb"
