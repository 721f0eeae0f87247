#!/usr/bin/env bash
# Fuzzes the loading of settings files: configures a separate clang build with
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, builds only the
# fuzz target and runs it for a bounded time over the seed corpus.
#
#   scripts/fuzz-settings.sh [SECONDS]     (default 60)
#
# New inputs go to a scratch corpus, crashes to build-fuzz/artifacts/; the
# seeds in tests/fuzz/corpus/settings/ are only read.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORDAN_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORDAN_BUILD_TESTS=ON -DORDAN_BUILD_FUZZERS=ON >/dev/null
cmake --build "$build" --target fuzz_settings_load -j"$(nproc)"

found=$(find "$build" -name fuzz_settings_load -type f -perm -u+x | head -n 1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"

export QT_QPA_PLATFORM=offscreen
# Every input is written to a file, saved over and read again: memory-backed
# scratch space doubles the pace.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
# A limit on single allocations shows a huge reservation as a failure even
# where the system would grant it.
"$found" -max_total_time="$seconds" -malloc_limit_mb=256 -rss_limit_mb=2048 \
    -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/" "$work" "$root/tests/fuzz/corpus/settings"
