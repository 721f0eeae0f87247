#!/usr/bin/env bash
# Benchmark of ordan-cli gateway against the wire's limit, against Modbus
# RTU over TCP to the module directly, and beside a forwarding server made
# of Debian's python3-pymodbus (its RemoteSlaveContext behind its TCP
# server), where that package is installed:
#   - throughput, 1 client and 8 clients (libmodbus, tests/gatewayclients.cpp),
#     each reading 10 holding registers as fast as answered for a few
#     seconds, at 19200 and 115200 8E1, from a simulated device with UART
#     pacing (ordan-module-sim --network --devices, device delay 5 ms,
#     packet time-out 5 ms); the limit is 1 / (request frame + reply frame
#     + device delay + 2 gaps + packet time-out); goal >= 0.95 of it;
#   - 8 clients: the 99th percentile of a request against 8 x one
#     client's median + 5 ms, and the requests each client got done
#     (within 2 of each other);
#   - the median of one client against RTU over TCP to the module directly
#     (goal: at most 1 ms more);
#   - a dead unit beside a live one (4 clients asking an absent unit, one
#     a device, answer time-out 1 s): the live one's 99th percentile.
# Runs inside a network namespace of its own (scripts/netns.sh), the module
# at a documentation address on its loopback: nothing leaves the machine.
# Every program at one real-time priority where the system allows it.
# Not a test: it prints figures and the goals met.
#   scripts/bench-gateway.sh [--smoke]   (--smoke: one second a figure)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$repo/build}
module=192.0.2.10 # TEST-NET-1, on the namespace's own loopback
seconds=${ORDAN_BENCH_SECONDS:-5}
device_ms=5
packet_ms=5
python=/usr/bin/python3

if [[ ${1:-} == --smoke ]]; then
    seconds=1
    shift
fi

if [[ ${1:-} != --inside ]]; then
    pkg-config --exists libmodbus || { echo "libmodbus is missing: scripts/install-deps.sh" >&2; exit 1; }
    if [[ ! -f $build/CMakeCache.txt ]]; then
        cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF >/dev/null
    fi
    cmake --build "$build" -j2 --target ordan-cli ordan-module-sim >/dev/null
    tools=$(mktemp -d)
    trap 'rm -rf "$tools"' EXIT
    read -ra modbus <<<"$(pkg-config --cflags --libs libmodbus)"
    c++ -std=c++17 -O2 -pthread -o "$tools/clients" "$repo/tests/gatewayclients.cpp" "${modbus[@]}"
    priority=()
    chrt -f 10 true 2>/dev/null && priority=(chrt -f 10)
    ORDAN_BENCH_SECONDS=$seconds BUILD=$build ORDAN_BENCH_TOOLS=$tools \
        "${priority[@]}" "$repo/scripts/netns.sh" --addr "$module/24" -- \
        bash "$repo/scripts/bench-gateway.sh" --inside
    exit 0
fi

# Inside the namespace.
cli=$build/ordan-cli
sim=$build/tools/ordan-module-sim
clients=$ORDAN_BENCH_TOOLS/clients
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
# The gateway's control socket in a folder of the benchmark's own: another
# gateway of the same name may run beside it in another namespace.
export XDG_RUNTIME_DIR=$work

value() { sed -n "s/^$1=//p" "$2"; }
met() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? "met" : "NOT met" }'; }

start_module() { # BAUD
    "$sim" --network --set "ip=$module" --set "SPEED RS485=$1" --set parity=even \
        --set "timeout data=$packet_ms" --devices "1,2@$1/8E1" --device-delay "$device_ms" \
        --link "$work/tty" >/dev/null 2>"$work/sim.err" &
    pids+=($!)
    for _ in $(seq 100); do
        grep -qs listening "$work/sim.err" && break
        sleep 0.05
    done
}
start_gateway() { # BAUD, more options
    local baud=$1
    shift
    "$cli" gateway "$module:502" --listen 127.0.0.1:1502 --speed "$baud" --parity even \
        --packet-timeout "$packet_ms" "$@" >"$work/gateway.out" 2>"$work/gateway.err" &
    gateway=$!
    for _ in $(seq 100); do
        grep -qs ": connected" "$work/gateway.err" && break
        sleep 0.05
    done
}
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
run_clients() { # OUTPUT HOST PORT more options
    local out=$1 host=$2 port=$3
    shift 3
    "$clients" "$host" "$port" --seconds "$seconds" "$@" >"$out"
}

have_pymodbus=
"$python" -c 'import pymodbus.datastore.remote, pymodbus.server' 2>/dev/null && have_pymodbus=1
cat >"$work/forwarder.py" <<'EOF'
# A forwarding server of pymodbus's own parts: its TCP server, each unit a
# RemoteSlaveContext on one client speaking RTU over TCP to the module.
import sys
from pymodbus.client import ModbusTcpClient
from pymodbus.datastore import ModbusServerContext
from pymodbus.datastore.remote import RemoteSlaveContext
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartTcpServer
host, port, listen = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
client = ModbusTcpClient(host, port=port, framer=ModbusRtuFramer, timeout=1)
client.connect()
units = {unit: RemoteSlaveContext(client, unit=unit) for unit in (1, 2, 9)}
StartTcpServer(context=ModbusServerContext(slaves=units, single=False),
               address=("127.0.0.1", listen))
EOF

