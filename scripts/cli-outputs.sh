#!/usr/bin/env bash
# Records what ordan-cli prints (stdout, stderr, exit code, and the record it
# keeps) for a fixed set of runs against simulated modules, one file per run,
# with what changes from run to run (the scratch directory, times, process
# ids, pseudo-terminal numbers) replaced by names. Two builds' outputs are
# then compared with diff: a change that should not alter what the tool
# says is checked this way.
#   scripts/cli-outputs.sh BUILD OUTDIR
#   diff -r before/ after/
# Every exit code of the tool's table appears, in text and in JSON.
set -euo pipefail
# Its runs leave nothing in the user's site register: an empty one in
# memory for each process.
export ORDAN_REGISTER=sqlite::memory:

build=${1:?usage: $0 BUILD OUTDIR}
out=${2:?usage: $0 BUILD OUTDIR}
cli=$build/ordan-cli
sim=$build/tools/ordan-module-sim
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d /tmp/cli-outputs-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

normal() {
    sed -E -e "s#$work#DIR#g" \
        -e 's#[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+[+-][0-9]{2}:[0-9]{2}#TIME#g' \
        -e 's#process [0-9]+#process PID#g' -e 's#/dev/pts/[0-9]+#/dev/pts/N#g'
}

# The record's header, then its rows sorted (ports run side by side). The
# header is read a line at a time: head would take the rows with it from a
# pipe.
sorted() {
    local first
    IFS= read -r first || return 0
    printf '%s\n' "$first"
    sort
}

# Each module still running is back on its line (a write's restart, or one
# not waited for, takes its link away for a while): a run starts only then,
# so that no output depends on how fast the previous one ended.
declare -A live=()
settle() {
    local name
    for name in "${!live[@]}"; do
        for _ in $(seq 100); do
            [[ -e $work/$name ]] && break
            sleep 0.05
        done
    done
}

# module NAME [OPTIONS...]: a simulated module at $work/NAME, until stopped.
module() {
    local name=$1
    shift
    "$sim" --link "$work/$name" --restart-delay 200 --set GATEWAY=10.0.0.254 "$@" \
        >"$work/$name.out" 2>/dev/null &
    pids+=($!)
    eval "pid_$name=$!"
    live[$name]=1
    for _ in $(seq 100); do
        [[ -s $work/$name.out ]] && return
        sleep 0.05
    done
}
stop() {
    local var=pid_$1
    unset "live[$1]"
    kill "${!var}" 2>/dev/null || true
    wait "${!var}" 2>/dev/null || true
}

# run CASE ARGS...: ordan-cli with ARGS; its outputs into OUTDIR/CASE.
run() {
    local name=$1
    shift
    local code=0
    rm -f "$work/record.csv"
    settle
    "$cli" "$@" >"$work/stdout" 2>"$work/stderr" || code=$?
    {
        echo "exit $code"
        echo "--- stdout"
        normal <"$work/stdout"
        echo "--- stderr"
        normal <"$work/stderr"
        if [[ -f $work/record.csv ]]; then
            echo "--- record (rows sorted: ports run side by side)"
            normal <"$work/record.csv" | sorted
        fi
    } >"$out/$name"
}

# both CASE ARGS...: the run in text and in JSON.
both() {
    local name=$1
    shift
    run "$name" "$@"
    run "$name.json" "$@" --json
}

quick=(--reply-timeout 300 --restart-timeout 2)

run help --help
run version --version
both ports ports
run usage-no-command
run usage-unknown bogus
run usage-option-elsewhere read "$work/A" --ip 10.0.0.1

module A
both read-ok read "$work/A"
both write-verified write "$work/A" --ip 10.0.0.31 --record "$work/record.csv" "${quick[@]}"
both write-unverified write "$work/A" --tcp-port 10001 --no-verify --record "$work/record.csv" \
    "${quick[@]}"
both write-invalid write "$work/A" --ip 10.0.0.010
both write-unsound write "$work/A" --ip 10.0.0.31 --mask 255.255.255.128 --gateway 10.0.0.254
both write-record-full write "$work/A" --ip 10.0.0.32 --record /dev/full "${quick[@]}"
both restart restart "$work/A"
sleep 1.5 # back from the restart it was not waited for
both restart-wait restart "$work/A" --wait "${quick[@]}"
run factory-reset-unconfirmed factory-reset "$work/A"
both read-two read "$work/A" "$work/missing"
stop A

