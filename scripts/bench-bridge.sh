#!/usr/bin/env bash
# Benchmark of ordan-cli bridge against socat (pty,link=PATH,raw,echo=0
# tcp:HOST:PORT), in the same run, against the same peer answering without
# any pacing (tests/bridgepeer.cpp), timed by tests/bridgebench.cpp:
#   - request/reply round trip (8 bytes out, 64 back): median and 99th
#     percentile over 1,000 exchanges;
#   - throughput of 1 MiB each way;
#   - after a peer restart (down for the restart delay), the time until
#     traffic flows again (socat ends at the disconnect).
# Runs inside a network namespace of its own (unshare -n, as root), the
# module at a documentation address on its loopback: nothing leaves the
# machine. Three rounds, the two bridges in turn; each figure is the median
# of the rounds. Builds ordan-cli into build/ (or $BUILD). Not a test: it
# prints figures and the goals met.
#   scripts/bench-bridge.sh
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$repo/build}
restart_ms=${ORDAN_BENCH_RESTART_MS:-500}
module=192.0.2.10 # TEST-NET-1, on the namespace's own loopback
rounds=${ORDAN_BENCH_ROUNDS:-3}

if [[ ${1:-} != --inside ]]; then
    if [[ $(id -u) -ne 0 ]]; then
        echo "bench-bridge.sh needs root for its network namespace (unshare -n)" >&2
        exit 1
    fi
    command -v socat >/dev/null || { echo "socat is missing: scripts/install-deps.sh" >&2; exit 1; }
    if [[ ! -f $build/CMakeCache.txt ]]; then
        cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF >/dev/null
    fi
    cmake --build "$build" -j2 --target ordan-cli >/dev/null
    tools=$(mktemp -d)
    trap 'rm -rf "$tools"' EXIT
    # The peer and the timer: plain POSIX programs of the tests.
    c++ -std=c++17 -O2 -o "$tools/peer" "$repo/tests/bridgepeer.cpp"
    c++ -std=c++17 -O2 -o "$tools/bench" "$repo/tests/bridgebench.cpp"
    if [[ -x $repo/scripts/netns.sh ]]; then
        "$repo/scripts/netns.sh" --addr "$module/24" -- \
            env BUILD="$build" TOOLS="$tools" bash "$0" --inside
    else
        unshare -n -- env BUILD="$build" TOOLS="$tools" NETNS_SETUP=1 bash "$0" --inside
    fi
    exit
fi

# Inside the namespace.
if [[ -n ${NETNS_SETUP:-} ]]; then
    ip link set lo up
    ip addr add "$module/24" dev lo
fi
cli=$BUILD/ordan-cli
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# run NAME PORT COMMAND...: one round of one bridge; its figures in
# $dir/NAME.N.
run() {
    local name=$1 port=$2 round=$3
    shift 3
    "$TOOLS/bench" --peer "$TOOLS/peer" --listen "$module:$port" --link "$dir/$name-port" \
        --restart-delay "$restart_ms" -- "$@" >"$dir/$name.$round"
}
for round in $(seq $rounds); do
    port=$((20000 + round * 2))
    run bridge "$port" "$round" "$cli" bridge "$module:$port" --link "$dir/bridge-port"
    port=$((port + 1))
    run socat "$port" "$round" socat "pty,link=$dir/socat-port,raw,echo=0" "tcp:$module:$port"
done

# median NAME KEY: the median over the rounds (a number), or the first
# round's text when it is not a number.
median() {
    local values
    values=$(cat "$dir/$1".* | sed -n "s/^$2=//p")
    if grep -qv '^[0-9.]*$' <<<"$values"; then
        head -1 <<<"$values"
    else
        sort -g <<<"$values" | sed -n "$(((rounds + 1) / 2))p"
    fi
}
for key in rtt_median_ms rtt_p99_ms up_mib_s down_mib_s back_ms; do
    declare "b_$key=$(median bridge $key)"
    declare "s_$key=$(median socat $key)"
done
gap_ms=1 # 3.5 characters at 115200 baud is 0.3 ms: the least gap, 1 ms
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v <= limit) ? "met" : "NOT met" }'; }
rtt_goal=$(awk -v s="$s_rtt_median_ms" -v g="$gap_ms" 'BEGIN { printf "%.3f", s + g + 0.5 }')
up_goal=$(awk -v s="$s_up_mib_s" 'BEGIN { printf "%.1f", s * 0.9 }')
down_goal=$(awk -v s="$s_down_mib_s" 'BEGIN { printf "%.1f", s * 0.9 }')
back_goal=$((restart_ms + 500))

printf '%-34s %-16s %-44s %s\n' "measure (median of $rounds rounds)" "ordan-cli bridge" socat goal
printf '%-34s %-16s %-44s %s\n' "round trip 8 B out, 64 B back" "${b_rtt_median_ms} ms" \
    "${s_rtt_median_ms} ms" \
    "<= socat + gap ${gap_ms} ms + 0.5 ms = ${rtt_goal} ms: $(verdict "$b_rtt_median_ms" "$rtt_goal")"
printf '%-34s %-16s %-44s %s\n' "round trip, 99th percentile" "${b_rtt_p99_ms} ms" \
    "${s_rtt_p99_ms} ms" ""
printf '%-34s %-16s %-44s %s\n' "1 MiB port -> module" "${b_up_mib_s} MiB/s" \
    "${s_up_mib_s} MiB/s" \
    ">= 0.9x socat = ${up_goal}: $(verdict "$up_goal" "$b_up_mib_s")"
printf '%-34s %-16s %-44s %s\n' "1 MiB module -> port" "${b_down_mib_s} MiB/s" \
    "${s_down_mib_s} MiB/s" \
    ">= 0.9x socat = ${down_goal}: $(verdict "$down_goal" "$b_down_mib_s")"
if [[ $b_back_ms =~ ^[0-9]+$ ]]; then
    back_verdict=$(verdict "$b_back_ms" "$back_goal")
    b_back_ms="$b_back_ms ms"
else
    back_verdict="NOT met"
fi
printf '%-34s %-16s %-44s %s\n' "flowing again after a restart" "$b_back_ms" \
    "$s_back_ms" "<= restart ${restart_ms} ms + 500 ms: $back_verdict"
echo "(the peer restarts by closing its connections and not listening for ${restart_ms} ms;"
echo " the port at 115200 8N1, the bridge's gap 1 ms; the module at $module in a private namespace)"
