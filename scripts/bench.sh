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
#     percentile of a 10 ms timer's lateness), and the same while its
#     register's server stalls (a listener that never answers, a
#     PostgreSQL stopped for 3 s in the middle of the run);
#   - ordan-cli reach of a plan of 16 simulated modules (--network) in a
#     network namespace of its own (scripts/netns.sh), some of whose rows
#     do not answer: it must be done within the connect time-out (3 s) plus
#     0.2 s, with the right word for each row;
#   - ordan-cli bus: a scan of 1-247 at 19200 with 3 devices and
#     --answer-timeout 100, against 247 x (100 ms + a request's time on the
#     line + the gap before the next) + 1 s; --find-settings for a bus at
#     19200 8E1 (the 4th setting tried), against 4 x (one verified write +
#     a probe) + 1 s; and --repeat 1000 at 115200 against the wire's limit
#     (requests a second, the ratio printed); in a network namespace of
#     their own;
#   - ordan-cli gateway: throughput of 1 and 8 Modbus TCP clients against
#     the wire's limit at 19200 and 115200, the 8 clients' 99th percentile
#     and fairness, a dead unit beside a live one, what it adds to RTU over
#     TCP directly, beside a pymodbus forwarder (scripts/bench-gateway.sh);
#   - then ordan-cli bridge against socat (scripts/bench-bridge.sh).
# Each figure is the median of three runs. Builds what is missing into
# build/ (or $BUILD). Not a test: it prints figures and the targets met.
# `scripts/bench.sh gateway` measures the gateway alone,
# `scripts/bench.sh reach` the reach check alone, `scripts/bench.sh
# register` the site register's look-up alone (register_bench), `scripts/bench.sh
# bus` the bus's two.
# `scripts/bench.sh register-rows` the register's cost per row alone
# (register_rows_bench), `scripts/bench.sh register-stall` the window's
# event loop while its register's server stalls (register_stall_bench).
# `scripts/bench.sh --smoke` runs each of its own steps once on the build
# in $BUILD as it is (nothing is built) and judges no figure: the test
# command runs it so that the benchmark cannot break unseen.
set -euo pipefail

# The benchmarks' runs leave nothing in the user's site register: each
# process gets an empty one in memory, unless a benchmark names its own.
export ORDAN_REGISTER=sqlite::memory:

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$repo/build}
restart_ms=500 # the simulator's restart delay
cli=$build/ordan-cli
sim=$build/tools/ordan-module-sim
smoke=
if [[ ${1:-} == --smoke ]]; then
    smoke=1
    shift
fi
rounds=${smoke:+1}
rounds=${rounds:-3}
# The median line of $rounds sorted numbers on stdin.
median_line() { sort -n | sed -n "$(((rounds + 1) / 2))p"; }

# The reach check, run inside the namespace (see reach_bench below): 16
# simulated modules at 10.20.0.31-46; the plan has 10 rows where they are
# (reachable), 2 at a TCP port they do not listen on (refused), 2 on
# 10.30.0.0/24, which the namespace has no route to (unreachable), and 2
# at a port where a host whose backlog is full drops every SYN (no answer:
# the connect time-out bounds the run). Prints the median seconds and
# "words ok" or what differed.
if [[ ${1:-} == --reach-inside ]]; then
    work=$(mktemp -d)
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
    plan=$work/plan.csv
    echo "port,ip,gateway,tcp_port" >"$plan"
    expected=()
    for i in $(seq 16); do
        ip=10.20.0.$((30 + i)) port=$((10000 + i)) planned=$((10000 + i)) word=reachable
        if ((i >= 11 && i <= 12)); then planned=$((20000 + i)) word=refused; fi
        if ((i >= 13 && i <= 14)); then ip=10.30.0.$i word=unreachable; fi
        if ((i >= 15)); then planned=30000 word="no answer"; fi
        "$sim" --network --set "ip=$ip" --set "PORT TCP=$port" --link "$work/tty$i" \
            >/dev/null 2>"$work/sim$i.err" &
        pids+=($!)
        echo "$work/tty$i,$ip,${ip%.*}.1,$planned" >>"$plan"
        expected+=("$word")
    done
    "$build/tools/ordan-stalled-host" 10.20.0.45:30000 10.20.0.46:30000 >"$work/stalled.out" &
    pids+=($!)
    for file in "$work"/sim*.err "$work/stalled.out"; do
        for _ in $(seq 100); do
            grep -qs "listening\|ready" "$file" && break
            sleep 0.05
        done
    done
    sleep 0.2
    times=()
    words_ok="words ok"
    for _ in $(seq "$rounds"); do
        t0=$(date +%s%N)
        "$cli" reach "$plan" >"$work/out" || true
        t1=$(date +%s%N)
        times+=("$(((t1 - t0) / 1000000))")
        mapfile -t got < <(sed -n '2,17{s/^[^ ]* *[^ ]* *[^ ]* *//; s/ (.*//; p}' "$work/out")
        if [[ "${got[*]}" != "${expected[*]}" ]]; then
            words_ok="words differ: ${got[*]}"
        fi
    done
    printf '%s\n' "${times[@]}" | median_line | awk '{ printf "%.3f ", $1 / 1000 }'
    echo "$words_ok"
    exit 0
