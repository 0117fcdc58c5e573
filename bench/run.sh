#!/usr/bin/env bash
# Benchmarks of the responder, run by hand (never by ctest or CI).
#
#   bench/run.sh [scenario]   the reply-path table: the library's responder,
#                             the floor and, where python3-zeroconf is
#                             installed, a zeroconf peer, each under the load
#                             generator
#   bench/run.sh micro        the Google Benchmark micro-benchmarks
#   bench/run.sh footprint    static memory, resident memory, sizes, threads
#   bench/run.sh all          the three, in this order
#   bench/run.sh browse       finding services that already exist: the
#                             library's browser beside avahi-browse and
#                             python3-zeroconf on two hosts of one link
#                             (bench/browse.sh, which says more; root only)
#
# Environment: TANDRELO_BENCH_BUILD (build folder, default build-bench),
# TANDRELO_BENCH_SECONDS (length of one load run, default 3),
# TANDRELO_BENCH_REPEATS (runs per row, default 5; the table shows medians),
# TANDRELO_BENCH_RT=1 (servers and load generator under the real-time FIFO
# policy, root only: other work on a busy machine then hardly interrupts
# them, while the kernel still leaves 5 % of each CPU to everything else).
#
# Everything that opens a socket runs inside a private network namespace that
# this script creates (as root with unshare -n, otherwise unshare -rn): only
# loopback exists there, with 224.0.0.0/4 routed to it.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${TANDRELO_BENCH_BUILD:-$here/build-bench}
seconds=${TANDRELO_BENCH_SECONDS:-3}
repeats=${TANDRELO_BENCH_REPEATS:-5}
what=${1:-scenario}

case "$what" in
    scenario|micro|footprint|all) ;;
    browse) exec bash "$here/bench/browse.sh" ;;
    *) echo "usage: $0 [scenario|micro|footprint|all|browse]" >&2; exit 2 ;;
esac

if [ "${TANDRELO_IN_NETNS:-}" != 1 ]; then
    # Build first, outside the namespace: nothing here opens a socket. A new
    # build folder gets the benchmarks alone; an existing one keeps its setup.
    fresh=()
    if [ ! -f "$build/CMakeCache.txt" ]; then
        fresh=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDRELO_MDNS_TESTS=OFF -DTANDRELO_MDNS_EXAMPLES=OFF)
    fi
    cmake -S "$here" -B "$build" -DTANDRELO_MDNS_BENCH=ON "${fresh[@]}" >/dev/null
    cmake --build "$build" -j 2 --target tandrelo-mdns bench_loadgen bench_floor \
          bench_responder_host $(grep -q '^benchmark_DIR:PATH=/' "$build/CMakeCache.txt" && echo bench_micro)
fi
netns_guard=TANDRELO_IN_NETNS netns_shell=bash netns_missing=2
. "$here/tests/enter_netns.sh"

bin=$build/bench
work=$(mktemp -d)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The server side on the first CPU, the load generator on the second, the
# same for every server. With a single CPU nothing is pinned.
rt=()
if [ "${TANDRELO_BENCH_RT:-0}" = 1 ]; then rt=(chrt -f 50); fi
if [ "$(nproc)" -ge 2 ]; then
    server_cpu=(taskset -c 0 "${rt[@]}")
    client_cpu=(taskset -c 1 "${rt[@]}")
else
    server_cpu=("${rt[@]}")
    client_cpu=("${rt[@]}")
fi

machine() {
    local cpu
    cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
    echo "Machine: $cpu, $(nproc) CPUs, Linux $(uname -r)"
    echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# CPU time of every thread of a process so far, in nanoseconds.
cpu_ns() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'
}

# Waits until a server has printed "ready" into its output file.
wait_ready() {
    local i
    for i in $(seq 100); do
        grep -q ready "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "bench: a server did not start: $(cat "$1")" >&2
    return 1
}

# One load run: prints "rps p50 p99 cpu_us_per_reply".
load_run() {
    local pid=$1 port=$2 name=$3 type=$4 window=$5
    local before after out
    before=$(cpu_ns "$pid")
    out=$("${client_cpu[@]}" "$bin/bench_loadgen" --target 127.0.0.1 --port "$port" --name "$name" \
          --type "$type" --window "$window" --duration "$seconds")
    after=$(cpu_ns "$pid")
    echo "$out" | awk -v cpu=$((after - before)) '{
        for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        printf "%s %s %s %.2f\n", v["rps"], v["p50_us"], v["p99_us"], (v["replies"] > 0 ? cpu / 1000 / v["replies"] : 0)
    }'
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# Each round runs every server once, back to back, so the fairest comparison
# with the floor is made within a round: the median over the rounds of a
# server's replies/s divided by the floor's, and of its p99 minus the floor's.
# Arguments: server, query type, window.
ratio_to_floor() {
    paste -d' ' "$work/$1-$2-$3" "$work/floor-$2-$3" |
        awk '{ r = 0; if ($5 > 0) r = $1 / $5; print r }' | median
}
p99_over_floor() {
    paste -d' ' "$work/$1-$2-$3" "$work/floor-$2-$3" | awk '{ print $3 - $7 }' | median
}

