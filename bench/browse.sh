#!/usr/bin/env bash
# Finding services that already exist, run by hand (never by ctest or CI):
#
#   bench/browse.sh            (also: bench/run.sh browse)
#
# Two hosts on one link (tests/peers/lan.sh: a bridge, a network namespace
# per host, both ends of every veth inside the script's namespaces). On
# host 1, python3-zeroconf publishes N services (N = 1, 20, 64; over 1, 4
# and 8 types; TXT of 100 bytes) and the benchmark waits until host 1 has
# been silent for 2 s: its announcements are over. Then, on host 2, each
# browser is started fresh, one after the other, and the time from its start
# until every service is resolved (port, target host, TXT, the host's
# address) is taken:
#
#   library        mdns_browse_start on its own socket (ctypes), the browse
#                  report read every 5 ms
#   avahi          `avahi-browse -art -t -p` against an Avahi daemon started
#                  for that run alone (private D-Bus and /run, empty cache)
#   zeroconf       python3-zeroconf's AsyncServiceBrowser on the N services'
#                  types, an AsyncServiceInfo request per instance
#   zeroconf-enum  the same, but the types are found first through the
#                  service-type enumeration name, as the other two do
#
# A raw packet socket on the bridge side of the hosts' veth pairs counts the
# queries (QR clear) that host 2 sends to 224.0.0.251:5353 from the
# browser's start until it has everything, and the unicast replies it gets
# (answers to questions that ask for one). The table gives medians. Every row is the median of
# TANDRELO_BENCH_REPEATS runs (default 5); between runs host 1 is left
# silent for 1 s, so that no answer is held back by its once-a-second limit
# per record. Each run is cut off after TANDRELO_BENCH_BROWSE_TIMEOUT seconds
# (default 10). The capture and every run's output stay in
# build-bench/bench/last-browse/.
#
# Needs root (namespaces, nsenter, bridge), Avahi (avahi-daemon, avahi-utils,
# dbus) and python3-zeroconf; exits 77 when one of them is missing.
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TANDRELO_BENCH_BUILD:-$here/build-bench}
repeats=${TANDRELO_BENCH_REPEATS:-5}
limit=${TANDRELO_BENCH_BROWSE_TIMEOUT:-10}
counts=${TANDRELO_BENCH_BROWSE_COUNTS:-1 20 64}
py=/usr/bin/python3
peers=$here/bench/browse_peers.py

if [ "${TANDRELO_LAN_NETNS:-}" != 1 ]; then
    # Build first, outside the namespaces: the library alone.
    set -euo pipefail
    fresh=()
    if [ ! -f "$build/CMakeCache.txt" ]; then
        fresh=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDRELO_MDNS_TESTS=OFF -DTANDRELO_MDNS_EXAMPLES=OFF)
    fi
    cmake -S "$here" -B "$build" -DTANDRELO_MDNS_BENCH=ON "${fresh[@]}" >/dev/null
    cmake --build "$build" -j 2 --target tandrelo-mdns >/dev/null
    if ! "$py" -c 'import zeroconf' 2>/dev/null; then
        echo "skipped: python3-zeroconf is not installed (apt-get install python3-zeroconf)"
        exit 77
    fi
fi
. "$here/tests/peers/lan.sh"

lib=$build/libtandrelo-mdns.so
out=$build/bench/last-browse
rm -rf "$out"
mkdir -p "$out"
capture=$out/capture.log
results=$out/runs.txt
: >"$results"

