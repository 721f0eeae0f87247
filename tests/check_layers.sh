#!/usr/bin/env bash
# tests/check_layers.sh SOURCE_DIR: cmake/CheckLayers.cmake passes the tree
# as it is, and fails, naming the fault, on each fault put into a copy of
# it: two files that include each other, a room's comment naming a unit
# the room lacks or missing one it has, a room using a room above it.
set -uo pipefail

source_dir=$(realpath "${1:?usage: $0 SOURCE_DIR}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# row NAME EXPECTED_EXIT EXPECTED_TEXT FAULT: a fresh copy, the fault (a
# shell command run in it), the check; its exit and its words are compared.
row() {
    local name=$1 expected=$2 text=$3 fault=$4 tree=$work/tree out rc
    rm -rf "$tree"
    mkdir -p "$tree"
    (cd "$source_dir" && cp -r --parents protocol engine settings window cli site tools \
        cmake/CheckLayers.cmake "$tree")
    (cd "$tree" && eval "$fault")
    out=$(cmake -DORDAN_SOURCE_DIR="$tree" -P "$tree/cmake/CheckLayers.cmake" 2>&1)
    rc=$?
    if { [[ $expected -eq 0 && $rc -ne 0 ]] || [[ $expected -ne 0 && $rc -eq 0 ]]; } ||
        ! grep -qF -- "$text" <<<"$out"; then
        echo "FAIL: $name (exit $rc)"
        printf '%s\n' "$out" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok: $name"
    fi
}

row "the tree as it is" 0 "no files in a circle" ":"
row "two files include each other" 1 \
    "files include each other: engine/bus/rtuframe -> engine/bus/busreport -> engine/bus/rtuframe" \
    'sed -i "1i #include \"engine/bus/busreport.h\"" engine/bus/rtuframe.cpp
     sed -i "1i #include \"engine/bus/rtuframe.h\"" engine/bus/busreport.h'
row "a room names a unit it lacks" 1 \
    "engine/link/CMakeLists.txt: names ghostlink, which is not in the room" \
    'sed -i "1a # the one that is gone (ghostlink)." engine/link/CMakeLists.txt'
row "a room does not name a unit it has" 1 \
    "engine/reach/CMakeLists.txt: its comment does not name reachledger" \
    'printf "%s\n" "#pragma once" >engine/reach/reachledger.h'
row "a room uses a room above it" 1 \
    "engine/bus/busclient.cpp: includes engine/jobs/writejob.h (engine/bus/ may not use engine/jobs/)" \
    'sed -i "1i #include \"engine/jobs/writejob.h\"" engine/bus/busclient.cpp'
row "a front end's form in the engine" 1 "includes the window's form ui_mainwindow.h" \
    'sed -i "1i #include \"ui_mainwindow.h\"" engine/jobs/readjob.cpp'

if ((failures > 0)); then
    echo "$failures case(s) failed"
    exit 1
fi
echo "every case passed"
