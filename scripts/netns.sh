#!/usr/bin/env bash
# scripts/netns.sh [--addr CIDR]... [--route ROUTE]... -- CMD...
#
# Runs CMD in a network namespace of its own, where only lo is up, holding
# 127.0.0.1/8 and the addresses given (--addr 10.20.0.31/24 puts a site's
# module address on lo). --route adds a route there (e.g. --route "blackhole
# 10.99.0.0/24": a subnet whose packets vanish, with no answer).
#
# Every test and benchmark that connects to a module's address runs through
# it: a site's addresses (10.x, 192.168.x) belong to real sites, and inside
# the namespace they are on this machine's lo and nothing else is reachable,
# so no packet leaves the machine.
#
# As root the namespace is made with `unshare -n`, otherwise with
# `unshare -rn` (a user namespace that maps the caller to root). When no
# namespace can be made, or its addresses cannot be set, the script says why
# and exits 125 without running CMD: it never runs CMD outside. Otherwise the
# exit code is CMD's.
set -euo pipefail

me=netns.sh
die() {
    echo "$me: $*" >&2
    exit 125
}

addrs=()
routes=()
while (($#)); do
    case $1 in
    --addr)
        (($# >= 2)) || die "--addr needs a CIDR"
        addrs+=("$2")
        shift 2
        ;;
    --route)
        (($# >= 2)) || die "--route needs a route (e.g. \"blackhole 10.99.0.0/24\")"
        routes+=("$2")
        shift 2
        ;;
    --)
        shift
        break
        ;;
    *) die "usage: $0 [--addr CIDR]... [--route ROUTE]... -- CMD..." ;;
    esac
done
(($#)) || die "no command given (after --)"

# Inside the namespace: lo up with the addresses and routes, then CMD.
if [[ ${ORDAN_NETNS_STAGE:-} == inside ]]; then
    unset ORDAN_NETNS_STAGE
    command -v ip >/dev/null || die "ip not found (Debian package iproute2)"
    why=$(ip link set lo up 2>&1) || die "cannot bring lo up: $why"
    for addr in "${addrs[@]}"; do
        why=$(ip addr add "$addr" dev lo 2>&1) || die "cannot put $addr on lo: $why"
    done
    for route in "${routes[@]}"; do
        # shellcheck disable=SC2086 # a route is words: "blackhole 10.99.0.0/24"
        why=$(ip route add $route 2>&1) || die "cannot add route \"$route\": $why"
    done
    # A namespace that shows any interface but lo is not private: refuse.
    others=$(ip -o link show | awk -F': ' '$2 != "lo" { print $2 }')
    [[ -z $others ]] || die "the namespace is not private: it shows $others"
    exec "$@"
fi

if [[ $(id -u) -eq 0 ]]; then
    flags=(-n)
else
    flags=(-r -n)
fi
why=$(unshare "${flags[@]}" -- true 2>&1) ||
    die "no network namespace can be made here (unshare ${flags[*]}): ${why:-refused}"

args=()
for addr in "${addrs[@]}"; do
    args+=(--addr "$addr")
done
for route in "${routes[@]}"; do
    args+=(--route "$route")
done
export ORDAN_NETNS_STAGE=inside
exec unshare "${flags[@]}" -- bash "$(readlink -f "${BASH_SOURCE[0]}")" "${args[@]}" -- "$@"