fi

# The bus's benchmarks, run inside the namespace (see bus_bench below): a
# simulated module at 10.20.0.31:502 (packet time-out 10 ms, restart 500
# ms) with devices 1, 2 and 5 at 19200 8E1. Prints "seconds bound" for the
# step asked.
bus_module() { # its console link, then simulator arguments
    local link=$1
    shift
    "$sim" --network --set ip=10.20.0.31 --set "PORT TCP=502" --set "timeout data=${bus_packet_ms:-10}" \
        --restart-delay "$restart_ms" --devices "${bus_devices:-1,2,5@19200/8E1}" --link "$link" "$@" \
        >/dev/null 2>"$link.err" &
    pids+=($!)
    for _ in $(seq 100); do
        grep -qs listening "$link.err" && break
        sleep 0.05
    done
}

# Median seconds of three runs of a command (which may fail: a probe that
# finds nothing exits 4).
bus_median3() {
    local times=() t0 t1
    for _ in $(seq "$rounds"); do
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        t1=$(date +%s%N)
        times+=("$(((t1 - t0) / 1000000))")
    done
    printf '%s\n' "${times[@]}" | median_line | awk '{ printf "%.3f", $1 / 1000 }'
}

# A scan of 1-247 at 19200 8E1, 3 devices, --answer-timeout 100; bound:
# 247 x (100 ms + the request's 8 characters of 11 bits at 19200 + the
# line's gap of 3.5 characters before the next request) + 1 s.
bus_scan_inside() {
    bus_module "$work/tty" --set "SPEED RS485=19200" --set parity=even
    local s ids=() at=(--answer-timeout 100 --line-speed 19200)
    # A smoke run asks ten addresses, not 247: it only has to get through.
    [[ -z $smoke ]] || ids=(--ids 1-10)
    s=$(bus_median3 "$cli" bus 10.20.0.31:502 "${at[@]}" "${ids[@]}")
    "$cli" bus 10.20.0.31:502 "${at[@]}" "${ids[@]}" | tail -1 >"$work/said"
    echo "$s $(awk 'BEGIN { printf "%.3f", 247 * (0.100 + (8 + 3.5) * 11 / 19200) + 1 }') $(cat "$work/said")"
}

# --find-settings from the module's factory 9600 8N1 to the bus's 19200
# 8E1 (the 4th setting tried), probing 1-10; bound: 4 x (one verified
# write + a probe of 1-10 where nothing answers) + 1 s, each the median of
# three on a module of its own.
bus_find_inside() {
    bus_module "$work/own"
    local write probe search
    write=$(bus_median3 "$cli" write "$work/own" --parity even)
    probe=$(bus_median3 "$cli" bus 10.20.0.31:502 --ids 1-10 --answer-timeout 100)
    kill "${pids[@]}"
    wait 2>/dev/null || true
    pids=()
    local times=() t0 t1
    for i in $(seq "$rounds"); do
        bus_module "$work/tty$i"
        t0=$(date +%s%N)
        "$cli" bus 10.20.0.31:502 --find-settings --console "$work/tty$i" --ids 1-10 \
            --answer-timeout 100 | tail -1 >"$work/said"
        t1=$(date +%s%N)
        times+=("$(((t1 - t0) / 1000000))")
        kill "${pids[@]}"
        wait 2>/dev/null || true
        pids=()
    done
    search=$(printf '%s\n' "${times[@]}" | median_line | awk '{ printf "%.3f", $1 / 1000 }')
    echo "$search $(awk -v w="$write" -v p="$probe" 'BEGIN { printf "%.3f", 4 * (w + p) + 1 }') $(cat "$work/said") (write ${write} s, probe ${probe} s)"
}

