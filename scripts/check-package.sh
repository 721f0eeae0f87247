#!/usr/bin/env bash
# Checks the Debian packages the way a maintainer and a user meet them:
# builds them (scripts/package.sh); runs lintian on each, which must report
# no error and no warning (its information and pedantic notes are shown);
# checks that ordan-cli depends on no Qt Gui or Widgets package; installs
# ordan-cli alone with apt-get, runs hardening-check on it, its --version and
# `ordan-cli ports`, verifies the bridge's and the gateway's service units
# (systemd-analyze), checks that the gateway tells systemd (libsystemd),
# finds the guides (README.md and docs/) under /usr/share/doc/ordan-cli/;
# then installs ordan-configurator, runs hardening-check on
# its two windows (ordan-configurator and ordan-site) and their --version,
# validates their desktop entries and AppStream files, looks for the manual
# pages, icons and guides; and removes both again.
# Needs root (apt-get).
#   scripts/check-package.sh
#   ORDAN_QT_MAJOR=6 scripts/check-package.sh    # the packages built on Qt 6
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The build directory of package.sh, which it is told.
if [[ ${ORDAN_QT_MAJOR:-5} == 5 ]]; then
    export ORDAN_PACKAGE_BUILD_DIR=${ORDAN_PACKAGE_BUILD_DIR:-$repo/build-package}
else
    export ORDAN_PACKAGE_BUILD_DIR=${ORDAN_PACKAGE_BUILD_DIR:-$repo/build-package-qt$ORDAN_QT_MAJOR}
fi
build=$ORDAN_PACKAGE_BUILD_DIR
packages=(ordan-cli ordan-configurator)

is_installed() {
    dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed
}
not_installed() { ! is_installed "$1"; }
for package in "${packages[@]}"; do
    if is_installed "$package"; then
        echo "$package is installed already: remove it first (apt-get remove $package)" >&2
        exit 1
    fi
done

listing=$("$repo/scripts/package.sh")
declare -A deb
while read -r file; do
    deb[$(dpkg-deb --field "$file" Package)]=$file
done < <(grep '\.deb$' <<<"$listing")
for package in "${packages[@]}"; do
    [[ -n ${deb[$package]:-} ]] || { echo "package.sh made no $package package" >&2; exit 1; }
    echo "Package: ${deb[$package]}"
