#!/bin/sh
# Two hosts on one link, for netns_off_link.py: this test's own network
# namespace is host A, where the library runs; a child namespace, held open
# by a sleeping process, is host B. A veth pair joins them:
#
#   A  vethL0  10.61.0.1/24, and a route to 10.62.0.5 via 10.61.0.2
#   B  vethL1  10.61.0.2/24
#      lo      10.62.0.5/32: an address from outside every subnet of A
#
# Everything lives inside the namespace that enter_netns.sh makes and goes
# with it; the holder process is ended on exit.
#
#   netns_off_link.sh PYTHON LIBRARY
set -eu

python=$1
library=$2

netns_guard=TANDRELO_OFF_LINK_NETNS
. "$(dirname "$0")/enter_netns.sh"

if ! command -v nsenter >/dev/null 2>&1; then
    echo "netns_off_link.sh: nsenter is missing (util-linux)" >&2
    exit 77
fi

unshare -n sleep 120 &
holder=$!
trap 'kill "$holder" 2>/dev/null || true' EXIT
# The holder has its namespace once its link differs from ours.
i=0
while [ "$(readlink "/proc/$holder/ns/net" 2>/dev/null || true)" = "$(readlink /proc/self/ns/net)" ] \
      && [ "$i" -lt 100 ]; do
    sleep 0.02
    i=$((i + 1))
done
in_b() { nsenter -t "$holder" -n "$@"; }
in_b true

ip link add vethL0 type veth peer name vethL1
ip link set vethL1 netns "$holder"
ip addr add 10.61.0.1/24 dev vethL0
ip link set vethL0 up
in_b ip link set lo up
in_b ip addr add 10.61.0.2/24 dev vethL1
in_b ip link set vethL1 up
in_b ip addr add 10.62.0.5/32 dev lo
ip route add 10.62.0.5/32 via 10.61.0.2 dev vethL0

# Wait until the link is up at both ends.
i=0
while ! ip -o link show vethL0 | grep -q 'state UP' && [ "$i" -lt 100 ]; do
    sleep 0.05
    i=$((i + 1))
done

"$python" "$(dirname "$0")/netns_off_link.py" "$library" "$holder"