# --repeat 1000 at 115200 8E1 against one healthy device (its delay 5 ms,
# the module's packet time-out 1 ms): requests a second against the wire's
# limit, 1 / (request frame + reply frame + device delay + gap): 8 and 7
# characters of 11 bits, 5 ms, 1.75 ms. The run without repeats (start,
# connection, one request) is taken off.
bus_repeat_inside() {
    bus_devices=1@115200/8E1 bus_packet_ms=1 bus_module "$work/tty" \
        --set "SPEED RS485=115200" --set parity=even
    local n=1000 base all
    [[ -z $smoke ]] || n=20
    base=$(bus_median3 "$cli" bus 10.20.0.31:502 --ids 1 --line-speed 115200 --answer-timeout 200)
    all=$(bus_median3 "$cli" bus 10.20.0.31:502 --ids 1 --repeat $n --line-speed 115200 \
        --answer-timeout 200)
    "$cli" bus 10.20.0.31:502 --ids 1 --repeat $n --line-speed 115200 --answer-timeout 200 |
        grep '^quality' >"$work/said"
    awk -v n=$n -v a="$all" -v b="$base" -v said="$(cat "$work/said")" 'BEGIN {
        limit = 1 / ((8 + 7) * 11 / 115200 + 0.005 + 0.00175)
        rate = n / (a - b)
        printf "%.1f %.1f %s (%.1f requests/s, the wire'"'"'s limit %.1f/s: ratio %.2f)\n", \
            a - b, n / limit, said, rate, limit, rate / limit
    }'
}

if [[ ${1:-} == --bus-inside ]]; then
    work=$(mktemp -d)
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
    case ${2:-} in
    scan) bus_scan_inside ;;
    find) bus_find_inside ;;
    repeat) bus_repeat_inside ;;
    esac
    exit 0
fi

# The bus's benchmarks, each in a network namespace of its own with the
# module's address on its lo; prints the step's line.
bus_bench() {
    local step=$1 what=$2 s bound said
    read -r s bound said < <(BUILD=$build bash "$repo/scripts/netns.sh" --addr 10.20.0.31/24 -- \
        bash "$repo/scripts/bench.sh" ${smoke:+--smoke} --bus-inside "$step")
    if [[ $step == repeat ]]; then
        # A rate against the wire's limit: the ratio is the figure, no bound.
        printf '%-34s %7ss   %s\n' "$what" "$s" "$said (at the limit: ${bound} s)"
        return
    fi
    printf '%-34s %7ss   %s\n' "$what" "$s" \
        "$said; bound ${bound} s, ratio $(awk -v v="$s" -v b="$bound" 'BEGIN { printf "%.2f", v / b }') (<= 1.0: $(awk -v v="$s" -v b="$bound" 'BEGIN { print (v <= b) ? "met" : "NOT met" }'))"
}

# Runs the reach check in a network namespace of its own, with the
# modules' addresses on its lo and a route to nothing else.
reach_bench() {
    local addrs=()
    for i in $(seq 31 46); do addrs+=(--addr "10.20.0.$i/24"); done
    BUILD=$build bash "$repo/scripts/netns.sh" "${addrs[@]}" -- \
        bash "$repo/scripts/bench.sh" ${smoke:+--smoke} --reach-inside
}

