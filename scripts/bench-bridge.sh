#!/usr/bin/env bash
# Benchmark of ordan-cli bridge against socat (pty,link=PATH,raw,echo=0
# tcp:HOST:PORT) and gensio's gensiot (-i 'pty(link=PATH,raw)'
# tcp,HOST,PORT), in the same run, side by side:
#   - Modbus polls: a libmodbus master (tests/bridgemaster.cpp) on the
#     port, at 19200 8E1, reads 10 holding registers 200 times from a
#     libmodbus slave (tests/modbusslave.cpp) on the bus of the simulated
#     module (ordan-module-sim --network, its bus paced at 19200 8E1, its
#     packet time-out 5 ms): the median and the 99th percentile of a poll;
#   - against a peer answering without any pacing (tests/bridgepeer.cpp),
#     timed by tests/bridgebench.cpp: the round trip of a whole Modbus
#     request (8 bytes out, 64 back; median and 99th percentile of 1,000),
#     the throughput of 1 MiB each way (the median of 9 transfers: one
#     takes a few milliseconds), and after a peer restart (down for
#     the restart delay) the time until traffic flows again (socat and
#     gensiot end at the disconnect);
#   - programs opening the bridge's port one after the other, each a new
#     process (tests/bridgeopens.cpp), setting 19200 8E1 as libmodbus does
#     and closing it without putting the settings back: of 200, how many
#     settings glibc refused when each sets and closes at once, the next
#     starting 0, 0.2 or 1 ms after it ended, and when each exchanges a
#     request first; and a libmodbus master (tests/bridgemaster.cpp) started
#     40 times, each opening at 19200 8E1 and polling once. These run at the
#     ordinary priority, as a bridge in the field does (a build beside it
#     makes the figure a busy machine's).
# Runs inside a network namespace of its own (scripts/netns.sh, as root),
# the module at a documentation address on its loopback: nothing leaves the
# machine. Three rounds, the programs in turn, all at one real-time priority
# where the system allows it; each figure is the median of the rounds, and
# the throughput from the module is also compared round by round (the
# median of the bridge's ratio to socat in each round). Builds ordan-cli and the simulator into build/ (or $BUILD;
# configured as Release when it is new). Not a test: it prints figures and
# the goals met.
#   scripts/bench-bridge.sh
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$repo/build}
restart_ms=${ORDAN_BENCH_RESTART_MS:-500}
module=192.0.2.10 # TEST-NET-1, on the namespace's own loopback
rounds=${ORDAN_BENCH_ROUNDS:-3}
polls=${ORDAN_BENCH_POLLS:-200}
programs=(bridge socat gensiot)

if [[ ${1:-} != --inside ]]; then
    if [[ $(id -u) -ne 0 ]]; then
        echo "bench-bridge.sh needs root for its network namespace" >&2
        exit 1
    fi
    for tool in socat gensiot pkg-config; do
        command -v $tool >/dev/null || { echo "$tool is missing: scripts/install-deps.sh" >&2; exit 1; }
    done
    pkg-config --exists libmodbus || { echo "libmodbus is missing: scripts/install-deps.sh" >&2; exit 1; }
    if [[ ! -f $build/CMakeCache.txt ]]; then
        cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF >/dev/null
    fi
    cmake --build "$build" -j2 --target ordan-cli ordan-module-sim >/dev/null
    tools=$(mktemp -d)
    trap 'rm -rf "$tools"' EXIT
    # The peer, the timer, the master and the slave: plain programs of the
    # tests.
    c++ -std=c++17 -O2 -o "$tools/peer" "$repo/tests/bridgepeer.cpp"
    c++ -std=c++17 -O2 -o "$tools/bench" "$repo/tests/bridgebench.cpp"
    c++ -std=c++17 -O2 -o "$tools/opens" "$repo/tests/bridgeopens.cpp"
    read -ra modbus <<<"$(pkg-config --cflags --libs libmodbus)"
    c++ -std=c++17 -O2 -o "$tools/master" "$repo/tests/bridgemaster.cpp" "${modbus[@]}"
    c++ -std=c++17 -O2 -o "$tools/slave" "$repo/tests/modbusslave.cpp" "${modbus[@]}"
    # Every program measured at one real-time priority where the system
    # allows it: on a shared machine other work then does not decide the
    # figures (they wait on input most of the time).
    priority=()
    chrt -f 10 true 2>/dev/null && priority=(chrt -f 10)
    "${priority[@]}" "$repo/scripts/netns.sh" --addr "$module/24" -- \
        env BUILD="$build" TOOLS="$tools" bash "$0" --inside
    exit
fi

# Inside the namespace.
cli=$BUILD/ordan-cli
sim=$BUILD/tools/ordan-module-sim
dir=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT

# command NAME PORT LINK: the command line of one program bridging LINK to
# the module's PORT.
command_of() {
    case $1 in
    bridge) echo "$cli bridge $module:$2 --link $3" ;;
    socat) echo "socat pty,link=$3,raw,echo=0 tcp:$module:$2" ;;
    gensiot) echo "gensiot -i pty(link=$3,raw) tcp,$module,$2" ;;
    esac
}

