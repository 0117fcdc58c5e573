#!/usr/bin/env bash
# Builds the library and its command-line tool and shows the main job end to
# end: `tandrelo-mdns announce` answers for a host and a service on one side
# of a virtual link, and the tool's own browse and resolve find them from the
# other side (and dig asks too when it is installed). Both sides are private
# network namespaces that this script makes and that vanish with it, joined
# by a veth pair, so nothing leaves this machine; on your own network, run
# build/tools/tandrelo-mdns directly.
#
#   scripts/demo.sh [SECONDS]      the announcer runs for SECONDS (default 12)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tool=$here/build/tools/tandrelo-mdns
seconds=${1:-12}

# The announcing side, started by the browsing side below: waits for its end
# of the link, takes 10.77.0.2 and announces.
if [ "${1:-}" = --announcing-side ]; then
    i=0
    until ip link show vethB >/dev/null 2>&1 || [ "$i" -ge 100 ]; do sleep 0.05; i=$((i + 1)); done
    ip link set lo up
    ip link set vethB up
    ip addr add 10.77.0.2/24 dev vethB
    ip route replace 224.0.0.0/4 dev vethB
    exec "$tool" announce --hostname kitchen --addr 10.77.0.2 --seconds "$2" \
        --service _http._tcp "Kitchen Web" 8080 path=/ --service _ipp._tcp Printer 631 rp=queue1
fi

if [ "${TANDRELO_IN_NETNS:-}" != 1 ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target tandrelo-mdns-cli
    export TANDRELO_IN_NETNS=1
    if [ "$(id -u)" = 0 ]; then exec unshare -n -- "$0" "$@"; fi
    exec unshare -rn -- "$0" "$@"
fi

# The browsing side: this namespace, at 10.77.0.1.
ip link set lo up
work=$(mktemp -d)
announcer=
trap '[ -z "$announcer" ] || kill -INT "$announcer" 2>/dev/null || true; rm -rf "$work"' EXIT

# The browser starts first, so that it hears the announcements.
ip link add vethA type veth peer name vethB
ip link set vethA up
ip addr add 10.77.0.1/24 dev vethA
ip route replace 224.0.0.0/4 dev vethA
"$tool" browse -r -t >"$work/browse" 2>&1 &
browser=$!
sleep 0.3
unshare -n -- "$0" --announcing-side "$seconds" >"$work/announce" 2>&1 &
announcer=$!
# The link end moves once the announcer has its own namespace: moved
# before, it would stay here.
i=0
while [ "$(readlink /proc/$announcer/ns/net 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ] &&
    [ "$i" -lt 200 ]; do
    sleep 0.01
    i=$((i + 1))
done
ip link set vethB netns "$announcer"
i=0
until grep -q announcing "$work/announce" || [ "$i" -ge 100 ]; do sleep 0.05; i=$((i + 1)); done

echo "=== at 10.77.0.2, in a namespace of its own:"
echo "\$ tandrelo-mdns announce --hostname kitchen --addr 10.77.0.2 --seconds $seconds \\"
echo "      --service _http._tcp \"Kitchen Web\" 8080 path=/ --service _ipp._tcp Printer 631 rp=queue1"
cat "$work/announce"
wait "$browser" || true
echo
echo "=== at 10.77.0.1, across the link:"
echo "\$ tandrelo-mdns browse -r -t"
cat "$work/browse"
echo "\$ tandrelo-mdns resolve kitchen.local"
"$tool" resolve kitchen.local || true
echo "\$ tandrelo-mdns resolve \"Kitchen Web._http._tcp.local\""
"$tool" resolve "Kitchen Web._http._tcp.local" || true
if command -v dig >/dev/null; then
    echo "\$ dig -p 5353 @10.77.0.2 +noall +answer kitchen.local A"
    dig -p 5353 @10.77.0.2 +time=1 +tries=1 +noall +answer kitchen.local A || true
    echo "(dig prints the class as CLASS32769: 32768, the cache-flush bit of mDNS,"
    echo " plus 1 for IN; and it shows the data in generic form, \\# 4 0A4D0002 being"
    echo " 10.77.0.2, since it knows no record layout for that class. The reply"
    echo " repeats no question either: dig's header would say QUERY: 0.)"
fi
kill -INT "$announcer" 2>/dev/null || true
wait "$announcer" || true
announcer=
echo
echo "=== the announcer, stopped:"
tail -n 2 "$work/announce"
