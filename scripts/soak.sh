#!/usr/bin/env bash
# Runs the fault property test (tests/tst_faults.cpp) for as many seeds as
# asked, to show that no misbehaving module ends in a false "verified":
#   scripts/soak.sh [SEEDS]        seeds 1..SEEDS (default 200)
#   scripts/soak.sh FIRST-LAST     a range of seeds
# Each seed commissions eight simulated modules with random faults on four
# ports (about 5 s). Builds what is missing into build/ (or $BUILD). A
# failing seed prints its modules, their faults and what ordan-cli said;
# ORDAN_FAULT_SEEDS=N build/tests/tst_faults repeats it.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$repo/build}
seeds=${1:-200}
[[ $seeds == *-* ]] || seeds="1-$seeds"

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DORDAN_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target tst_faults ordan-cli ordan-module-sim >/dev/null

start=$(date +%s)
status=0
ORDAN_FAULT_SEEDS=$seeds "$build/tests/tst_faults" -silent || status=$?
echo "seeds $seeds: $(( $(date +%s) - start )) s, $([[ $status == 0 ]] && echo 'no false verified' || echo 'FAILED')"
exit "$status"