# The module with its bus, and the slave on it, for the polls.
"$sim" --link "$dir/console" --network --bus "$dir/bus" --set "ip=$module" \
    --set "SPEED RS485=19200" --set parity=even --set "timeout data=5" 2>"$dir/sim.err" &
pids+=($!)
for _ in $(seq 100); do [[ -L $dir/bus ]] && break; sleep 0.1; done
"$TOOLS/slave" "$dir/bus" >/dev/null &
pids+=($!)
sleep 0.5

# poll_round NAME ROUND: 200 polls through one program; its figures in
# $dir/NAME.poll.ROUND.
poll_round() {
    local name=$1 round=$2 link=$dir/$1-tty
    read -ra line <<<"$(command_of "$name" 502 "$link")"
    "${line[@]}" >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 100); do [[ -L $link ]] && break; sleep 0.05; done
    # The connection up (gensiot ends when the program closes its port: one
    # program a run).
    sleep 0.5
    "$TOOLS/master" "$link" --polls "$polls" >"$dir/$name.poll.$round" ||
        echo "poll_median_ms=failed" >"$dir/$name.poll.$round"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sleep 0.3 # the module lets its one client go
}

# exchanges NAME ROUND: one round against the peer; its figures in
# $dir/NAME.peer.ROUND.
exchanges() {
    local name=$1 round=$2 port=$((20000 + round * 3 + $3)) link=$dir/$1-port
    read -ra line <<<"$(command_of "$name" "$port" "$link")"
    # A program that loses bytes fails the transfer: its figures of that
    # round are missing, the others stand.
    if ! "$TOOLS/bench" --peer "$TOOLS/peer" --listen "$module:$port" --link "$link" \
        --restart-delay "$restart_ms" -- "${line[@]}" >"$dir/$name.peer.$round" \
        2>"$dir/bench.err"; then
        sed "s/^/$name, round $round: /" "$dir/bench.err" >>"$dir/failures"
    fi
}

for round in $(seq "$rounds"); do
    for i in "${!programs[@]}"; do
        poll_round "${programs[$i]}" "$round"
        exchanges "${programs[$i]}" "$round" "$i"
    done
done

# The bridge's port opened by program after program, at the ordinary
# priority: the echo of a module without pacing behind it.
ordinary=()
chrt -o 0 true 2>/dev/null && ordinary=(chrt -o 0)
"${ordinary[@]}" "$sim" --link "$dir/console2" --network --bus echo --no-pacing \
    --set "ip=$module" --set "PORT TCP=503" --set "timeout data=1" 2>"$dir/sim2.err" &
pids+=($!)
sleep 0.5
"${ordinary[@]}" "$cli" bridge "$module:503" --link "$dir/opens-tty" >/dev/null 2>&1 &
bridge_opens=$!
for _ in $(seq 100); do [[ -L $dir/opens-tty ]] && break; sleep 0.05; done
sleep 0.5
opens_of() { "${ordinary[@]}" "$TOOLS/opens" "$dir/opens-tty" "$@" | sed -n 's/^failed_settings=//p'; }
opens_0=$(opens_of --count 200)
opens_200=$(opens_of --count 200 --pause-us 200)
opens_1000=$(opens_of --count 200 --pause-us 1000)
opens_exchange=$(opens_of --count 200 --exchange --reply 8)
kill "$bridge_opens" 2>/dev/null || true
wait "$bridge_opens" 2>/dev/null || true
# A libmodbus master started 40 times on the polls' bridge, each polling once.
"${ordinary[@]}" "$cli" bridge "$module:502" --link "$dir/master-tty" >/dev/null 2>&1 &
bridge_master=$!
for _ in $(seq 100); do [[ -L $dir/master-tty ]] && break; sleep 0.05; done
sleep 0.5
masters_opened=0
for _ in $(seq 40); do
    if "${ordinary[@]}" "$TOOLS/master" "$dir/master-tty" --polls 1 >/dev/null 2>"$dir/master.err" ||
        ! grep -q "Invalid argument" "$dir/master.err"; then
        masters_opened=$((masters_opened + 1))
    fi
done
kill "$bridge_master" 2>/dev/null || true
wait "$bridge_master" 2>/dev/null || true

# median NAME KEY: the median over the rounds (a number), or the first
# round's text when it is not a number.
median() {
    local values
    values=$(cat "$dir/$1".* | sed -n "s/^$2=//p")
    if [[ -z $values ]]; then
        echo failed
    elif grep -qv '^[0-9.]*$' <<<"$values"; then
        head -1 <<<"$values"
    else
        sort -g <<<"$values" | sed -n "$((($(wc -l <<<"$values") + 1) / 2))p"
    fi
}
for name in "${programs[@]}"; do
    for key in poll_median_ms poll_p99_ms poll_failed; do
        declare "${name}_$key=$(median "$name.poll" $key)"
    done
    for key in rtt_median_ms rtt_p99_ms up_mib_s down_mib_s back_ms; do
        declare "${name}_$key=$(median "$name.peer" $key)"
    done
