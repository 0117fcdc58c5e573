# Sourced by the tool tests: runs the calling bash script again inside a
# network namespace of its own, with loopback up and the multicast range
# routed to it, so that the tool's sockets (port 5353 included) meet no other
# test and nothing leaves the machine. Exits 77 (skipped) when no namespace
# can be made.
if [ "${TANDRELO_TOOL_NETNS:-}" != 1 ]; then
    export TANDRELO_TOOL_NETNS=1
    if unshare -n true 2>/dev/null; then exec unshare -n -- bash "$0" "$@"; fi
    if unshare -rn true 2>/dev/null; then exec unshare -rn -- bash "$0" "$@"; fi
    echo "skipped: cannot create a private network namespace" >&2
    exit 77
fi
ip link set lo up
ip link set lo multicast on
ip route replace 224.0.0.0/4 dev lo

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# contains WHAT FILE TEXT: the file holds the text (fixed string).
contains() {
    grep -qF -- "$3" "$2" || { echo "--- $2:"; cat "$2"; fail "$1: expected '$3'"; }
}

# matches WHAT FILE REGEX: a line of the file matches the extended regex.
matches() {
    grep -qE -- "$3" "$2" || { echo "--- $2:"; cat "$2"; fail "$1: expected a line matching '$3'"; }
}
