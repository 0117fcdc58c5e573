#!/bin/sh
# Runs one test of netns_adapters in a network namespace of its own, with the
# veth adapters that its suite expects (see netns_adapters.cpp). Tests run in
# parallel under ctest, so each one needs adapters that no other test sees.
# A Windows program runs under Wine with a wineserver of its own, started
# inside the namespace: Wine asks its server for the adapters and sockets.
#
#   netns_adapters.sh PROGRAM Suite.Test
set -eu

program=$1
test_name=$2

# A namespace of its own even inside the test runner's.
netns_guard=TANDRELO_ADAPTER_NETNS
. "$(dirname "$0")/enter_netns.sh"

# pair NAME: a veth pair NAME0/NAME1 with the peer end NAME1 up.
pair() {
    ip link add "${1}0" type veth peer name "${1}1"
    ip link set "${1}1" up
}

case "$test_name" in
NetnsUsable.*)
    pair vethA
    ip link set vethA0 up
    ip addr add 169.254.7.7/16 dev vethA0
    ip addr add 10.1.0.1/24 dev vethA0
    ip addr add 10.1.0.2/24 dev vethA0
    pair vethB
    ip link set vethB0 up
    ip addr add 10.2.0.1/24 dev vethB0
    ip route add default via 10.2.0.254 dev vethB0
    pair vethC
    ip link set vethC0 up
    ip addr add 169.254.5.5/16 dev vethC0
    pair vethD
    ip addr add 10.4.0.1/24 dev vethD0
    ;;
NetnsNone.*)
    pair vethC
    ip link set vethC0 up
    ip addr add 169.254.5.5/16 dev vethC0
    pair vethD
    ip addr add 10.4.0.1/24 dev vethD0
    ;;
NetnsCarrier.*)
    pair vethA
    ip link set vethA0 up
    ip link set vethA1 down
    ip addr add 10.1.0.1/24 dev vethA0
    pair vethB
    ip link set vethB0 up
    ip addr add 10.2.0.1/24 dev vethB0
    ip route add 10.9.0.0/16 via 10.2.0.254 dev vethB0
    ;;
NetnsMany.*)
    # 40 usable adapters (and 40 peers): more than the list holds, and more
    # than the first 15360-byte buffer of the Windows adapter query.
    for i in $(seq 10 49); do
        echo "link add m${i}0 type veth peer name m${i}1"
        echo "link set m${i}1 up"
        echo "link set m${i}0 up"
        echo "addr add 10.0.${i}.1/24 dev m${i}0"
    done | ip -batch -
    ;;
*)
    echo "netns_adapters.sh: no set-up for $test_name" >&2
    exit 2
    ;;
esac

# The kernel marks a link operationally up a moment after its carrier comes
# on: wait until every link that is up and has a carrier shows it.
waiting() {
    ip -o link show | grep '[<,]UP[,>]' | grep -v 'NO-CARRIER' |
        grep -v -q 'state UP\|state UNKNOWN'
}
i=0
while waiting && [ "$i" -lt 50 ]; do
    sleep 0.05
    i=$((i + 1))
done

log=$(mktemp)
cleanup() { rm -f "$log"; }
trap cleanup EXIT

case "$program" in
*.exe)
    # A prefix made once per build folder, then a hard-linked copy per test;
    # the registry files, which the server rewrites, are copied for real.
    dir=$(cd "$(dirname "$program")" && pwd)
    template="$dir/wineprefix-netns"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    (
        flock 9
        if [ ! -f "$template/system.reg" ]; then
            rm -rf "$template"
            WINEPREFIX="$template" wineboot -i >/dev/null 2>&1 || true
            WINEPREFIX="$template" wineserver -w
        fi
    ) 9>"$template.lock"
    prefix=$(mktemp -d "$dir/wineprefix-run.XXXXXX")
    cp -al "$template/." "$prefix/"
    for reg in "$prefix"/*.reg; do
        cp --remove-destination "$template/$(basename "$reg")" "$reg"
    done
    export WINEPREFIX="$prefix"
    cleanup() {
        WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
        WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
        rm -rf "$prefix" "$log"
    }
    wineserver -p </dev/null >/dev/null 2>&1
    # The 64-bit loader itself (Debian keeps it out of PATH), started without
    # address randomisation where that is allowed: now and then a randomised
    # Wine start fails to map its shared data and dies at once.
    loader=wine
    for candidate in /usr/lib/wine/wine64 /usr/lib64/wine/wine64 "$(command -v wine64 || true)"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then loader=$candidate; break; fi
    done
    set -- "$loader"
    if setarch x86_64 -R true 2>/dev/null; then set -- setarch x86_64 -R "$loader"; fi
    status=0
    "$@" "$program" --gtest_filter="$test_name" >"$log" 2>&1 || status=$?
    ;;
*)
    status=0
    "$program" --gtest_filter="$test_name" >"$log" 2>&1 || status=$?
    ;;
esac

cat "$log"
# A name that matches no test would pass silently.
if [ "$status" = 0 ] && ! grep -q '^\[  PASSED  \] 1 test\.' "$log"; then
    echo "netns_adapters.sh: $test_name did not run" >&2
    status=1
fi
exit "$status"
