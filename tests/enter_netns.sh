# Sourced by the test scripts that open sockets: runs the calling script
# again, with its arguments, inside a network namespace of its own (as root
# with unshare -n, otherwise with unshare -rn), with loopback up and the
# multicast range routed to it, so that its sockets (port 5353 included)
# meet no other test and nothing leaves the machine. Exits 77 (skipped)
# when no namespace can be made. The caller may set netns_shell to the
# shell that runs it again (sh by default).
if [ "${TANDRELO_TEST_NETNS:-}" != 1 ]; then
    export TANDRELO_TEST_NETNS=1
    for netns_flags in -n -rn; do
        if unshare "$netns_flags" true 2>/dev/null; then
            exec unshare "$netns_flags" -- "${netns_shell:-sh}" "$0" "$@"
        fi
    done
    echo "skipped: cannot create a private network namespace" >&2
    exit 77
fi
ip link set lo up
ip link set lo multicast on
ip route replace 224.0.0.0/4 dev lo
