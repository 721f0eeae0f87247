#!/usr/bin/env bash
# Builds the configurator (Release, into build/) and starts it.
#   scripts/run.sh          the configurator, with the computer's serial ports
#   scripts/run.sh --demo [SIMULATOR OPTIONS]
#                           the configurator with a simulated module in its
#                           port list, to try it without hardware; options
#                           such as --chunks 4, --wrong-ack, --silent or
#                           --refuse CMD make the module misbehave
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

target=ordan-configurator
binary=$repo/build/ordan-configurator
arguments=()
case "${1:-}" in
'') ;;
--demo)
    target=ordan-configurator-demo
    binary=$repo/build/tools/ordan-configurator-demo
    arguments=("${@:2}")
    ;;
*)
    echo "usage: $0 [--demo [simulator options]]" >&2
    exit 2
    ;;
esac

"$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$repo/build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF
cmake --build "$repo/build" --target "$target" -j "$(nproc)"
exec "$binary" "${arguments[@]}"