done
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v <= limit) ? "met" : "NOT met" }'; }
# The bridge's throughput from the module against socat's, round by round.
down_ratio=$(for round in $(seq "$rounds"); do
    b=$(sed -n 's/^down_mib_s=//p' "$dir/bridge.peer.$round")
    s=$(sed -n 's/^down_mib_s=//p' "$dir/socat.peer.$round")
    [[ -n $b && -n $s ]] && awk -v b="$b" -v s="$s" 'BEGIN { if (s > 0) printf "%.3f\n", b / s }'
done | sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "failed" }')
plus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a + b }'; }
times() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a * b }'; }
ms() { [[ $1 =~ ^[0-9.]+$ ]] && echo "$1 ms" || echo "$1"; }

poll_goal=$(plus "$socat_poll_median_ms" 0.3)
p99_goal=$(plus "$socat_poll_p99_ms" 1)
rtt_goal=$(plus "$socat_rtt_median_ms" 0.3)
up_goal=$(times "$socat_up_mib_s" 0.9)
down_goal=$(times "$socat_down_mib_s" 0.9)
back_goal=$((restart_ms + 500))
if [[ $bridge_back_ms =~ ^[0-9]+$ ]]; then
    back_verdict=$(verdict "$bridge_back_ms" "$back_goal")
else
    back_verdict="NOT met"
fi
short() { sed 's/ (.*//' <<<"$1"; }

row() { printf '%-36s %-16s %-16s %-16s %s\n' "$@"; }
row "measure (median of $rounds rounds)" "ordan-cli bridge" socat gensiot goal
row "Modbus poll at 19200 8E1: median" "$(ms "$bridge_poll_median_ms")" \
    "$(ms "$socat_poll_median_ms")" "$(ms "$gensiot_poll_median_ms")" \
    "<= socat + 0.3 ms = $poll_goal ms: $(verdict "$bridge_poll_median_ms" "$poll_goal")"
row "Modbus poll: 99th percentile" "$(ms "$bridge_poll_p99_ms")" "$(ms "$socat_poll_p99_ms")" \
    "$(ms "$gensiot_poll_p99_ms")" \
    "<= socat + 1 ms = $p99_goal ms: $(verdict "$bridge_poll_p99_ms" "$p99_goal")"
row "Modbus polls failed (of $polls)" "$bridge_poll_failed" "$socat_poll_failed" \
    "$gensiot_poll_failed" ""
row "round trip, whole frame: median" "$(ms "$bridge_rtt_median_ms")" \
    "$(ms "$socat_rtt_median_ms")" "$(ms "$gensiot_rtt_median_ms")" \
    "<= socat + 0.3 ms = $rtt_goal ms: $(verdict "$bridge_rtt_median_ms" "$rtt_goal")"
row "round trip: 99th percentile" "$(ms "$bridge_rtt_p99_ms")" "$(ms "$socat_rtt_p99_ms")" \
    "$(ms "$gensiot_rtt_p99_ms")" ""
row "1 MiB port -> module" "$bridge_up_mib_s MiB/s" "$socat_up_mib_s MiB/s" \
    "$gensiot_up_mib_s MiB/s" ">= 0.9x socat = $up_goal: $(verdict "$up_goal" "$bridge_up_mib_s")"
row "1 MiB module -> port" "$bridge_down_mib_s MiB/s" "$socat_down_mib_s MiB/s" \
    "$gensiot_down_mib_s MiB/s" \
    ">= 0.9x socat = $down_goal: $(verdict "$down_goal" "$bridge_down_mib_s")"
row "1 MiB module -> port, paired rounds" "${down_ratio}x socat" "" "" \
    ">= 0.9x: $(verdict 0.9 "$down_ratio")"
row "flowing again after a restart" "$(ms "$bridge_back_ms")" "$(short "$socat_back_ms")" \
    "$(short "$gensiot_back_ms")" "<= restart ${restart_ms} ms + 500 ms: $back_verdict"
echo
echo "the bridge's port opened by 200 programs one after the other (new processes,"
echo "19200 8E1 as libmodbus sets it, not put back at close; the ordinary priority):"
echo "  settings refused, each setting and closing at once, the next after 0 ms: $opens_0,"
echo "  after 0.2 ms: $opens_200, after 1 ms: $opens_1000; each exchanging a request first: $opens_exchange"
echo "a libmodbus master at 19200 8E1 started 40 times: opened $masters_opened of 40"
echo
if [[ -s $dir/failures ]]; then
    echo "transfers that failed (those rounds' figures left out):"
    sed 's/^/  /' "$dir/failures"
fi
echo "(polls: the simulated module's bus paced at 19200 8E1, its packet time-out 5 ms;"
echo " round trips: the peer answers at once, the port at 115200 8N1; the peer restarts"
echo " by closing its connections and not listening for ${restart_ms} ms; never: the"
echo " program ends at the disconnect; the module at $module in a private namespace)"
