#!/usr/bin/env bash
# The test command, in two tiers. Both install what is missing first and
# exit non-zero on any failure; each gives the same verdict every time it
# runs on the same commit.
#
#   scripts/test.sh          the quick tier, for every change: builds
#                            everything on Qt 5 (Debug, build-test/), runs the
#                            whole test suite headless through ctest (tests
#                            side by side), and replays every file of both
#                            fuzz corpora through its fuzz target
#                            (scripts/fuzz.sh --replay). A few minutes on two
#                            cores once the packages are installed.
#   scripts/test.sh --full   the whole verdict, what CI runs (.ci/run): the
#                            suite as above (one test at a time) and the
#                            benchmark once on its build (scripts/bench.sh
#                            --smoke, no figure judged), again with
#                            AddressSanitizer and UBSan (build-asan/), on Qt 6
#                            plain and sanitized (build-qt6/, build-qt6-asan/);
#                            the Debian package built, installed, its programs
#                            run and removed; then the fuzz corpora replayed
#                            and each fuzz target run for a fixed count from a
#                            fixed seed (scripts/fuzz.sh --ci).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

tier=quick
case "${1:-}" in
'') ;;
--full) tier=full ;;
*)
    echo "usage: $0 [--full]" >&2
    exit 2
    ;;
esac

"$repo/scripts/install-deps.sh"

# suite NAME BUILD_DIR CTEST_JOBS [CMAKE_ARGS...]: configure, build, run ctest.
suite() {
    local name=$1 build=$2 ctest_jobs=$3
    shift 3
    echo "== $name"
    cmake -S "$repo" -B "$build" -DORDAN_BUILD_TESTS=ON "$@" >/dev/null
    cmake --build "$build" -j "$jobs"
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error \
        -j "$ctest_jobs") | tee "$build/ctest-summary.log"
}

# The suites' summaries again, below the fuzzers' output.
summaries() {
    echo
    for build in "$@"; do
        echo "$build:"
        grep -E 'tests passed|tests failed|Total Test time' "$repo/$build/ctest-summary.log"
    done
}

if [[ $tier == quick ]]; then
    start=$SECONDS
    # The tests mostly wait on their simulated modules, so they run side by
    # side: each has its own pseudo-terminals and scratch files.
    suite "test suite" "$repo/build-test" "$jobs" -DCMAKE_BUILD_TYPE=Debug
    bash "$repo/scripts/fuzz.sh" --replay
    summaries build-test
    echo "quick tier passed in $((SECONDS - start)) s; scripts/test.sh --full runs everything"
    exit 0
fi

suite "test suite" "$repo/build-test" 1 -DCMAKE_BUILD_TYPE=Debug
# The benchmark once, on the build just tested, its figures not judged: it
# must run to its end.
echo "== benchmark, one round (scripts/bench.sh --smoke)"
BUILD="$repo/build-test" bash "$repo/scripts/bench.sh" --smoke
suite "test suite under AddressSanitizer and UBSan" "$repo/build-asan" 1 \
    -DCMAKE_BUILD_TYPE=Debug -DORDAN_SANITIZE=ON
suite "test suite on Qt 6" "$repo/build-qt6" 1 -DCMAKE_BUILD_TYPE=Debug -DORDAN_QT_MAJOR=6
suite "test suite on Qt 6 under AddressSanitizer and UBSan" "$repo/build-qt6-asan" 1 \
    -DCMAKE_BUILD_TYPE=Debug -DORDAN_QT_MAJOR=6 -DORDAN_SANITIZE=ON

# The Debian package: built, installed, its programs run, removed again.
bash "$repo/scripts/check-package.sh"

bash "$repo/scripts/fuzz.sh" --ci

summaries build-test build-asan build-qt6 build-qt6-asan