for baud in 19200 115200; do
    limit_ms=$(awk -v b="$baud" -v d="$device_ms" -v p="$packet_ms" 'BEGIN {
        char = 11000 / b; gap = b > 19200 ? 1.75 : 3.5 * char
        printf "%.3f", 33 * char + d + 2 * gap + p }')
    limit=$(awk -v l="$limit_ms" 'BEGIN { printf "%.1f", 1000 / l }')
    start_module "$baud"
    run_clients "$work/direct" "$module" 502 --rtu --units 1
    start_gateway "$baud"
    run_clients "$work/one" 127.0.0.1 1502 --clients 1 --units 1
    run_clients "$work/eight" 127.0.0.1 1502 --clients 8 --units 1
    stop "$gateway"
    python_line="(python3-pymodbus not installed)"
    if [[ -n $have_pymodbus ]]; then
        "$python" "$work/forwarder.py" "$module" 502 1503 >/dev/null 2>"$work/py.err" &
        forwarder=$!
        sleep 1.5
        run_clients "$work/py-one" 127.0.0.1 1503 --clients 1 --units 1
        run_clients "$work/py-eight" 127.0.0.1 1503 --clients 8 --units 1
        stop "$forwarder"
        python_line="pymodbus forwarder: 1 client $(value rate "$work/py-one")/s (median $(value median_ms "$work/py-one") ms), 8 clients $(value rate "$work/py-eight")/s (p99 $(value p99_ms "$work/py-eight") ms, failed $(($(value requests "$work/py-eight") - $(value ok "$work/py-eight"))))"
    fi
    stop "${pids[-1]}"
    one_rate=$(value rate "$work/one")
    eight_rate=$(value rate "$work/eight")
    one_median=$(value median_ms "$work/one")
    eight_p99=$(value p99_ms "$work/eight")
    p99_bound=$(awk -v m="$one_median" 'BEGIN { printf "%.1f", 8 * m + 5 }')
    read -r least most < <(sed -n 's/^client_[0-9]*=//p' "$work/eight" | sort -n | sed -n '1p;$p' | xargs)
    direct=$(value median_ms "$work/direct")
    extra=$(awk -v a="$one_median" -v b="$direct" 'BEGIN { printf "%.2f", a - b }')
    ratio() { awk -v r="$1" -v l="$limit" 'BEGIN { printf "%.2f", r / l }'; }
    echo "gateway at $baud 8E1: limit $limit requests/s (${limit_ms} ms: 33 characters, ${device_ms} ms device delay, 2 gaps, ${packet_ms} ms packet time-out)"
    printf '  %-10s %7s/s  ratio %s (>= 0.95: %s)  median %s ms, failed %s\n' "1 client" "$one_rate" \
        "$(ratio "$one_rate")" "$(met 0.95 "$(ratio "$one_rate")")" "$one_median" \
        "$(($(value requests "$work/one") - $(value ok "$work/one")))"
    printf '  %-10s %7s/s  ratio %s (>= 0.95: %s)  p99 %s ms (<= 8 x %s + 5 = %s: %s), per client %s-%s (within 2: %s), failed %s\n' \
        "8 clients" "$eight_rate" "$(ratio "$eight_rate")" "$(met 0.95 "$(ratio "$eight_rate")")" \
        "$eight_p99" "$one_median" "$p99_bound" "$(met "$eight_p99" "$p99_bound")" "$least" "$most" \
        "$(met $((most - least)) 2)" "$(($(value requests "$work/eight") - $(value ok "$work/eight")))"
    echo "  RTU over TCP to the module directly: median $direct ms; through the gateway $extra ms more (<= 1 ms: $(met "$extra" 1))"
    echo "  $python_line"
done

# A dead unit beside a live one, at 19200.
start_module 19200
start_gateway 19200 --answer-timeout 1000
"$clients" 127.0.0.1 1502 --seconds "$seconds" --clients 4 --units 9 --count 1 >"$work/dead" &
dead=$!
run_clients "$work/live" 127.0.0.1 1502 --clients 1 --units 1
wait "$dead" || true
stop "$gateway"
python_dead="(python3-pymodbus not installed)"
if [[ -n $have_pymodbus ]]; then
    "$python" "$work/forwarder.py" "$module" 502 1503 >/dev/null 2>"$work/py.err" &
    forwarder=$!
    sleep 1.5
    "$clients" 127.0.0.1 1503 --seconds "$seconds" --clients 4 --units 9 --count 1 >"$work/py-dead" &
    dead=$!
    run_clients "$work/py-live" 127.0.0.1 1503 --clients 1 --units 1
    wait "$dead" || true
    stop "$forwarder"
    python_dead="pymodbus forwarder (its client's time-out 1 s): the live one's median $(value median_ms "$work/py-live") ms, p99 $(value p99_ms "$work/py-live") ms, $(value ok "$work/py-live") answered of $(value requests "$work/py-live")"
fi
# It waits at most one answer time-out (the default, 1 s, as pymodbus's
# client's) and the gap after it (2.0 ms at 19200 8E1), then takes its own
# time; 5 ms for the timers of a busy machine.
live_bound=$(awk -v m="$(value median_ms "$work/live")" 'BEGIN { printf "%.1f", 1000 + 2.0 + m + 5 }')
echo "a dead unit beside a live one (4 clients asking it, answer time-out 1 s): the live one's"
echo "  median $(value median_ms "$work/live") ms, p99 $(value p99_ms "$work/live") ms, max $(value max_ms "$work/live") ms (<= the time-out + the gap + its own median + 5 ms = $live_bound: $(met "$(value max_ms "$work/live")" "$live_bound")), $(value ok "$work/live") answered of $(value requests "$work/live")"
echo "  $python_dead"
