#!/usr/bin/env bash
# The whole verdict on a commit, the same every time it runs: installs what
# is missing, builds everything (Debug, build-test/) and runs the test suite
# headless through ctest; builds every test program again with
# AddressSanitizer and UBSan (build-asan/) and runs the suite there; builds
# everything on Qt 6, plain and sanitized (build-qt6/, build-qt6-asan/), and
# runs the suite in each; builds the Debian package, installs it, runs the
# installed programs and removes it; then replays the fuzz corpora and runs
# each fuzz target for a fixed count from a fixed seed. Exits non-zero on any
# failure.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

"$repo/scripts/install-deps.sh"

# suite NAME BUILD_DIR [CMAKE_ARGS...]: configure, build, run ctest.
suite() {
    local name=$1 build=$2
    shift 2
    echo "== $name"
    cmake -S "$repo" -B "$build" -DORDAN_BUILD_TESTS=ON "$@" >/dev/null
    cmake --build "$build" -j "$jobs"
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error) |
        tee "$build/ctest-summary.log"
}

suite "test suite" "$repo/build-test" -DCMAKE_BUILD_TYPE=Debug
suite "test suite under AddressSanitizer and UBSan" "$repo/build-asan" \
    -DCMAKE_BUILD_TYPE=Debug -DORDAN_SANITIZE=ON
suite "test suite on Qt 6" "$repo/build-qt6" -DCMAKE_BUILD_TYPE=Debug -DORDAN_QT_MAJOR=6
suite "test suite on Qt 6 under AddressSanitizer and UBSan" "$repo/build-qt6-asan" \
    -DCMAKE_BUILD_TYPE=Debug -DORDAN_QT_MAJOR=6 -DORDAN_SANITIZE=ON

# The Debian package: built, installed, its programs run, removed again.
bash "$repo/scripts/check-package.sh"

bash "$repo/scripts/fuzz.sh" --ci

# The suites' summaries again, below the fuzzers' output.
echo
for build in build-test build-asan build-qt6 build-qt6-asan; do
    echo "$build:"
    grep -E 'tests passed|tests failed|Total Test time' "$repo/$build/ctest-summary.log"
done