both read-missing read "$work/missing"
module S --silent
both read-silent read "$work/S"
both write-silent write "$work/S" --ip 10.0.0.31 "${quick[@]}"
stop S

for name in refuse no-apply return-as ignore-restart drop-mac refuse-reset ok-ack; do
    case $name in
    refuse) args=(--refuse "CHANGE IP:") ;;
    no-apply) args=(--no-apply) ;;
    return-as) args=(--return-as 02:00:00:00:00:99) ;;
    ignore-restart) args=(--ignore-restart) ;;
    drop-mac) args=(--drop-mac 1) ;;
    refuse-reset) args=(--refuse reset) ;;
    ok-ack) args=(--ack "CHANGE IP:=OK") ;;
    esac
    module F "${args[@]}"
    both "write-$name" write "$work/F" --ip 10.0.0.31 --tcp-port 10001 --record "$work/record.csv" \
        "${quick[@]}"
    stop F
done

# Commissioning and auditing: two ports, two rows on the second.
module A --mac 02:00:00:00:00:01
module B --mac 02:00:00:00:00:02
printf 'port,ip,tcp_port\n%s,10.0.0.1,10001\n%s,10.0.0.2,10002\n' "$work/A" "$work/B" >"$work/plan.csv"
both commission-verified commission "$work/plan.csv" --record "$work/record.csv" "${quick[@]}"
both audit-matches audit "$work/plan.csv" --record "$work/record.csv" --reply-timeout 300
printf 'port,ip,tcp_port\n%s,10.0.0.1,10001\n%s,10.0.0.9,10002\n' "$work/A" "$work/B" >"$work/differs.csv"
both audit-differs audit "$work/differs.csv" --record "$work/record.csv" --reply-timeout 300
both commission-dry-run commission "$work/plan.csv" --dry-run
printf 'port,ip,colour\n%s,10.0.0.256,red\n%s,10.0.0.1,\n%s,10.0.0.1,\n' "$work/A" "$work/B" "$work/B" \
    >"$work/bad.csv"
both commission-bad-plan commission "$work/bad.csv"
printf 'port,ip\n%s,10.0.0.1\n%s,10.0.0.2\n' "$work/A" "$work/A" >"$work/swap.csv"
both commission-not-reached commission "$work/swap.csv" --swap-timeout 1 \
    --record "$work/record.csv" "${quick[@]}"
stop B
printf 'port,ip\n%s,10.0.0.1\n%s,10.0.0.2\n' "$work/A" "$work/gone" >"$work/gone.csv"
both commission-port-missing commission "$work/gone.csv" --swap-timeout 1 "${quick[@]}"

# Interrupted while it waits for the next module.
for signal in INT TERM; do
    # The previous run's words must not be taken for this one's prompt.
    rm -f "$work/record.csv" "$work/stderr"
    settle
    code=0
    # With job control on: a script's background command would otherwise
    # ignore SIGINT, and so would ordan-cli (as under nohup).
    set -m
    "$cli" commission "$work/swap.csv" --record "$work/record.csv" "${quick[@]}" --json \
        >"$work/stdout" 2>"$work/stderr" &
    runner=$!
    set +m
    for _ in $(seq 600); do
        grep -q "connect the next module" "$work/stderr" 2>/dev/null && break
        sleep 0.05
    done
    sleep 0.2
    kill -"$signal" "$runner"
    wait "$runner" || code=$?
    {
        echo "exit $code"
        echo "--- stdout"
        normal <"$work/stdout"
        echo "--- stderr"
        normal <"$work/stderr"
        echo "--- record (rows sorted: ports run side by side)"
        [[ ! -f $work/record.csv ]] || normal <"$work/record.csv" | sorted
    } >"$out/commission-interrupted-$signal"
done

# A port another run holds.
"$cli" commission "$work/gone.csv" >/dev/null 2>&1 &
holder=$!
pids+=($holder)
sleep 1
both port-in-use read "$work/gone"
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
stop A
echo "Wrote $(ls "$out" | wc -l) outputs to $out"