done
if ((${#deb[@]} != ${#packages[@]})); then
    echo "package.sh made other packages than ${packages[*]}: ${!deb[*]}" >&2
    exit 1
fi
version=$(dpkg-deb --field "${deb[ordan-cli]}" Version)

scratch=$(mktemp -d)
installed=''
cleanup() {
    if [[ -n $installed ]]; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y "${packages[@]}" >/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
install_deb() {
    # apt-get wants a path, not a bare file name, to take it for a package file.
    installed=yes
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$1" >/dev/null
}

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
# Errors and warnings fail; the notes for information and the pedantic ones
# are shown for the maintainer to judge.
lintian_clean() {
    lintian --fail-on error,warning --info --pedantic "$1"
}
depends_on() {
    dpkg-deb --field "$1" Depends | grep -Eq "$2"
}
# Names the Qt Gui and Widgets packages it finds, and fails then.
recommends() {
    dpkg-deb --field "$1" Recommends | grep -Eq "$2"
}

depends_on_no_gui() {
    ! dpkg-deb --field "$1" Depends | grep -Eio 'libqt[0-9]*(gui|widgets)[^ ,|]*'
}

# hardening-check: every test must pass, except two that no program linked on
# Debian 12 can pass for reasons outside it. For those the build is checked
# instead:
# - Control flow integrity. The linker marks a program IBT and SHSTK only when
#   every object in it is marked; Debian 12's C start files (Scrt1.o, crti.o,
#   crtn.o) are not, so nothing linked here is, /usr/bin/ls neither. When a
#   probe program compiled with -fcf-protection comes out unmarked too, the
#   test is left out and every object file the package build compiled must
#   carry the marking.
# - "Fortify Source functions: no, only unprotected functions found!": every
#   call of a fortifiable function had sizes the compiler proved safe, so
#   glibc's fortified wrappers call the plain function (lintian reports it as
#   information only, hardening-no-fortify-functions). For that verdict the
#   test is left out, and the program's debugging symbols (its -dbgsym
#   package) must show that glibc's fortified headers were compiled in.
cat >"$scratch/probe.cpp" <<<'int main() { return 0; }'
# (No "readelf | grep -q" under pipefail: grep leaving early fails readelf.)
cfi_marked() {
    local notes
    notes=$(readelf -n "$1" 2>/dev/null) && [[ $notes == *'x86 feature: IBT, SHSTK'* ]]
}
cfi_unmarked_platform=''
if "${CXX:-g++}" -fcf-protection "$scratch/probe.cpp" -o "$scratch/probe" 2>/dev/null &&
    ! cfi_marked "$scratch/probe"; then
    cfi_unmarked_platform=yes
fi
objects_cfi_marked() {
    local object unmarked=0
    while IFS= read -r -d '' object; do
        cfi_marked "$object" || { echo "not marked IBT, SHSTK: $object" >&2; unmarked=1; }
    done < <(find "$build" -name '*.o' -print0)
    return $unmarked
}
compiled_fortified() {
    local program=$1 package=$2 file=${deb[$2]} id debug
    # ordan-cli_1.0.0_amd64.deb has ordan-cli-dbgsym_1.0.0_amd64.ddeb beside it.
    local rest=${file##*/"$package"_}
    id=$(readelf -n "$program" | awk '/Build ID:/ { print $3 }')
    dpkg-deb -x "${file%/*}/$package-dbgsym_${rest%.deb}.ddeb" "$scratch/$package-dbgsym"
    debug=$scratch/$package-dbgsym/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    # string.h, stdio.h and poll.h include these only under _FORTIFY_SOURCE.
    if ! readelf --debug-dump=rawline "$debug" >"$scratch/$package.lines" 2>/dev/null ||
        ! grep -Eq '(_fortified|stdio2|poll2)\.h' "$scratch/$package.lines"; then
        echo "no fortified glibc header in the debugging symbols of $program ($debug)" >&2
        return 1
    fi
}
hardened() {
    local program=$1 package=$2 report options=()
    report=$(hardening-check "$program") || true
    echo "$report"
    if [[ -n $cfi_unmarked_platform ]]; then
        options+=(--nocfprotection)
        echo " (control flow integrity: no program linked on this system is marked; the objects are checked)"
        objects_cfi_marked || return 1
    fi
    if grep -q 'Fortify Source functions: no, only unprotected functions found!' <<<"$report"; then
        options+=(--nofortify)
        echo " (fortify: every call was proved safe when compiled; the debugging symbols are checked)"
        compiled_fortified "$program" "$package" || return 1
    fi
    hardening-check --quiet "${options[@]}" "$program"
}

for package in "${packages[@]}"; do
    check "lintian on $package" lintian_clean "${deb[$package]}"
    check "$package: dependencies computed" depends_on "${deb[$package]}" 'libqt[56]serialport[56]'
    check "$package: the register's SQLite driver" depends_on "${deb[$package]}" 'libqt[56]sql[56]-sqlite'
    check "$package: the register's PostgreSQL driver recommended" recommends "${deb[$package]}" \
        'libqt[56]sql[56]-psql'
done
check "ordan-cli depends on no Qt Gui or Widgets package" depends_on_no_gui "${deb[ordan-cli]}"

# The guides under /usr/share/doc/PACKAGE/, as in the repository: README.md
# and every guide of docs/ gzipped, the screenshots as they are.
guides_shipped() {
    local package=$1 doc=/usr/share/doc/$1 file missing=0
    for file in "$repo/README.md" "$repo"/docs/*.md; do
        file=${file#"$repo"/}
        if [[ ! -f $doc/$file.gz ]] || ! gzip -dc "$doc/$file.gz" | cmp -s - "$repo/$file"; then
            echo "$doc/$file.gz: missing, or not $file" >&2
            missing=1
        fi
    done
    for file in "$repo"/docs/*.png; do
        file=${file#"$repo"/}
        cmp -s "$doc/$file" "$repo/$file" || { echo "$doc/$file: missing, or not $file" >&2; missing=1; }
    done
    return $missing
}

# The command-line tool alone, as on a machine without a desktop.
install_deb "${deb[ordan-cli]}"
check "ordan-cli installed without the window" not_installed ordan-configurator
check "/usr/bin/ordan-cli --version" version_is /usr/bin/ordan-cli "ordan-cli $version"
check "/usr/bin/ordan-cli ports" /usr/bin/ordan-cli ports
check "ordan-cli's register (SQLite)" /usr/bin/ordan-cli register export --csv \
    --register "$(mktemp -d)/register.sqlite"
check "manual page of ordan-cli" test -f /usr/share/man/man1/ordan-cli.1.gz
check "guides of ordan-cli" guides_shipped ordan-cli
check "hardening of ordan-cli" hardened /usr/bin/ordan-cli ordan-cli
# The service templates of the bridge and the gateway, as an instance would
# run: systemd-analyze verify loads each (its command, sandbox and manual
# page) and must say nothing.
unit_verifies() {
    local said
    said=$(systemd-analyze verify "$1" 2>&1) || { echo "$said" >&2; return 1; }
    [[ -z $said ]] || { echo "$said" >&2; return 1; }
}
check "service unit of ordan-cli bridge" test -f /lib/systemd/system/ordan-bridge@.service
check "systemd-analyze verify ordan-bridge@site1.service" unit_verifies ordan-bridge@site1.service
check "service unit of ordan-cli gateway" test -f /lib/systemd/system/ordan-gateway@.service
check "systemd-analyze verify ordan-gateway@site1.service" unit_verifies ordan-gateway@site1.service
# The gateway's service is Type=notify: the program must be able to say so.
check "ordan-cli: libsystemd for sd_notify" depends_on "${deb[ordan-cli]}" 'libsystemd0'

# Then the window beside it.
install_deb "${deb[ordan-configurator]}"
# Its two windows: the configurator and the site window, each with its
# manual page, desktop entry, icons and AppStream file.
for window in ordan-configurator ordan-site; do
    check "/usr/bin/$window --version" version_is /usr/bin/$window "$window $version"
    check "manual page of $window" test -f /usr/share/man/man1/$window.1.gz
    check "desktop entry of $window" desktop-file-validate /usr/share/applications/$window.desktop
    for size in 16 32 48 64 128 256; do
        check "icon of $window ${size}x${size}" \
            test -f /usr/share/icons/hicolor/${size}x${size}/apps/$window.png
    done
    check "hardening of $window" hardened /usr/bin/$window ordan-configurator
done
check "guides of ordan-configurator" guides_shipped ordan-configurator
check "AppStream files" appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml
check "AppStream file of the site window" test -f /usr/share/metainfo/*.site.metainfo.xml

installed=''
DEBIAN_FRONTEND=noninteractive apt-get remove -y "${packages[@]}" >/dev/null
check "removed again" test ! -e /usr/bin/ordan-configurator -a ! -e /usr/bin/ordan-cli \
    -a ! -e /usr/bin/ordan-site

if ((failures > 0)); then
    echo "package check: $failures failed" >&2
    exit 1
fi
echo "package check: all passed"
