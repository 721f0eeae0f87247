#!/usr/bin/env bash
# Builds the Debian packages with CPack from one Release build without tests
# in build-package/ (or $ORDAN_PACKAGE_BUILD_DIR), installed under /usr:
#   ordan-cli           the command-line tool (Qt Core, SerialPort, Network, SQL)
#   ordan-configurator  the window, its desktop entry, icons, AppStream file
# each with its -dbgsym .ddeb of debugging symbols. Compiled and linked as
# Debian builds its own packages: the flags of dpkg-buildflags with every
# hardening feature (-O2 -g, _FORTIFY_SOURCE=2, the strong stack protector,
# relro, bind-now, and stack clash and control-flow protection, which the
# dpkg of Debian 12 does not give yet and later ones do). Dependencies are
# computed from the shared libraries each program links to.
# Prints the paths of the .deb files, one a line, last.
#   scripts/package.sh
#   ORDAN_QT_MAJOR=6 scripts/package.sh    # on Qt 6, in build-package-qt6/
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qt_major=${ORDAN_QT_MAJOR:-5}
if [[ $qt_major == 5 ]]; then
    build=${ORDAN_PACKAGE_BUILD_DIR:-$repo/build-package}
else
    build=${ORDAN_PACKAGE_BUILD_DIR:-$repo/build-package-qt$qt_major}
fi

"$repo/scripts/install-deps.sh"

# From the repository, so that -ffile-prefix-map writes its paths as ".".
cd "$repo"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
features=$(dpkg-buildflags --query-features hardening)
has_feature() { grep -qx "Feature: $1" <<<"$features"; }
# CMake reads no CPPFLAGS: the preprocessor's flags go with the compiler's.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
if ! has_feature stackclash; then
    case $arch in
    amd64 | arm64 | armhf | armel | i386 | ppc64el | riscv64 | s390x)
        cxxflags+=" -fstack-clash-protection" ;;
    esac
fi
if ! has_feature branch; then
    case $arch in
    amd64 | i386) cxxflags+=" -fcf-protection" ;;
    arm64) cxxflags+=" -mbranch-protection=standard" ;;
    esac
fi

# CMAKE_CXX_FLAGS_RELEASE without its -O3: the optimization is Debian's -O2.
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DORDAN_QT_MAJOR="$qt_major" \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
    -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/*.deb "$build"/*.ddeb
(cd "$build" && cpack -G DEB >/dev/null)
for deb in "$build"/*.deb; do
    dpkg-deb --field "$deb" >&2
    echo >&2
done
ls "$build"/*.deb
