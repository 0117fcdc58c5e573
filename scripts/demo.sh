#!/usr/bin/env bash
# Builds the library and runs its main job, the responder, on its default
# settings (port 5353, host label "tandrelo") with one example service for
# a few seconds, and resolves it with dig when dig is installed. It runs
# inside a private network namespace, so nothing leaves this machine; on
# your own network, run build/examples/mdns_announce directly.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}

if [ "${TANDRELO_IN_NETNS:-}" != 1 ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target mdns_announce
    export TANDRELO_IN_NETNS=1
    if [ "$(id -u)" = 0 ]; then exec unshare -n -- "$0" "$@"; fi
    exec unshare -rn -- "$0" "$@"
fi

ip link set lo up
ip link set lo multicast on
ip route replace 224.0.0.0/4 dev lo

"$here/build/examples/mdns_announce" --service _http._tcp "Example Web" 8080 '{"path":"/"}' \
    --seconds "$seconds" &
pid=$!
sleep 1
if command -v dig >/dev/null; then
    echo "--- dig asks for tandrelo.local and the service:"
    dig -p 5353 @127.0.0.1 +time=1 +tries=1 +noall +answer tandrelo.local A || true
    dig -p 5353 @127.0.0.1 +time=1 +tries=1 +noall +answer +additional _http._tcp.local PTR || true
fi
wait $pid
