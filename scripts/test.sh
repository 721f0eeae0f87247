#!/usr/bin/env bash
# The test command, in tiers. Each installs what is missing first, exits
# non-zero on any failure, gives the same verdict every time it runs on the
# same commit, and prints the time each phase took.
#
#   scripts/test.sh          the quick tier, for every change: builds
#                            everything on Qt 5 (Debug, build-test/), runs the
#                            whole test suite headless through ctest (tests
#                            side by side), runs the static check over the
#                            sources changed since the branch left main
#                            (scripts/static-check.sh --changed), replays
#                            every file of the fuzz corpora through its fuzz
#                            target (scripts/fuzz.sh --replay), and checks
#                            that every link of README.md and docs/ resolves
#                            (scripts/check-links.sh). A few minutes on two
#                            cores once the packages are installed.
#   scripts/test.sh --full   the whole verdict, what CI runs (.ci/run): the
#                            suite as above, the static check over every
#                            source, the suite again with AddressSanitizer and
#                            UBSan (build-asan/), on Qt 6 plain and sanitized
#                            (build-qt6/, build-qt6-asan/), those three as
#                            unity builds; the Debian package built,
#                            installed, its programs run and removed; the
#                            benchmark once on the plain build
#                            (scripts/bench.sh --smoke, no figure judged); then the
#                            fuzz corpora replayed and each fuzz target run
#                            for a fixed count from a fixed seed
#                            (scripts/fuzz.sh --ci); the guides' links
#                            checked. Within 45 minutes on two cores.
#   scripts/test.sh --under-load [N]
#                            the quick tier's suite N times (default 5) with
#                            both cores kept busy by stress-ng --cpu 2; fails
#                            at the first run that does not pass, so a pass
#                            is N in a row. A verdict must not depend on load.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

tier=quick
rounds=5
case "${1:-}" in
'') ;;
--full) tier=full ;;
--under-load)
    tier=load
    rounds=${2:-5}
    [[ $rounds =~ ^[1-9][0-9]*$ ]] || {
        echo "usage: $0 --under-load [N]: N is a count of runs" >&2
        exit 2
    }
    ;;
-h | --help)
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
*)
    echo "usage: $0 [--full | --under-load [N]]" >&2
    exit 2
    ;;
esac

# phase NAME COMMAND...: runs a phase and notes how long it took.
phases=()
phase() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    phases+=("$(printf '%5d s  %s' $((SECONDS - start)) "$name")")
    echo "-- $name: $((SECONDS - start)) s"
    return "$status"
}
print_phases() {
    echo
    echo "phases:"
    printf '  %s\n' "${phases[@]}"
}

phase "installs" "$repo/scripts/install-deps.sh"

# build NAME BUILD_DIR [CMAKE_ARGS...]: configure and build.
build() {
    local name=$1 build=$2
    shift 2
    echo "== $name"
    cmake -S "$repo" -B "$build" -DORDAN_BUILD_TESTS=ON "$@" >/dev/null
    cmake --build "$build" -j "$jobs"
}

# run_suite BUILD_DIR: ctest, tests side by side: they mostly wait on their
# simulated modules, and each has its own pseudo-terminals, scratch files
# and servers.
run_suite() {
    local build=$1
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error \
        -j "$jobs") | tee "$build/ctest-summary.log"
}

# suite NAME BUILD_DIR [CMAKE_ARGS...]: the build, then its suite, each a
# phase.
suite() {
    local name=$1 build=$2
    shift 2
    phase "build: $name" build "$name" "$build" "$@"
    phase "suite: $name" run_suite "$build"
}

# The suites' summaries again, below the fuzzers' output.
summaries() {
    echo
    for build in "$@"; do
        echo "$build:"
        grep -E 'tests passed|tests failed|Total Test time' "$repo/$build/ctest-summary.log"
    done
}

# The plain build, its compile commands kept for the static check.
plain=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)

start=$SECONDS
if [[ $tier == quick ]]; then
    # Seconds, and nothing to build: first, so a broken link shows at once.
    phase "links of the guides" bash "$repo/scripts/check-links.sh"
    suite "test suite" "$repo/build-test" "${plain[@]}"
    phase "static check (changed sources)" bash "$repo/scripts/static-check.sh" --changed \
        "$repo/build-test"
    phase "fuzz corpora replayed" bash "$repo/scripts/fuzz.sh" --replay
    summaries build-test
    print_phases
    echo "quick tier passed in $((SECONDS - start)) s; scripts/test.sh --full runs everything"
    exit 0
fi

if [[ $tier == load ]]; then
    phase "build: test suite" build "test suite" "$repo/build-test" "${plain[@]}"
    stress-ng --cpu 2 --timeout 0 --quiet &
    stress=$!
    trap 'kill "$stress" 2>/dev/null; wait "$stress" 2>/dev/null' EXIT
    for ((round = 1; round <= rounds; round++)); do
        echo "== under load: run $round of $rounds"
        if ! phase "suite under load: run $round" run_suite "$repo/build-test"; then
            echo "under load: run $round of $rounds failed" >&2
            exit 1
        fi
    done
    print_phases
    echo "under load: the suite passed $rounds times in a row in $((SECONDS - start)) s"
    exit 0
fi

# The plain build keeps one source a unit, as a developer builds, so a
# missing include shows; the other three are unity builds, which take a
# third less time.
phase "links of the guides" bash "$repo/scripts/check-links.sh"
suite "test suite" "$repo/build-test" "${plain[@]}"
# clang-tidy and cppcheck over every source: any finding fails.
phase "static check" bash "$repo/scripts/static-check.sh" "$repo/build-test"
# The benchmark once, on the build just tested, its figures not judged: it
# must run to its end.
phase "benchmark smoke" env BUILD="$repo/build-test" bash "$repo/scripts/bench.sh" --smoke
suite "test suite under AddressSanitizer and UBSan" "$repo/build-asan" \
    -DCMAKE_BUILD_TYPE=Debug -DORDAN_SANITIZE=ON -DCMAKE_UNITY_BUILD=ON
suite "test suite on Qt 6" "$repo/build-qt6" -DCMAKE_BUILD_TYPE=Debug -DORDAN_QT_MAJOR=6 \
    -DCMAKE_UNITY_BUILD=ON
suite "test suite on Qt 6 under AddressSanitizer and UBSan" "$repo/build-qt6-asan" \
    -DCMAKE_BUILD_TYPE=Debug -DORDAN_QT_MAJOR=6 -DORDAN_SANITIZE=ON -DCMAKE_UNITY_BUILD=ON

# The Debian package: built, installed, its programs run, removed again.
phase "package" bash "$repo/scripts/check-package.sh"

phase "fuzzing" bash "$repo/scripts/fuzz.sh" --ci

summaries build-test build-asan build-qt6 build-qt6-asan
print_phases
echo "full tier passed in $((SECONDS - start)) s"
