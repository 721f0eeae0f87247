#!/usr/bin/env bash
# Checks the Debian package the way a user meets it: builds it
# (scripts/package.sh), installs it with apt-get, runs the installed
# programs' --version, validates the installed desktop entry and AppStream
# file, looks for the manual pages and icons, and removes the package again.
# Needs root (apt-get).
#   scripts/check-package.sh
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
package=ordan-configurator

deb=$("$repo/scripts/package.sh" | tail -n 1)
echo "Package: $deb"

installed=''
cleanup() {
    if [[ -n $installed ]]; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y "$package" >/dev/null
    fi
}
trap cleanup EXIT

# apt-get wants a path, not a bare file name, to take it for a package file.
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >/dev/null
installed=yes

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}
version_is() {
    local program=$1 expected=$2 got
    got=$("$program" --version) || return 1
    [[ $got == "$expected" ]] || { echo "$program --version said: $got" >&2; return 1; }
}

version=$(dpkg-deb --field "$deb" Version)
files=$(dpkg -L "$package")
check "/usr/bin/ordan-configurator --version" \
    version_is /usr/bin/ordan-configurator "ordan-configurator $version"
if grep -qx /usr/bin/ordan-cli <<<"$files"; then
    check "/usr/bin/ordan-cli --version" /usr/bin/ordan-cli --version
    check "manual page of ordan-cli" test -f /usr/share/man/man1/ordan-cli.1.gz
fi
check "manual page of ordan-configurator" test -f /usr/share/man/man1/ordan-configurator.1.gz
check "desktop entry" desktop-file-validate /usr/share/applications/ordan-configurator.desktop
check "AppStream file" appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml
for size in 16 32 48 64 128 256; do
    check "icon ${size}x${size}" \
        test -f /usr/share/icons/hicolor/${size}x${size}/apps/ordan-configurator.png
done
check "dependencies computed" bash -c "dpkg-deb --field '$deb' Depends | grep -q libqt5serialport5"

installed=''
DEBIAN_FRONTEND=noninteractive apt-get remove -y "$package" >/dev/null
check "removed again" test ! -e /usr/bin/ordan-configurator

if ((failures > 0)); then
    echo "package check: $failures failed" >&2
    exit 1
fi
echo "package check: all passed"
