#!/bin/sh
# The library's footprint: static memory (size of the .so), resident memory
# of a host process with the responder and the browser running, binary sizes
# of the .so and the .dll, and threads.
#
#   bench/footprint.sh [BUILD]          BUILD defaults to build-bench
#
# The .dll is measured from BUILD-win/tandrelo-mdns.dll, cross-built there
# (library only) when mingw-w64 is installed. The host process runs inside a
# private network namespace (unshare -n as root, otherwise unshare -rn), like
# everything else that opens a socket here.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
so=$build/libtandrelo-mdns.so
host=$build/bench/bench_responder_host

if [ "${TANDRELO_IN_NETNS:-}" != 1 ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDRELO_MDNS_BENCH=ON \
              -DTANDRELO_MDNS_TESTS=OFF -DTANDRELO_MDNS_EXAMPLES=OFF >/dev/null
    fi
    cmake --build "$build" -j 2 --target tandrelo-mdns bench_responder_host bench_loadgen >/dev/null
    dll_build=$build-win
    if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
        if [ ! -f "$dll_build/CMakeCache.txt" ]; then
            cmake -S "$here" -B "$dll_build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
                  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDRELO_MDNS_TESTS=OFF \
                  -DTANDRELO_MDNS_EXAMPLES=OFF >/dev/null
        fi
        cmake --build "$dll_build" -j 2 --target tandrelo-mdns >/dev/null
    fi
fi
set -- "$build"
netns_guard=TANDRELO_IN_NETNS netns_missing=2
. "$here/tests/enter_netns.sh"

kib() { echo $(( ($1 + 1023) / 1024 )); }

echo "Static memory of $(basename "$(readlink -f "$so")") (size, Berkeley format):"
size "$so" | sed 's/^/    /'
set -- $(size "$so" | awk 'NR == 2 { print $1, $2, $3 }')
echo "    code and constants $(kib "$1") KiB; static data $(kib "$(($2 + $3))") KiB" \
     "($(kib "$2") KiB initialised, $(kib "$3") KiB zeroed)"
echo "Largest static objects:"
nm -S --size-sort -C "$so" | awk '$3 ~ /^[bBdD]$/' | tail -n 8 |
    while read -r address bytes kind name; do
        printf '    %6d KiB  %s\n' "$(kib "$((0x$bytes))")" "$name"
    done

stripped=$(mktemp)
strip -o "$stripped" "$so"
echo "Binary sizes:"
echo "    $(basename "$so") $(kib "$(stat -c %s "$(readlink -f "$so")")") KiB as built (with debug information)," \
     "$(kib "$(stat -c %s "$stripped")") KiB stripped"
rm -f "$stripped"
dll=$build-win/tandrelo-mdns.dll
if [ -f "$dll" ]; then
    stripped=$(mktemp)
    x86_64-w64-mingw32-strip -o "$stripped" "$dll"
    echo "    tandrelo-mdns.dll $(kib "$(stat -c %s "$dll")") KiB as built," \
         "$(kib "$(stat -c %s "$stripped")") KiB stripped (C++ runtime linked in statically)"
    rm -f "$stripped"
else
    echo "    tandrelo-mdns.dll: not built (mingw-w64 missing)"
fi

# Resident memory and threads of a host process: loaded only, then with the
# responder and the browser running after some queries.
status_of() { sed -n "s/^$2:[[:space:]]*//p" /proc/"$1"/status; }
out=$(mktemp)
"$host" --idle --seconds 30 >"$out" &
idle=$!
for i in $(seq 50); do grep -q ready "$out" && break; sleep 0.1; done
idle_rss=$(status_of $idle VmRSS)
idle_threads=$(status_of $idle Threads)
kill $idle

"$host" --port 5354 --browse --seconds 30 >"$out" &
busy=$!
for i in $(seq 50); do grep -q ready "$out" && break; sleep 0.1; done
"$build/bench/bench_loadgen" --target 127.0.0.1 --port 5354 --name _http._tcp.local --type PTR \
    --window 8 --duration 1 >/dev/null
echo "Host process (bench_responder_host):"
echo "    library loaded, nothing started: VmRSS $idle_rss, $idle_threads thread(s)"
echo "    responder and browser running, after 1 s of queries: VmRSS $(status_of $busy VmRSS)" \
     "(peak $(status_of $busy VmHWM)), $(status_of $busy Threads) threads" \
     "(the host's own and the library's receive thread; the browser shares it)"
kill $busy
wait 2>/dev/null || true
rm -f "$out"
