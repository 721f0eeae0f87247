#!/usr/bin/env bash
# Benchmark of ordan-cli against the module simulator, beside the window's
# fixed pace (a read-out takes 12 s, a write 19 s without any read-back):
#   - read of one module, process start to exit;
#   - write of the IP address with restart and read-back verification;
#   - read of three modules at once;
#   - commission of eight modules on eight ports from one plan, beside one
#     module's write + verify;
#   - the same plan run by the site window (ordan-site --start
#     --quit-when-done, offscreen), against ordan-cli commission in the same
#     rounds, and how late the window's event loop answered meanwhile (99th
#     percentile of a 10 ms timer's lateness);
#   - then ordan-cli bridge against socat (scripts/bench-bridge.sh).
# Each figure is the median of three runs. Builds what is missing into
# build/ (or $BUILD). Not a test: it prints figures and the targets met.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$repo/build}
restart_ms=500 # the simulator's restart delay

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target ordan-cli ordan-module-sim ordan-site >/dev/null
site=$build/site/ordan-site
cli=$build/ordan-cli
sim=$build/tools/ordan-module-sim

# The simulators and their directories, removed on exit.
pids=()
dirs=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    for d in "${dirs[@]}"; do rm -rf "$d"; done
}
trap cleanup EXIT

# Starts a simulator, each with a MAC of its own (one module is never
# written twice in a run); its device path in $device. (Not in a subshell:
# the process and directory must be known to cleanup.)
sims_started=0
start_sim() {
    local dir
    dir=$(mktemp -d)
    dirs+=("$dir")
    sims_started=$((sims_started + 1))
    "$sim" --restart-delay "$restart_ms" --link "$dir/tty" \
        --mac "$(printf '02:00:00:00:00:%02X' "$sims_started")" >"$dir/out" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do
        [[ -s $dir/out ]] && break
        sleep 0.05
    done
    device=$(head -1 "$dir/out")
}

now_ns() { date +%s%N; }

# Median wall time in seconds of a command run three times.
median3() {
    local times=()
    for _ in 1 2 3; do
        local t0 t1
        t0=$(now_ns)
        "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
        t1=$(now_ns)
        times+=("$(( (t1 - t0) / 1000000 ))")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 2p | awk '{ printf "%.3f", $1 / 1000 }'
}

start_sim
a=$device
start_sim
b=$device
start_sim
c=$device

read_one=$(median3 "$cli" read "$a")
write_verify=$(median3 "$cli" write "$a" --ip 192.168.0.77)
read_three=$(median3 "$cli" read "$a" "$b" "$c")

# A plan of eight rows, one per simulated port.
plan_dir=$(mktemp -d)
dirs+=("$plan_dir")
plan=$plan_dir/plan.csv
echo "port,ip,gateway,tcp_port" >"$plan"
for i in $(seq 8); do
    start_sim
    echo "$device,10.20.0.$((30 + i)),10.20.0.1,$((10000 + i))" >>"$plan"
done
commission_eight=$(median3 "$cli" commission "$plan")

# The site window on the same plan, beside the CLI, round after round: the
# two share the machine's load alike.
site_times=()
cli_times=()
latency_p99=()
for _ in 1 2 3; do
    t0=$(now_ns)
    "$cli" commission "$plan" >/dev/null || { echo "failed: ordan-cli commission" >&2; exit 1; }
    t1=$(now_ns)
    QT_QPA_PLATFORM=offscreen ORDAN_SITE_LATENCY=1 "$site" "$plan" --start --quit-when-done \
        --record "" >/dev/null 2>"$plan_dir/site.err" ||
        { cat "$plan_dir/site.err" >&2; echo "failed: ordan-site" >&2; exit 1; }
    t2=$(now_ns)
    cli_times+=("$(( (t1 - t0) / 1000000 ))")
    site_times+=("$(( (t2 - t1) / 1000000 ))")
    latency_p99+=("$(sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p' "$plan_dir/site.err")")
done
median_of() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
site_eight=$(median_of "${site_times[@]}" | awk '{ printf "%.3f", $1 / 1000 }')
cli_eight=$(median_of "${cli_times[@]}" | awk '{ printf "%.3f", $1 / 1000 }')
site_p99=$(printf '%s\n' "${latency_p99[@]}" | sort -g | tail -1)

verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v < limit) ? "met" : "NOT met" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
write_limit=$(awk -v r="$restart_ms" 'BEGIN { printf "%.1f", r / 1000 + 2 }')
eight_limit=$(awk -v v="$write_verify" 'BEGIN { printf "%.3f", v * 1.5 }')
three_limit=$(awk -v v="$read_one" 'BEGIN { printf "%.3f", v * 1.3 }')

printf '%-34s %8s   %-28s %s\n' "measure (median of 3)" "ordan-cli" "window" "target"
printf '%-34s %7ss   %-28s %s\n' "read one module" "$read_one" \
    "12 s ($(ratio 12 "$read_one")x faster)" "< 1.0 s: $(verdict "$read_one" 1.0)"
printf '%-34s %7ss   %-28s %s\n' "write --ip + restart + verify" "$write_verify" \
    "19 s ($(ratio 19 "$write_verify")x faster)" \
    "< ${write_limit} s: $(verdict "$write_verify" "$write_limit")"
printf '%-34s %7ss   %-28s %s\n' "read three modules at once" "$read_three" \
    "36 s ($(ratio 36 "$read_three")x faster)" \
    "$(ratio "$read_three" "$read_one")x one read, < 1.3x: $(verdict "$read_three" "$three_limit")"
printf '%-34s %7ss   %-28s %s\n' "commission 8 modules on 8 ports" "$commission_eight" \
    "152 s, one after another" \
    "$(ratio "$commission_eight" "$write_verify")x one write, < 1.5x: $(verdict "$commission_eight" "$eight_limit")"
site_limit=$(awk -v v="$cli_eight" 'BEGIN { printf "%.3f", v * 1.2 }')
printf '%-34s %7ss   %-28s %s\n' "ordan-site, the same 8 modules" "$site_eight" \
    "ordan-cli ${cli_eight} s in the same rounds" \
    "$(ratio "$site_eight" "$cli_eight")x, < 1.2x: $(verdict "$site_eight" "$site_limit")"
printf '%-34s %7s    %-28s %s\n' "ordan-site event loop, p99 (worst of 3)" "${site_p99}ms" "" \
    "< 50 ms: $(verdict "$site_p99" 50)"
echo "(window: 12 s per read-out, 19 s per write, one port at a time; simulator restart ${restart_ms} ms)"

if [[ -z ${ORDAN_BENCH_NO_STARTUP:-} && -f $repo/scripts/bench-startup.sh ]]; then
    echo
    bash "$repo/scripts/bench-startup.sh"
fi

# ordan-cli bridge against socat (scripts/bench-bridge.sh: as root, in a
# network namespace of its own).
if [[ -z ${ORDAN_BENCH_NO_BRIDGE:-} ]]; then
    echo
    if [[ $(id -u) -eq 0 ]]; then
        BUILD="$build" bash "$repo/scripts/bench-bridge.sh"
    else
        echo "(ordan-cli bridge against socat: scripts/bench-bridge.sh, as root)"
    fi
fi
