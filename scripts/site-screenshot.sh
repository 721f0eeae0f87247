#!/usr/bin/env bash
# Takes the picture of the site window in docs/commissioning.md: builds
# ordan-site and the module simulator (Release, into build/), starts
# simulated modules on four ports named as by-id names are, 70 characters
# long (one module refusing its IP address, one slow, two rows on one port),
# runs the window on a virtual X display of a field laptop (1366x768) with
# --start, and photographs it while the third port waits for its next
# module. Writes docs/site-screenshot.png or the given file. With
# ORDAN_QT_MAJOR=6 set, the window built on Qt 6 (build-qt6-release/); BUILD
# names another build directory.
#   scripts/site-screenshot.sh [out.png]
set -euo pipefail
# Its runs leave nothing in the user's site register: an empty one in
# memory for each process.
export ORDAN_REGISTER=sqlite::memory:

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$repo/docs/site-screenshot.png}
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out") # before any cd

"$repo/scripts/install-deps.sh"
build=$repo/build
[[ ${ORDAN_QT_MAJOR:-5} == 5 ]] || build=$repo/build-qt6-release
build=${BUILD:-$build}
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF \
    -DORDAN_QT_MAJOR="${ORDAN_QT_MAJOR:-5}" >/dev/null
cmake --build "$build" --target ordan-site ordan-module-sim -j "$(nproc)" >/dev/null

# The module paths show in the picture: a short directory.
site=$(mktemp -d /tmp/siteXXXX)
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work" "$site"
}
trap cleanup EXIT

# The ports as adapters of one make name them, the serial number near the end.
mkdir -p "$site/serial/by-id"
port() { echo "$site/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285B$1-if00-port0"; }

# sim N MAC [OPTIONS...]: a simulated module on port N.
sim() {
    local n=$1 mac=$2
    shift 2
    "$build/tools/ordan-module-sim" --link "$(port "$n")" --mac "$mac" "$@" \
        >"$work/$n.out" 2>/dev/null &
    pids+=($!)
}
sim 1 00:1A:2B:3C:4D:5E
sim 2 00:1A:2B:3C:4D:61 --refuse "CHANGE IP:"
sim 3 00:1A:2B:3C:4D:64
sim 4 00:1A:2B:3C:4D:67 --delay 250
for name in 1 2 3 4; do
    for _ in $(seq 100); do
        [[ -s $work/$name.out ]] && break
        sleep 0.05
    done
done

cat >"$site/plan.csv" <<EOF
port,ip,mask,gateway,tcp_port,parity,speed,stop_bits,packet_timeout
$(port 1),10.20.0.31,,,10001,,,,
$(port 2),10.20.0.32,,,10002,,,,
$(port 3),10.20.0.33,,,10003,,,,
$(port 3),10.20.0.34,,,10004,,,,
$(port 4),10.20.0.35,,,10005,,,,500
EOF
# The RS-485 settings and the network shared by the site.
cat >"$site/base.TRset" <<EOF
[General]
MASK=255.255.255.0
GATEWAY=10.20.0.1
SPEED_RS485=5
STOP_BIT=1
PARITY=3
TIMEOUT_RESPONSE=1000
EOF

Xvfb -displayfd 3 -screen 0 1366x768x24 -br -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
display=:$(head -n 1 "$work/display")

(cd "$site" && DISPLAY=$display "$build/site/ordan-site" plan.csv --from base.TRset \
    --start >"$work/app.log" 2>&1) &
pids+=($!)

# The moment: three rows done (1, 2, the first of 3), port 3 waiting for
# its next module, 4 (slow) still going.
record=$site/plan-record.csv
for _ in $(seq 200); do
    [[ -f $record && $(wc -l <"$record") -ge 4 ]] && break
    sleep 0.05
done
sleep 0.3
import -display "$display" -window root "$work/root.png"
mogrify -bordercolor black -border 1 "$work/root.png"
mogrify -crop "$(identify -format '%@' "$work/root.png")" +repage "$work/root.png"
mkdir -p "$(dirname "$out")"
cp "$work/root.png" "$out"
echo "Wrote $out ($(identify -format '%wx%h' "$out"))"
