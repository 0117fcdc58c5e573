#!/bin/sh
# Runs zeroconf_browse.py in a network namespace of its own: the peer binds
# port 5353, which no other test may share, and nothing may leave the
# machine. Exits 77 (skipped) when no namespace can be made.
# usage: zeroconf_browse.sh PYTHON LIBRARY
set -eu
if [ "${TANDRELO_PEER_NETNS:-}" != 1 ]; then
    export TANDRELO_PEER_NETNS=1
    if unshare -n true 2>/dev/null; then
        exec unshare -n -- sh "$0" "$@"
    fi
    if unshare -rn true 2>/dev/null; then
        exec unshare -rn -- sh "$0" "$@"
    fi
    echo "skipped: cannot create a private network namespace" >&2
    exit 77
fi
ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo
exec "$1" "$(dirname "$0")/zeroconf_browse.py" "$2"
