#!/usr/bin/env bash
# Builds the configurator (Release, into build/) and starts it. It is built
# on Qt 5; ORDAN_QT_MAJOR=6 scripts/run.sh ... builds it on Qt 6 instead
# (into build-qt6-release/).
#   scripts/run.sh          the configurator, with the computer's serial ports
#   scripts/run.sh --demo [SIMULATOR OPTIONS]
#                           the configurator with a simulated module in its
#                           port list, to try it without hardware; options
#                           such as --chunks 4, --wrong-ack, --silent or
#                           --refuse CMD make the module misbehave
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

qt_major=${ORDAN_QT_MAJOR:-5}
case "$qt_major" in
5) build=$repo/build ;;
6) build=$repo/build-qt6-release ;;
*)
    echo "ORDAN_QT_MAJOR must be 5 or 6" >&2
    exit 2
    ;;
esac
target=ordan-configurator
binary=$build/ordan-configurator
arguments=()
case "${1:-}" in
'') ;;
--demo)
    target=ordan-configurator-demo
    binary=$build/tools/ordan-configurator-demo
    arguments=("${@:2}")
    ;;
*)
    echo "usage: $0 [--demo [simulator options]]" >&2
    exit 2
    ;;
esac

"$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF \
    -DORDAN_QT_MAJOR="$qt_major"
cmake --build "$build" --target "$target" -j "$(nproc)"
exec "$binary" "${arguments[@]}"
