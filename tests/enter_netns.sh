# Sourced by the scripts that open sockets: runs the calling script again,
# with its arguments, inside a network namespace of its own (as root with
# unshare -n, otherwise with unshare -rn), with loopback up and the
# multicast range routed to it, so that its sockets (port 5353 included)
# meet no other test and nothing leaves the machine. The caller may set:
#
#   netns_guard    the variable that says "already inside" (default
#                  TANDRELO_TEST_NETNS); a script that needs a namespace of
#                  its own even when it runs inside another names its own
#   netns_shell    the shell that runs the script again (default sh)
#   netns_missing  the exit status when no namespace can be made (default
#                  77, which ctest reads as skipped)
netns_guard=${netns_guard:-TANDRELO_TEST_NETNS}
eval "netns_inside=\${$netns_guard:-}"
if [ "$netns_inside" != 1 ]; then
    export "$netns_guard=1"
    for netns_flags in -n -rn; do
        if unshare "$netns_flags" true 2>/dev/null; then
            exec unshare "$netns_flags" -- "${netns_shell:-sh}" "$0" "$@"
        fi
    done
    echo "$(basename "$0"): cannot create a private network namespace" \
         "(run as root, or enable unprivileged user namespaces)" >&2
    exit "${netns_missing:-77}"
fi
ip link set lo up
ip link set lo multicast on
ip route replace 224.0.0.0/4 dev lo
