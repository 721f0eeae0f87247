#!/usr/bin/env bash
# Builds everything (Debug, into build-test/) and runs the whole test suite
# headless through ctest, then the settings-file fuzzer when it is there.
# Exits non-zero on any failure.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build-test

"$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DORDAN_BUILD_TESTS=ON
cmake --build "$build" -j "$(nproc)"

(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error) |
    tee "$build/ctest-summary.log"

if [[ -f $repo/scripts/fuzz-settings.sh ]]; then
    bash "$repo/scripts/fuzz-settings.sh"
    # The test suite's summary again, below the fuzzer's long output.
    echo
    grep -E 'tests passed|tests failed|Total Test time' "$build/ctest-summary.log"
fi