machine() {
    local cpu
    cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
    echo "Machine: $cpu, $(nproc) CPUs, Linux $(uname -r)"
    echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# Waits until host $1 has sent nothing to the group for $2 seconds (at most
# 30 s in all).
wait_quiet() {
    local deadline=$((SECONDS + 30)) last
    while [ "$SECONDS" -lt "$deadline" ]; do
        last=$(awk -v h="$1" '$2 == h { t = $1 } END { printf "%.6f\n", t + 0 }' "$capture")
        if awk -v last="$last" -v now="$EPOCHREALTIME" -v q="$2" 'BEGIN { exit !(now - last >= q) }'; then
            return 0
        fi
        sleep 0.1
    done
    fail "host $1 did not fall silent"
}

# Runs a command in host 2, cut off when a run overstays its limit.
on_browser() {
    timeout -k 2 $((limit + 20)) nsenter -t "$lan_host_2" -n -- "$@"
}

avahi_pids=()
avahi_fresh() {
    local before=${#lan_pids[@]}
    rm -rf "$lan_dir/avahi2"
    lan_avahi 2
    avahi_pids=("${lan_pids[@]:before}")
}
avahi_end() {
    local pid
    for pid in "${avahi_pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
    for pid in "${avahi_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    avahi_pids=()
}

# One run: appends "N browser run status/found milliseconds queries
# questions other unicast" to the results: the queries host 2 sent to the
# group, the questions in them, any other datagram it sent (a unicast one, a
# response) and the unicast replies it received.
run_one() {
    local browser=$1 n=$2 types=$3 r=$4 file="$out/run-$1-$2-$4.out"
    case "$browser" in
        library) on_browser "$py" "$peers" library "$lib" "$n" "$types" 10.77.0.1 "$limit" >"$file" 2>&1 || echo "exit status $?" >>"$file" ;;
        zeroconf) on_browser "$py" "$peers" zeroconf 10.77.0.2 "$n" "$types" 10.77.0.1 "$limit" >"$file" 2>&1 || echo "exit status $?" >>"$file" ;;
        zeroconf-enum) on_browser "$py" "$peers" zeroconf 10.77.0.2 "$n" "$types" 10.77.0.1 "$limit" \
                           --enumerate >"$file" 2>&1 || echo "exit status $?" >>"$file" ;;
        avahi)
            avahi_fresh
            on_browser env "$(avahi_bus 2)" "$py" "$peers" avahi "$n" "$types" 10.77.0.1 "$limit" >"$file" 2>&1 || echo "exit status $?" >>"$file"
            avahi_end ;;
    esac
    sleep 0.3  # the capture's last lines
    local start end status found
    start=$(awk '$1 == "start" { print $2 }' "$file")
    read -r status end found < <(awk '$1 == "resolved" || $1 == "timeout" { print $1, $2, $3 }' "$file") || true
    if [ -z "$start" ] || [ -z "${end:-}" ]; then
        echo "bench: $browser for N=$n gave no result: $(head -c 400 "$file")" >&2
        start=${start:-0} end=${start:-0} status=failed found=0
    fi
    awk -v n="$n" -v b="$browser" -v r="$r" -v st="$status" -v found="$found" -v s="$start" -v e="$end" '
        $1 < s || $1 > e { next }
        $2 == 2 && $3 == "group" && $4 == 0 { q++; qs += $5; next }
        $2 == 2 { other++ }
        $2 != 2 && $3 == "10.77.0.2" { unicast++ }
        END { printf "%d %s %d %s/%d %.0f %d %d %d %d\n", n, b, r, st, found, (e - s) * 1000,
                     q, qs, other, unicast }' "$capture" >>"$results"
    # What both hosts sent during the run, in ms from the browser's start.
    awk -v s="$start" -v e="$end" '$1 >= s && $1 <= e + 0.5 {
        $1 = sprintf("%+8.1f", ($1 - s) * 1000); print }' "$capture" >"$out/timeline-$browser-$n-$r.txt"
}

median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

for h in 1 2; do lan_host "$h"; done
lan_bg counter 0 "$py" "$peers" count "$capture" >"$out/count.out" 2>&1
wait_for_line 10 "$out/count.out" '^ready' || fail "the capture did not start: $(cat "$out/count.out")"

began=$SECONDS
machine
echo "Publisher: python3-zeroconf $("$py" -c 'import zeroconf; print(zeroconf.__version__)') on host 1;" \
     "$(avahi-daemon --version 2>/dev/null | head -n 1) for avahi-browse; $repeats runs per row," \
     "each cut off after $limit s"
echo
browsers="library avahi zeroconf zeroconf-enum"
for n in $counts; do
    types=$((n / 5 > 8 ? 8 : (n / 5 < 1 ? 1 : n / 5)))
    lan_bg publisher 1 "$py" "$peers" publish 10.77.0.1 "$n" "$types" >"$out/publisher-$n.out" 2>&1
    wait_for_line 60 "$out/publisher-$n.out" '^ready' || fail "the publisher did not start: $(cat "$out/publisher-$n.out")"
    wait_quiet 1 2.0
    for r in $(seq "$repeats"); do
        for browser in $browsers; do
            run_one "$browser" "$n" "$types" "$r"
            wait_quiet 1 1.0
        done
    done
    kill -- "-$publisher" 2>/dev/null || true
    wait "$publisher" 2>/dev/null || true
done

echo "| N | Browser | Time to all resolved, ms | Queries to the group | Questions in them | Unicast replies received | Runs that resolved all |"
echo "|---:|---|---:|---:|---:|---:|---:|"
for n in $counts; do
    for browser in $browsers; do
        rows=$(awk -v n="$n" -v b="$browser" '$1 == n && $2 == b' "$results")
        col() { echo "$rows" | cut -d' ' -f"$1" | median; }
        ok=$(echo "$rows" | grep -c ' resolved/' || true)
        echo "| $n | $browser | $(col 5) | $(col 6) | $(col 7) | $(col 9) | $ok of $repeats |"
        other=$(echo "$rows" | awk '{ s += $8 } END { print s + 0 }')
        [ "$other" = 0 ] || echo "bench: $browser for N=$n also sent $other other datagrams" >&2
    done
done
echo
for n in $counts; do
    awk -v n="$n" '$1 == n { t[$2] = t[$2] " " $5; q[$2] = q[$2] " " $6 }
        END { for (b in t) printf "N=%d %s: ms%s; queries%s\n", n, b, t[b], q[b] }' "$results" | sort
done
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); the whole benchmark took $((SECONDS - began)) s"
echo "Runs, capture and timelines: $out/"
