#!/usr/bin/env bash
# tests/netns_private.sh NETNS_SCRIPT: scripts/netns.sh gives a private
# namespace. One row a line: what it is, the script's options, the command
# run inside, and what must hold of its output and exit code.
set -uo pipefail

netns=${1:?usage: $0 path/to/netns.sh}
failures=0
passed=0

# row NAME EXPECTED_EXIT CHECK -- NETNS_ARGS...: runs netns.sh with the
# arguments; CHECK is a bash expression on $out (stdout and stderr) and $rc.
row() {
    local name=$1 expected=$2 check=$3
    shift 4
    out=$(bash "$netns" "$@" 2>&1)
    rc=$?
    if [[ $rc -eq $expected ]] && eval "$check"; then
        passed=$((passed + 1))
        echo "PASS   : $name"
    else
        failures=$((failures + 1))
        echo "FAIL!  : $name (exit $rc, expected $expected)"
        printf '%s\n' "$out" | sed 's/^/    /'
    fi
}

# The machine's own IPv4 addresses but loopback's: none of them may be seen
# inside.
outside=$(ip -o -4 addr show | awk '$2 != "lo" { sub("/.*", "", $4); print $4 }')
absent_outside() {
    local a
    for a in $outside; do
        grep -qwF "$a" <<<"$out" && return 1
    done
    return 0
}

row "the address given is on lo" 0 \
    'grep -q "lo *inet 10.20.0.31/24" <<<"$out"' \
    -- --addr 10.20.0.31/24 -- ip -o -4 addr show
row "two addresses, both on lo" 0 \
    'grep -q "inet 10.20.0.31/24" <<<"$out" && grep -q "inet 10.20.1.5/24" <<<"$out"' \
    -- --addr 10.20.0.31/24 --addr 10.20.1.5/24 -- ip -o -4 addr show
row "only lo is there" 0 \
    '[[ $(grep -c . <<<"$out") -eq 1 ]] && grep -q "^1: lo:" <<<"$out"' \
    -- --addr 10.20.0.31/24 -- ip -o link show
row "no address of the machine's is seen" 0 \
    'absent_outside && ! grep -v " lo " <<<"$out" | grep -q inet' \
    -- --addr 10.20.0.31/24 -- ip -o addr show
row "the route given is there" 0 \
    'grep -q "^blackhole 10.99.0.0/24" <<<"$out"' \
    -- --route "blackhole 10.99.0.0/24" -- ip route show
row "the exit code is the command's" 7 'true' \
    -- -- sh -c 'exit 7'
row "a bad address fails before the command" 125 \
    'grep -q "cannot put nonsense on lo" <<<"$out" && ! grep -q ran <<<"$out"' \
    -- --addr nonsense -- echo ran

# No namespace to be had: an unshare that refuses, first on PATH.
refusing=$(mktemp -d)
trap 'rm -rf "$refusing"' EXIT
printf '#!/bin/sh\necho "unshare: unshare failed: Operation not permitted" >&2\nexit 1\n' \
    >"$refusing/unshare"
chmod +x "$refusing/unshare"
PATH="$refusing:$PATH" row "no namespace: fails with the reason, never runs outside" 125 \
    'grep -q "Operation not permitted" <<<"$out" && ! grep -q ran <<<"$out"' \
    -- -- echo ran

echo "$passed passed, $failures failed"
((failures == 0))