scenario() {
    machine
    echo "Each row: the median of $repeats rounds of $seconds s; server on CPU 0, load generator on CPU 1$([ ${#rt[@]} -gt 0 ] && echo ', both real-time (FIFO)')."
    echo "\"vs floor\": the median over the rounds of replies/s divided by the floor's in the same round."
    echo

    # The library's responder, then a reply of each kind saved for the floor.
    "${server_cpu[@]}" "$bin/bench_responder_host" --port 5354 --seconds 3600 >"$work/library.out" &
    pids+=($!)
    local library=$!
    wait_ready "$work/library.out"
    sleep 0.5  # the start-up announcements
    "${client_cpu[@]}" "$bin/bench_loadgen" --target 127.0.0.1 --port 5354 --name bench.local --type A \
        --window 1 --duration 0.5 --save-reply "$work/reply-A.bin" >/dev/null
    "${client_cpu[@]}" "$bin/bench_loadgen" --target 127.0.0.1 --port 5354 --name _http._tcp.local \
        --type PTR --window 1 --duration 0.5 --save-reply "$work/reply-PTR.bin" >/dev/null

    # The floor, one per reply kind, each on its own port.
    "${server_cpu[@]}" "$bin/bench_floor" --port 5355 --reply "$work/reply-A.bin" --seconds 600 &
    pids+=($!)
    local floor_a=$!
    "${server_cpu[@]}" "$bin/bench_floor" --port 5356 --reply "$work/reply-PTR.bin" --seconds 600 &
    pids+=($!)
    local floor_ptr=$!

    # The peer answers on port 5353, its unicast replies to the generator's port.
    local peer=""
    if /usr/bin/python3 -c 'import zeroconf' 2>/dev/null; then
        "${server_cpu[@]}" /usr/bin/python3 "$here/bench/zeroconf_peer.py" --seconds 3600 >"$work/peer.out" 2>&1 &
        pids+=($!)
        peer=$!
        wait_ready "$work/peer.out"
    fi
    sleep 0.5

    echo "| Server | Query | Window | Replies/s | p50 µs | p99 µs | CPU µs/reply | Replies/s vs floor |"
    echo "|---|---|---:|---:|---:|---:|---:|---:|"
    local query type name window r server pid port
    for query in "A bench.local" "PTR _http._tcp.local"; do
        type=${query%% *}
        name=${query#* }
        for window in 1 32; do
            local servers="library floor"
            [ -n "$peer" ] && servers="$servers zeroconf"
            # Runs alternate between the servers, so a disturbance from
            # elsewhere on the machine falls on all of them alike.
            for r in $(seq "$repeats"); do
                for server in $servers; do
                    case "$server" in
                        library) pid=$library; port=5354 ;;
                        floor) if [ "$type" = A ]; then pid=$floor_a; port=5355; else pid=$floor_ptr; port=5356; fi ;;
                        zeroconf) pid=$peer; port=5353 ;;
                    esac
                    load_run "$pid" "$port" "$name" "$type" "$window" >>"$work/$server-$type-$window"
                done
            done
            for server in $servers; do
                local f="$work/$server-$type-$window" rps p50 p99 cpu ratio
                rps=$(cut -d' ' -f1 "$f" | median)
                p50=$(cut -d' ' -f2 "$f" | median)
                p99=$(cut -d' ' -f3 "$f" | median)
                cpu=$(cut -d' ' -f4 "$f" | median)
                ratio=$(ratio_to_floor "$server" "$type" "$window")
                awk -v s="$server" -v q="$type $name" -v w="$window" -v rps="$rps" -v p50="$p50" \
                    -v p99="$p99" -v cpu="$cpu" -v ratio="$ratio" 'BEGIN {
                    printf "| %s | %s | %d | %.0f | %.1f | %.1f | %.2f | %.2f |\n",
                           s, q, w, rps, p50, p99, cpu, ratio }'
            done
        done
    done
    echo
    # The goals: at window 32 the library reaches 90 % of the floor's
    # replies/s; at window 1 its p99 is within 20 µs of the floor's.
    for type in A PTR; do
        awk -v type="$type" -v ratio="$(ratio_to_floor library "$type" 32)" \
            -v p99="$(p99_over_floor library "$type" 1)" 'BEGIN {
            throughput = (ratio >= 0.9) ? "met" : "not met"
            latency = (p99 <= 20) ? "met" : "not met"
            printf "Goal %s: window 32 at %.0f %% of the floor (%s); window 1 p99 %+.1f µs from the floor (%s)\n",
                   type, 100 * ratio, throughput, p99, latency }'
    done
    echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    # Every round's figures stay for a closer look: one file per server,
    # query type and window, one line per round "replies/s p50 p99 cpu".
    rm -rf "$bin/last-rounds"
    mkdir -p "$bin/last-rounds"
    cp "$work"/library-* "$work"/floor-* "$bin/last-rounds/"
    if [ -n "$peer" ]; then cp "$work"/zeroconf-* "$bin/last-rounds/"; fi
    echo "Rounds: $bin/last-rounds/"
}

micro() {
    if [ ! -x "$bin/bench_micro" ]; then
        echo "bench: bench_micro is not built (Google Benchmark, Debian libbenchmark-dev, is missing)" >&2
        return 1
    fi
    machine
    "${server_cpu[@]}" "$bin/bench_micro" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
}

case "$what" in
    scenario) scenario ;;
    micro) micro ;;
    footprint) sh "$here/bench/footprint.sh" "$build" ;;
    all) scenario; echo; micro; echo; sh "$here/bench/footprint.sh" "$build" ;;
esac
