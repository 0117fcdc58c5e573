# Sourced by the peer tests that need several hosts on one link (bash).
# Runs the calling script again in a network namespace of its own, with a
# bridge "lanbr" in it; each host is a network namespace below that one, held
# by a sleeping process and joined to the bridge by a veth pair whose other
# end is the host's adapter "lan0" (10.77.0.N/24, multicast routed to it).
# Both ends of every veth stay inside the test's namespaces, and everything
# that lan_bg started is stopped when the script exits. Scripts outside this
# folder may source it too (bench/browse.sh does).
#
#   lan_host N               makes host N
#   on_host N CMD...         runs CMD in host N's network namespace
#   lan_bg VAR N CMD...      runs CMD in the background in host N (0: the
#                            test's own namespace), in a process group of its
#                            own that is ended at exit; the process id of CMD
#                            goes into VAR
#   lan_avahi N              starts an Avahi daemon in host N, with a private
#                            D-Bus system bus and a private /run
#   avahi_bus N              prints DBUS_SYSTEM_BUS_ADDRESS=... for host N's
#                            daemon (for env, before an Avahi client)
#   wait_for_line SECONDS FILE REGEX   waits until a line of FILE matches
#   fail TEXT...             prints the text and exits 1
#   skip TEXT...             prints the text and exits 77 (skipped)
netns_guard=TANDRELO_LAN_NETNS
netns_shell=bash
. "$(dirname "${BASH_SOURCE[0]}")/../enter_netns.sh"
set -euo pipefail

lan_dir=$(mktemp -d)
lan_pids=()
lan_cleanup() {
    local pid
    for pid in "${lan_pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
    for pid in "${lan_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$lan_dir"
}
trap lan_cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "skipped: $*"; exit 77; }

# A background job of a script is no process group leader, so setsid makes
# it one without forking: the job's process id names its group.
lan_bg() {
    local lan_var=$1 lan_holder="lan_host_$2"
    if [ "$2" = 0 ]; then
        shift 2
        setsid "$@" &
    else
        shift 2
        setsid nsenter -t "${!lan_holder}" -n -- "$@" &
    fi
    lan_pids+=("$!")
    printf -v "$lan_var" %s "$!"
}

on_host() {
    local holder="lan_host_$1"
    shift
    nsenter -t "${!holder}" -n -- "$@"
}

wait_for_line() {
    local deadline=$((SECONDS + $1))
    until grep -qE -- "$3" "$2" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

ip link add lanbr type bridge forward_delay 0 mcast_snooping 0
ip link set lanbr up

lan_host() {
    local pid
    lan_bg pid 0 unshare -n sleep infinity
    while [ "$(readlink "/proc/$pid/ns/net")" = "$(readlink /proc/self/ns/net)" ]; do
        sleep 0.01
    done
    printf -v "lan_host_$1" %s "$pid"
    ip link add "lanh$1" type veth peer name lan0 netns "/proc/$pid/ns/net"
    ip link set "lanh$1" master lanbr up
    on_host "$1" sh -ec "
        ip link set lo up
        ip link set lo multicast on
        ip addr add 10.77.0.$1/24 dev lan0
        ip link set lan0 up
        ip route replace 224.0.0.0/4 dev lan0"
    local i=0
    until on_host "$1" ip -o link show lan0 | grep -q 'state UP'; do
        [ "$i" -lt 100 ] || fail "host $1: lan0 never came up"
        sleep 0.05
        i=$((i + 1))
    done
}

lan_avahi() {
    command -v avahi-daemon >/dev/null && command -v avahi-browse >/dev/null &&
        command -v dbus-daemon >/dev/null ||
        skip "Avahi or D-Bus missing (apt-get install avahi-daemon avahi-utils dbus)"
    local dir=$lan_dir/avahi$1 pid
    mkdir -p "$dir"
    cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
    cat >"$dir/avahi.conf" <<EOF
[server]
host-name=avahi$1
use-ipv4=yes
use-ipv6=no
allow-interfaces=lan0
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
disable-publishing=yes
disable-user-service-publishing=yes
EOF
    lan_bg pid 0 dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile \
        >"$dir/bus.log" 2>&1
    local i=0
    until [ -S "$dir/bus" ]; do
        [ "$i" -lt 200 ] || fail "host $1: dbus-daemon did not start"
        sleep 0.05
        i=$((i + 1))
    done
    # The daemon keeps its pid file and socket in /run: a tmpfs of its own.
    lan_bg pid "$1" env "$(avahi_bus "$1")" unshare -m sh -c '
        mount -t tmpfs tmpfs /run && mkdir /run/avahi-daemon &&
        exec avahi-daemon --no-chroot --no-drop-root --no-rlimits -f "$0"' \
        "$dir/avahi.conf" >"$dir/log" 2>&1
    wait_for_line 20 "$dir/log" 'Server startup complete' ||
        { cat "$dir/log"; fail "host $1: avahi-daemon did not start"; }
}

avahi_bus() {
    echo "DBUS_SYSTEM_BUS_ADDRESS=unix:path=$lan_dir/avahi$1/bus"
}