# The site register: ordan-cli register show on a SQLite register of
# 100,000 modules, made by importing a record of as many rows (its seconds
# are shown too). Prints one line: the median of 11 shows against 20 ms.
# Then the check a run that writes makes when it opens the register (its
# pages, tables and columns): an import of one row it holds already (opened
# to write, checked, nothing added) against a show (opened read-only, not
# checked), the median of 11 each, and the difference against 1 s.
register_bench() (
    local work rows=${smoke:+1000} times=() mac n
    rows=${rows:-100000}
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    awk -v rows=$rows 'BEGIN {
        print "time,port,name,version,mac,ip,mask,gateway,tcp_port,parity,speed,stop_bits,packet_timeout,result"
        for (i = 0; i < rows; i++)
            printf "2026-01-10T%02d:%02d:%02d.%03d+03:00,/dev/ttyUSB0,Ordan,1.2,02:00:00:%02X:%02X:%02X," \
                "10.%d.%d.%d,255.255.0.0,10.%d.0.1,10001,none,9600,1,50,verified\n",
                int(i / 3600000) % 24, int(i / 60000) % 60, int(i / 1000) % 60, i % 1000,
                int(i / 65536), int(i / 256) % 256, i % 256,
                100 + int(i / 65536), int(i / 256) % 256, i % 254 + 1, 100 + int(i / 65536)
    }' >"$work/record.csv"
    local t0 t1
    t0=$(date +%s%N)
    "$cli" register import "$work/record.csv" --register "$work/register.sqlite" >/dev/null
    t1=$(date +%s%N)
    local import_s
    import_s=$(awk -v ns=$((t1 - t0)) 'BEGIN { printf "%.1f", ns / 1e9 }')
    for i in $(seq 11); do
        n=$((i * 7919 % rows))
        mac=$(printf '02:00:00:%02X:%02X:%02X' $((n / 65536)) $((n / 256 % 256)) $((n % 256)))
        t0=$(date +%s%N)
        "$cli" register show "$mac" --register "$work/register.sqlite" >/dev/null
        t1=$(date +%s%N)
        times+=("$(((t1 - t0) / 1000))")
    done
    # The program's start alone, in the same moments, to tell it apart.
    local starts=()
    for i in $(seq 11); do
        t0=$(date +%s%N)
        "$cli" --version >/dev/null
        t1=$(date +%s%N)
        starts+=("$(((t1 - t0) / 1000))")
    done
    local show_ms start_ms
    show_ms=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 6p | awk '{ printf "%.1f", $1 / 1000 }')
    start_ms=$(printf '%s\n' "${starts[@]}" | sort -n | sed -n 6p | awk '{ printf "%.1f", $1 / 1000 }')
    printf '%-34s %7sms   %-28s %s\n' "register show, $rows modules" "$show_ms" \
        "--version ${start_ms} ms; import ${import_s} s" \
        "<= 20 ms: $(awk -v v="$show_ms" 'BEGIN { print (v <= 20) ? "met" : "NOT met" }')"
    head -2 "$work/record.csv" >"$work/known.csv"
    local opens=()
    for i in $(seq 11); do
        t0=$(date +%s%N)
        "$cli" register import "$work/known.csv" --register "$work/register.sqlite" >/dev/null
        t1=$(date +%s%N)
        opens+=("$(((t1 - t0) / 1000))")
    done
    local open_ms check_ms
    open_ms=$(printf '%s\n' "${opens[@]}" | sort -n | sed -n 6p | awk '{ printf "%.1f", $1 / 1000 }')
    check_ms=$(awk -v a="$open_ms" -v b="$show_ms" 'BEGIN { printf "%.1f", a - b }')
    printf '%-34s %7sms   %-28s %s\n' "open to write, $rows modules" "$open_ms" \
        "the check ~${check_ms} ms over a show" \
        "check <= 1000 ms: $(awk -v v="$check_ms" 'BEGIN { print (v <= 1000) ? "met" : "NOT met" }')"
)

if [[ -n $smoke ]]; then
    for program in "$cli" "$sim" "$build/site/ordan-site" "$build/tools/ordan-stalled-host"; do
        [[ -x $program ]] || { echo "bench.sh --smoke: $program is not built" >&2; exit 1; }
    done
