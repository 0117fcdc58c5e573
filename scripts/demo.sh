#!/usr/bin/env bash
# Builds the library and its command-line tool and runs the tool's main job,
# `tandrelo-mdns announce`, on its defaults (port 5353, host name
# tandrelo.local, the address of the adapter with the gateway) for a few
# seconds, and resolves the host with dig when dig is installed. It runs
# inside a private network namespace, so nothing leaves this machine; on your
# own network, run build/tools/tandrelo-mdns directly.
#
#   scripts/demo.sh [SECONDS]      default 5
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}

if [ "${TANDRELO_IN_NETNS:-}" != 1 ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target tandrelo-mdns-cli
    export TANDRELO_IN_NETNS=1
    if [ "$(id -u)" = 0 ]; then exec unshare -n -- "$0" "$@"; fi
    exec unshare -rn -- "$0" "$@"
fi

# Inside the namespace only loopback exists, so the address auto-detection
# falls back to 127.0.0.1 and says so.
ip link set lo up
ip link set lo multicast on
ip route replace 224.0.0.0/4 dev lo

echo "\$ tandrelo-mdns announce --seconds $seconds"
"$here/build/tools/tandrelo-mdns" announce --seconds "$seconds" &
pid=$!
trap 'kill -INT $pid 2>/dev/null || true' EXIT
sleep 1
if command -v dig >/dev/null; then
    echo "--- dig asks for tandrelo.local:"
    dig -p 5353 @127.0.0.1 +time=1 +tries=1 +noall +answer tandrelo.local A || true
fi
wait $pid
trap - EXIT
