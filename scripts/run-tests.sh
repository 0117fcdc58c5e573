#!/usr/bin/env bash
# Builds the library for Linux and Windows and runs the whole test suite:
# the Linux tests under ctest, the Windows tests under Wine. Everything runs
# inside a private network namespace that this script creates, so no test
# datagram can leave the machine.
#
#   scripts/run-tests.sh            both platforms
#   scripts/run-tests.sh linux      Linux only
#   scripts/run-tests.sh windows    Windows (Wine) only
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
which_platforms=${1:-all}
jobs=$(nproc 2>/dev/null || echo 2)

if [ "${TANDRELO_IN_NETNS:-}" != 1 ]; then
    export TANDRELO_IN_NETNS=1
    if [ "$(id -u)" = 0 ]; then
        exec unshare -n -- "$0" "$@"
    elif unshare -rn true 2>/dev/null; then
        exec unshare -rn -- "$0" "$@"
    else
        echo "run-tests: cannot create a private network namespace." >&2
        echo "Run as root, or enable unprivileged user namespaces" >&2
        echo "(sysctl kernel.unprivileged_userns_clone=1)." >&2
        exit 2
    fi
fi

# Inside the namespace: only loopback exists. Multicast to 224.0.0.0/4 goes
# out through it and comes back to every member socket.
ip link set lo up
ip link set lo multicast on
ip route replace 224.0.0.0/4 dev lo

cd "$here"

run_linux() {
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$jobs"
    ctest --preset default -j "$jobs"
}

run_windows() {
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j "$jobs"
    # A Wine prefix private to the build folder, with its wineserver started
    # inside this namespace: Wine opens its sockets in the server process.
    export WINEPREFIX="$here/build-win/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    wineserver -k 2>/dev/null || true
    wineserver -p
    trap 'wineserver -k 2>/dev/null || true' EXIT
    wineboot -i >/dev/null 2>&1 || true
    ctest --preset windows -j "$jobs"
}

case "$which_platforms" in
    linux) run_linux ;;
    windows) run_windows ;;
    all) run_linux; run_windows ;;
    *) echo "usage: $0 [linux|windows|all]" >&2; exit 2 ;;
esac