elif [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORDAN_BUILD_TESTS=OFF >/dev/null
fi
if [[ ${1:-} == register ]]; then
    cmake --build "$build" -j2 --target ordan-cli >/dev/null
    register_bench
    exit 0
fi
if [[ ${1:-} == bus ]]; then
    cmake --build "$build" -j2 --target ordan-cli ordan-module-sim >/dev/null
    bus_bench scan "bus: scan 1-247 at 19200"
    bus_bench find "bus: --find-settings, 4th setting"
    bus_bench repeat "bus: --repeat 1000 at 115200"
    exit 0
fi
if [[ ${1:-} == gateway ]]; then
    BUILD=$build bash "$repo/scripts/bench-gateway.sh" ${smoke:+--smoke}
    exit 0
fi
if [[ ${1:-} == reach ]]; then
    cmake --build "$build" -j2 --target ordan-cli ordan-module-sim ordan-stalled-host >/dev/null
    read -r reach_s reach_words < <(reach_bench)
    printf '%-34s %7ss   %s\n' "reach a plan of 16 modules" "$reach_s" \
        "$reach_words; < 3.2 s (time-out 3 s + 0.2 s): $(awk -v v="$reach_s" 'BEGIN { print (v < 3.2) ? "met" : "NOT met" }')"
    exit 0
fi
only_rows=
only_stall=
if [[ ${1:-} == register-rows ]]; then
    only_rows=1
    cmake --build "$build" -j2 --target ordan-cli ordan-module-sim >/dev/null
elif [[ ${1:-} == register-stall ]]; then
    only_stall=1
    cmake --build "$build" -j2 --target ordan-site ordan-module-sim >/dev/null
elif [[ -z $smoke ]]; then
    cmake --build "$build" -j2 --target ordan-cli ordan-module-sim ordan-site ordan-stalled-host >/dev/null
fi
site=$build/site/ordan-site

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

# Median wall time in seconds of a command run three times (once in smoke).
median3() {
    local times=()
    for _ in $(seq "$rounds"); do
        local t0 t1
        t0=$(now_ns)
        "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
        t1=$(now_ns)
        times+=("$(( (t1 - t0) / 1000000 ))")
    done
    printf '%s\n' "${times[@]}" | median_line | awk '{ printf "%.3f", $1 / 1000 }'
}

# The site register's cost per row: the plan of eight rows (one per port,
# at the same time) commissioned without a register, with a SQLite file
# and with a PostgreSQL server of its own on this machine (a Unix socket,
# fsync on, as a team's server keeps it), each round into a register of
# its own (a register that knows the modules would write nothing), five
# rounds. Each row claims its plan's row and its address before it is
# written, is admitted by the register, and is kept in it. Prints the
# added milliseconds per row (the difference of the medians over 8), the
# medians and their ratio.
register_rows_bench() (
    local plan=$1 work pg_bin as=() times_none=() times_sqlite=() times_pg=()
    work=$(mktemp -d)
    pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
    if [[ -n $pg_bin ]]; then
        if [[ $(id -u) -eq 0 ]]; then
            chown nobody: "$work"
            as=(runuser -u nobody --)
        fi
        "${as[@]}" "$pg_bin/initdb" -D "$work/data" -U ordan -A trust -E UTF8 --locale=C \
            >/dev/null
        "${as[@]}" "$pg_bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
            -o "-c listen_addresses='' -c unix_socket_directories='$work'" start >/dev/null
    fi
    trap '[[ -n $pg_bin ]] && "${as[@]}" "$pg_bin/pg_ctl" -D "$work/data" -m immediate -w stop >/dev/null; rm -rf "$work"' EXIT
    timed() {
        local t0 t1
        t0=$(now_ns)
        "$cli" commission "$plan" "$@" >/dev/null || { echo "failed: commission $*" >&2; exit 1; }
        t1=$(now_ns)
        echo $(((t1 - t0) / 1000))
    }
    # A few milliseconds a row against runs of two seconds: five rounds
    # (one in smoke), the three kinds side by side in each.
    local n=${smoke:+1}
    n=${n:-5}
    for round in $(seq "$n"); do
        times_none+=("$(timed --no-register)")
        times_sqlite+=("$(timed --register "$work/r$round.sqlite")")
        if [[ -n $pg_bin ]]; then
            "${as[@]}" "$pg_bin/createdb" -h "$work" -U ordan "r$round"
            times_pg+=("$(timed --register "postgresql://ordan@${work//\//%2F}/r$round")")
        fi
    done
    local none sqlite pg
    local middle=$(((n + 1) / 2))
    none=$(printf '%s\n' "${times_none[@]}" | sort -n | sed -n "${middle}p")
    sqlite=$(printf '%s\n' "${times_sqlite[@]}" | sort -n | sed -n "${middle}p")
    report() {
        awk -v name="$1" -v with="$2" -v none="$none" -v limit="$3" -v smoke="$smoke" 'BEGIN {
            per = (with - none) / 8 / 1000
            printf "%-34s %6.1fms   %-40s %s\n", name, per,
                sprintf("median %.3f s, without %.3f s: %.2fx", with / 1e6, none / 1e6, with / none),
                "<= " limit " ms a row: " (smoke ? "not judged (smoke)" : (per <= limit ? "met" : "NOT met"))
        }'
    }
    report "register, SQLite: cost a row" "$sqlite" 5
    if [[ -n $pg_bin ]]; then
        pg=$(printf '%s\n' "${times_pg[@]}" | sort -n | sed -n "${middle}p")
        report "register, PostgreSQL: cost a row" "$pg" 5
    else
        echo "register, PostgreSQL: not measured (no postgresql installed)"
    fi
)

# The site window while its register's server stalls: how late its event
# loop answers (ORDAN_SITE_LATENCY, the 99th percentile of a 10 ms timer's
# lateness). First a server that takes the connection and never answers:
# the run's register opens until libpq's connect time-out (10 s), then the
# run is refused (exit 3). Then a PostgreSQL of its own stopped (SIGSTOP,
# the server and its backends) for 3 s in the middle of the plan's run, and
# let go: the rows wait for it, the window does not. Prints a line each,
# against 50 ms.
register_stall_bench() (
    local plan=$1 work pg_bin as=() listener pids_stopped=()
    work=$(mktemp -d)
    trap '[[ -n ${pids_stopped[*]:-} ]] && kill -CONT "${pids_stopped[@]}" 2>/dev/null
          [[ -n ${listener:-} ]] && kill "$listener" 2>/dev/null
          [[ -n ${pg_bin:-} && -f $work/data/postmaster.pid ]] &&
              "${as[@]}" "$pg_bin/pg_ctl" -D "$work/data" -m immediate -w stop >/dev/null
          rm -rf "$work"' EXIT
    p99() { sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p' "$1" | tail -1; }
    line() {
        printf '%-34s %7sms   %-28s %s\n' "$1" "${2:-?}" "$3" \
            "< 50 ms: $(if [[ -n $smoke ]]; then echo "not judged (smoke)"; else
                awk -v v="${2:-999}" 'BEGIN { print (v < 50) ? "met" : "NOT met" }'; fi)"
    }

    # A listener on 127.0.0.1 that takes every connection and says nothing.
    python3 -c '
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(16)
print(s.getsockname()[1], flush=True)
held = []
while True:
    held.append(s.accept()[0])
' >"$work/port" &
    listener=$!
    for _ in $(seq 100); do
        [[ -s $work/port ]] && break
        sleep 0.05
    done
    local code=0
    QT_QPA_PLATFORM=offscreen ORDAN_SITE_LATENCY=1 "$site" "$plan" --start --quit-when-done \
        --register "postgresql://ordan@127.0.0.1:$(cat "$work/port")/site" \
        --record "$work/stalled-record.csv" >/dev/null 2>"$work/stalled.err" || code=$?
    line "ordan-site p99, register mute" "$(p99 "$work/stalled.err")" \
        "opening it until its time-out; exit $code"

    pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
    if [[ -z $pg_bin ]]; then
        echo "ordan-site p99, PostgreSQL stopped: not measured (no postgresql installed)"
        exit 0
    fi
    if [[ $(id -u) -eq 0 ]]; then
        chown nobody: "$work"
        as=(runuser -u nobody --)
    fi
    "${as[@]}" "$pg_bin/initdb" -D "$work/data" -U ordan -A trust -E UTF8 --locale=C >/dev/null
    "${as[@]}" "$pg_bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
        -o "-c listen_addresses='' -c unix_socket_directories='$work'" start >/dev/null
    "${as[@]}" "$pg_bin/createdb" -h "$work" -U ordan site
    QT_QPA_PLATFORM=offscreen ORDAN_SITE_LATENCY=1 "$site" "$plan" --start --quit-when-done \
        --register "postgresql://ordan@/site?host=$work" --record "$work/pg-record.csv" \
        >/dev/null 2>"$work/pg.err" &
    local window=$!
    sleep 0.5
    local postmaster
    postmaster=$(head -1 "$work/data/postmaster.pid")
    pids_stopped=("$postmaster" $(pgrep -P "$postmaster"))
    kill -STOP "${pids_stopped[@]}"
    sleep 3
    kill -CONT "${pids_stopped[@]}"
    pids_stopped=()
    code=0
    wait "$window" || code=$?
    line "ordan-site p99, PostgreSQL stopped" "$(p99 "$work/pg.err")" \
        "3 s of 8 rows' run; exit $code"
)

if [[ -n $only_rows || -n $only_stall ]]; then
    rows_dir=$(mktemp -d)
    dirs+=("$rows_dir")
    echo "port,ip,gateway,tcp_port" >"$rows_dir/plan.csv"
    for i in $(seq 8); do
        start_sim
        echo "$device,10.20.0.$((30 + i)),10.20.0.1,$((10000 + i))" >>"$rows_dir/plan.csv"
    done
    if [[ -n $only_stall ]]; then
        register_stall_bench "$rows_dir/plan.csv"
    else
        register_rows_bench "$rows_dir/plan.csv"
    fi
    exit 0
fi

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
round=0
for _ in $(seq "$rounds"); do
    round=$((round + 1))
    t0=$(now_ns)
    "$cli" commission "$plan" >/dev/null || { echo "failed: ordan-cli commission" >&2; exit 1; }
    t1=$(now_ns)
    QT_QPA_PLATFORM=offscreen ORDAN_SITE_LATENCY=1 "$site" "$plan" --start --quit-when-done \
        --record "$plan_dir/site-record-$round.csv" >/dev/null 2>"$plan_dir/site.err" ||
        { cat "$plan_dir/site.err" >&2; echo "failed: ordan-site" >&2; exit 1; }
    t2=$(now_ns)
    cli_times+=("$(( (t1 - t0) / 1000000 ))")
    site_times+=("$(( (t2 - t1) / 1000000 ))")
    latency_p99+=("$(sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p' "$plan_dir/site.err")")
done
median_of() { printf '%s\n' "$@" | median_line; }
site_eight=$(median_of "${site_times[@]}" | awk '{ printf "%.3f", $1 / 1000 }')
cli_eight=$(median_of "${cli_times[@]}" | awk '{ printf "%.3f", $1 / 1000 }')
site_p99=$(printf '%s\n' "${latency_p99[@]}" | sort -g | tail -1)

verdict() {
    if [[ -n $smoke ]]; then
        echo "not judged (smoke)"
    else
        awk -v v="$1" -v limit="$2" 'BEGIN { print (v < limit) ? "met" : "NOT met" }'
    fi
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
write_limit=$(awk -v r="$restart_ms" 'BEGIN { printf "%.1f", r / 1000 + 2 }')
eight_limit=$(awk -v v="$write_verify" 'BEGIN { printf "%.3f", v * 1.5 }')
three_limit=$(awk -v v="$read_one" 'BEGIN { printf "%.3f", v * 1.3 }')

printf '%-34s %8s   %-28s %s\n' "measure (median of $rounds)" "ordan-cli" "window" "target"
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
printf '%-34s %7s    %-28s %s\n' "ordan-site event loop, p99 (worst of $rounds)" "${site_p99}ms" "" \
    "< 50 ms: $(verdict "$site_p99" 50)"
read -r reach_s reach_words < <(reach_bench)
printf '%-34s %7ss   %-28s %s\n' "reach a plan of 16 modules" "$reach_s" "$reach_words" \
    "< 3.2 s (connect time-out + 0.2 s): $(verdict "$reach_s" 3.2)"
register_bench
register_rows_bench "$plan"
register_stall_bench "$plan"
echo "(window: 12 s per read-out, 19 s per write, one port at a time; simulator restart ${restart_ms} ms)"

echo
bus_bench scan "bus: scan 1-247 at 19200"
bus_bench find "bus: --find-settings, 4th setting"
bus_bench repeat "bus: --repeat 1000 at 115200"

# ordan-cli gateway against the wire's limit, RTU over TCP directly and a
# pymodbus forwarder (scripts/bench-gateway.sh, in a network namespace of
# its own).
echo
BUILD=$build bash "$repo/scripts/bench-gateway.sh" ${smoke:+--smoke}

if [[ -n $smoke ]]; then
    echo "(smoke: scripts/bench-startup.sh and scripts/bench-bridge.sh not run)"
    exit 0
fi
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
