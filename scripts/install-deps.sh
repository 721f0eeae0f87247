#!/usr/bin/env bash
# Installs the Debian 12 packages the configurator needs to be built (on Qt 5
# and on Qt 6), run, tested headless, fuzzed, photographed, packaged and
# timed. Installs only what is missing; when not run as root, prints the
# command to run as root and fails.
set -euo pipefail

packages=(
    qtbase5-dev libqt5serialport5-dev  # Qt 5 widgets and serial port
    qt6-base-dev qt6-base-dev-tools    # Qt 6 widgets, moc/uic/rcc (the Qt 6 build)
    qt6-serialport-dev qt6-qpa-plugins # Qt 6 serial port, offscreen platform
    libqt5serialbus5-dev qt6-serialbus-dev # Modbus PDUs of the bus behind a module
    libqt5sql5-sqlite libqt6sql6-sqlite    # the site register: SQLite on a laptop
    libqt5sql5-psql libqt6sql6-psql        # and PostgreSQL for a team
    postgresql                             # the register's tests start a cluster of their own
    libgl-dev                          # OpenGL headers Qt 6's CMake files ask for
    qttools5-dev qttools5-dev-tools    # Qt 5 Linguist: the site window's translation
    qt6-tools-dev qt6-l10n-tools       # Qt 6 Linguist: the same on Qt 6
    qttranslations5-l10n               # Qt's own texts in Russian (dialogs, buttons)
    qt6-translations-l10n              # and on Qt 6
    cmake g++ make                     # the build
    clang clang-14 libclang-rt-14-dev  # the settings-file fuzzer (libFuzzer)
    xvfb xauth imagemagick             # screenshots on a virtual display
    fonts-liberation fonts-dejavu-core # a Times-compatible serif with Cyrillic
    help2man dpkg-dev file             # manual pages; the .deb and its dependencies
    lintian devscripts                 # the packages' checks (lintian, hardening-check)
    desktop-file-utils appstream       # checks of the desktop entry and AppStream file
    libx11-dev libxdamage-dev          # the start-up benchmark's window watcher
    dbus-daemon                        # and its session bus
    iproute2                           # ip: lo's addresses in a test's network namespace (netns.sh)
    mbpoll libmodbus-dev pkg-config    # the bridge's test: a Modbus RTU master, a libmodbus slave
    python3-pymodbus                   # the bus test's devices nobody here wrote (exceptions 1, 2)
    socat util-linux                   # the bridge's benchmark beside socat (unshare)
    gensio-bin                         # and beside gensiot
    stress-ng                          # the suite under load (scripts/test.sh --under-load)
    python3-pymodbus                   # the gateway's benchmark beside a pymodbus forwarder
    clang-tidy cppcheck                # the static check
    systemd                            # systemd-analyze verify on the services' units
    libsystemd-dev                     # the gateway's service tells systemd it is ready (sd_notify)
    openssl                            # the gateway's TLS test: certificates and a TLS client
    python3-minimal                    # the guides' link check (scripts/check-links.sh)
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    if [[ $status != installed ]]; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

install_line="DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Run as root, then start this script again:" >&2
    echo "    apt-get update && $install_line" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
