# Sourced by the tool tests: runs the calling bash script again inside a
# network namespace of its own, with loopback up and the multicast range
# routed to it, so that the tool's sockets (port 5353 included) meet no other
# test and nothing leaves the machine. Exits 77 (skipped) when no namespace
# can be made.
netns_shell=bash
. "$(dirname "$0")/../enter_netns.sh"

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
