#!/usr/bin/env bash
# Builds the configurator (Release, into build/) and starts it.
#   scripts/run.sh          the configurator, with the computer's serial ports
#   scripts/run.sh --demo   the configurator with a simulated module in its
#                           port list, to try it without hardware
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

target=ordan-configurator
binary=$repo/build/ordan-configurator
case "${1:-}" in
'') ;;
--demo)
    target=ordan-configurator-demo
    binary=$repo/build/tools/ordan-configurator-demo
    ;;
*)
    echo "usage: $0 [--demo]" >&2
    exit 2
    ;;
esac

"$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$repo/build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF
cmake --build "$repo/build" --target "$target" -j "$(nproc)"
exec "$binary"
