#!/usr/bin/env bash
# The static check: clang-tidy with the project's .clang-tidy, then cppcheck
# for what clang-tidy does not look for (arguments out of range, results
# ignored of Qt's own functions). Fails on any finding. A finding is fixed,
# or silenced where it stands with its reason (NOLINT(check) for
# clang-tidy, cppcheck-suppress for cppcheck).
#
#   scripts/static-check.sh BUILD            every source of the project
#   scripts/static-check.sh --changed BUILD  the sources changed since the
#                                            branch left main (and not yet
#                                            committed): the quick tier
#
# BUILD is a configured and built tree (the generated headers must exist);
# its compile_commands.json says how each source is compiled. The test
# command configures build-test/ with CMAKE_EXPORT_COMPILE_COMMANDS.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
changed=
if [[ ${1:-} == --changed ]]; then
    changed=1
    shift
fi
build=${1:?usage: scripts/static-check.sh [--changed] BUILD}
build=$(cd "$build" && pwd)
database=$build/compile_commands.json
[[ -f $database ]] || {
    echo "static-check: $database is missing: configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2
    exit 2
}

# The project's own sources in the database (not the generated ones).
mapfile -t sources < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$database" |
    grep -E "^$repo/(protocol|engine|settings|window|cli|site|tools|tests)/" | sort -u)
if [[ -n $changed ]]; then
    base=$(git -C "$repo" merge-base HEAD origin/main 2>/dev/null ||
        git -C "$repo" merge-base HEAD main 2>/dev/null || git -C "$repo" rev-parse HEAD)
    mapfile -t touched < <({
        git -C "$repo" diff --name-only "$base"
        git -C "$repo" ls-files --others --exclude-standard
    } | sed "s|^|$repo/|" | sort -u)
    # A changed header brings in the sources beside it.
    mapfile -t sources < <(for source in "${sources[@]}"; do
        for file in "${touched[@]}"; do
            if [[ $file == "$source" || $file == "${source%.cpp}.h" ]]; then
                echo "$source"
                break
            fi
        done
    done)
fi
if ((${#sources[@]} == 0)); then
    echo "static-check: no source to check"
    exit 0
fi

echo "== clang-tidy: ${#sources[@]} sources"
tidy_log=$build/clang-tidy.log
# run-clang-tidy takes file patterns: each source, exactly.
patterns=()
for source in "${sources[@]}"; do patterns+=("^$(printf '%s' "$source" | sed 's/[.+]/\\&/g')\$"); done
run-clang-tidy -p "$build" -j "$(nproc)" -quiet "${patterns[@]}" >"$tidy_log" 2>&1 || true
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$tidy_log" | grep -E ': (warning|error): ' | sort -u || true)
if [[ -n $findings ]]; then
    printf '%s\n' "$findings"
    echo "static-check: clang-tidy found $(printf '%s\n' "$findings" | wc -l) (see $tidy_log)" >&2
    exit 1
fi

echo "== cppcheck"
cppcheck_log=$build/cppcheck.log
list=$(mktemp)
trap 'rm -f "$list"' EXIT
printf '%s\n' "${sources[@]}" >"$list"
cppcheck --project="$database" --file-filter="$repo/*" -i"$build" --enable=warning,performance,portability \
    --library=qt --std=c++17 --inline-suppr --quiet -j "$(nproc)" \
    --suppress=preprocessorErrorDirective --suppress=useInitializationList \
    --suppress='*:/usr/*' --error-exitcode=1 $(if [[ -n $changed ]]; then printf -- '--file-list=%s' "$list"; fi) \
    2>"$cppcheck_log" >/dev/null || {
    cat "$cppcheck_log"
    echo "static-check: cppcheck found what is above" >&2
    exit 1
}
echo "static-check: clean (${#sources[@]} sources)"
