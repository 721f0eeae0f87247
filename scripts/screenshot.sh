#!/usr/bin/env bash
# Takes a picture of the configurator's window as it starts: builds the
# configurator (Release, into build/), runs it on a virtual X display and
# writes the window's image to docs/screenshot.png or to the given file.
# With ORDAN_QT_MAJOR=6 set, the window built on Qt 6 (build-qt6-release/).
#   scripts/screenshot.sh [out.png]
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$repo/docs/screenshot.png}
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out") # before any cd

"$repo/scripts/install-deps.sh"
build=$repo/build
[[ ${ORDAN_QT_MAJOR:-5} == 5 ]] || build=$repo/build-qt6-release
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF \
    -DORDAN_QT_MAJOR="${ORDAN_QT_MAJOR:-5}"
cmake --build "$build" --target ordan-configurator -j "$(nproc)"

work=$(mktemp -d)
xvfb_pid=''
app_pid=''
cleanup() {
    [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -br -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
display=:$(head -n 1 "$work/display")

DISPLAY=$display "$build/ordan-configurator" >"$work/app.log" 2>&1 &
app_pid=$!

# Without a window manager the window is the only thing on the black root
# window. Wait until it is there and two pictures in a row are the same.
capture() {
    timeout 20 import -display "$display" -window root "$1"
    mogrify -bordercolor black -border 1 "$1" # so the window never touches a corner
}
previous=''
for _ in $(seq 60); do
    sleep 0.5
    kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log" >&2; exit 1; }
    capture "$work/root.png"
    box=$(identify -format '%@' "$work/root.png")
    width=${box%%x*}
    signature=$(identify -format '%#' "$work/root.png")
    if ((width > 100)) && [[ $signature == "$previous" ]]; then
        mkdir -p "$(dirname "$out")"
        mogrify -crop "$box" +repage "$work/root.png"
        cp "$work/root.png" "$out"
        echo "Wrote $out ($(identify -format '%wx%h' "$out"))"
        exit 0
    fi
    previous=$signature
done
echo "The configurator's window did not appear" >&2
exit 1
