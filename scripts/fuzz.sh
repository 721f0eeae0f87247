#!/usr/bin/env bash
# The fuzz targets (libFuzzer with AddressSanitizer and UBSan), built with
# clang in a build of their own (build-fuzz/; with ORDAN_QT_MAJOR=6 set, on
# Qt 6 in build-fuzz-qt6/).
#
#   scripts/fuzz.sh --replay              every corpus file once (the quick
#                                         tier of scripts/test.sh)
#   scripts/fuzz.sh --ci                  what CI runs: every corpus file once,
#                                         then a fixed-seed run of a fixed count
#   scripts/fuzz.sh TARGET [SECONDS]      open-ended fuzzing for developers
#                                         (TARGET: settings, reply, bus or
#                                         mbap;
#                                         default 600 s)
#
# Seeds live in tests/fuzz/corpus/<target>/ and are only read. An open-ended
# run keeps what it finds in build-fuzz/found-<target>/ and writes a crashing
# input to build-fuzz/artifacts/crash-…: copy that file into the target's
# corpus under a name that says what it found, fix the fault, and CI replays
# it from then on.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
qt_major=${ORDAN_QT_MAJOR:-5}
default_build=$root/build-fuzz
[[ $qt_major == 5 ]] || default_build=$root/build-fuzz-qt$qt_major
build=${ORDAN_FUZZ_BUILD_DIR:-$default_build}

declare -A binary=([settings]=fuzz_settings_load [reply]=fuzz_reply_path [bus]=fuzz_bus_reply
    [mbap]=fuzz_mbap_request)
declare -A max_len=([settings]=4096 [reply]=8192 [bus]=4096 [mbap]=4096)
# Runs of the fixed-seed pass: about a minute each on a 2-core machine.
declare -A ci_runs=([settings]=40000 [reply]=40000 [bus]=40000 [mbap]=40000)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORDAN_BUILD_TESTS=ON -DORDAN_BUILD_FUZZERS=ON -DORDAN_QT_MAJOR="$qt_major" >/dev/null
cmake --build "$build" --target fuzz_settings_load fuzz_reply_path fuzz_bus_reply \
    fuzz_mbap_request -j"$(nproc)"
mkdir -p "$build/artifacts"
# The targets run where there is no display: neither may need Qt Gui or Widgets.
cmake -P "$root/cmake/CheckHeadless.cmake" "$build/tests/fuzz_settings_load" \
    "$build/tests/fuzz_reply_path" "$build/tests/fuzz_bus_reply" \
    "$build/tests/fuzz_mbap_request" >/dev/null

export QT_QPA_PLATFORM=offscreen
# Qt seeds its hash tables at random; fixed, a seeded run repeats itself.
export QT_HASH_SEED=0
# The settings target writes every input to a file: memory-backed scratch
# space doubles its pace.
if [[ -d /dev/shm && -w /dev/shm ]]; then
    export TMPDIR=/dev/shm
fi

# A limit on single allocations shows a huge reservation as a failure even
# where the system would grant it.
common=(-malloc_limit_mb=256 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$build/artifacts/")

# Runs the fuzzer with its output kept in a log; on failure the log's end.
run_logged() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "fuzz: FAILED, see $log and $build/artifacts/" >&2
        return 1
    fi
}

replay() {
    local target=$1 exe=$build/tests/${binary[$1]} seeds=$root/tests/fuzz/corpus/$1
    local log=$build/fuzz-$target.log files=()
    mapfile -t files < <(find "$seeds" -type f | sort)
    echo "== $target: replaying ${#files[@]} corpus files"
    run_logged "$log" "$exe" "${common[@]}" "${files[@]}"
}

run_ci() {
    local target=$1 seeds=$root/tests/fuzz/corpus/$1
    local exe=$build/tests/${binary[$1]} log=$build/fuzz-$target.log
    replay "$target"
    echo "== $target: fixed-seed run of ${ci_runs[$target]} inputs"
    local scratch
    scratch=$(mktemp -d)
    run_logged "$log" "$exe" "${common[@]}" -seed=1 -runs="${ci_runs[$target]}" \
        -max_len="${max_len[$target]}" -print_final_stats=1 "$scratch" "$seeds" || {
        rm -rf "$scratch"
        return 1
    }
    rm -rf "$scratch"
    grep -E '^Done' "$log"
}

case ${1:-} in
--ci)
    run_ci settings
    run_ci reply
    run_ci bus
    run_ci mbap
    echo "fuzz: every target clean"
    exit 0
    ;;
--replay)
    replay settings
    replay reply
    replay bus
    replay mbap
    echo "fuzz: every corpus replayed clean"
    exit 0
    ;;
esac

target=${1:?usage: scripts/fuzz.sh --replay | --ci | settings|reply|bus|mbap [SECONDS]}
[[ -n ${binary[$target]:-} ]] || { echo "fuzz.sh: unknown target $target (settings, reply, bus or mbap)" >&2; exit 2; }
seconds=${2:-600}
found=$build/found-$target
mkdir -p "$found"
exec "$build/tests/${binary[$target]}" "${common[@]}" -max_total_time="$seconds" \
    -max_len="${max_len[$target]}" -print_final_stats=1 "$found" "$root/tests/fuzz/corpus/$target"
