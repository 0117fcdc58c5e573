#!/usr/bin/env bash
# Builds the library for Linux and Windows and runs the whole test suite:
# the Linux tests under ctest, the Windows tests under Wine. Everything runs
# inside a private network namespace that this script creates, so no test
# datagram can leave the machine.
#
#   scripts/run-tests.sh            every phase below, in this order
#   scripts/run-tests.sh linux      Linux only
#   scripts/run-tests.sh windows    Windows (Wine) only
#   scripts/run-tests.sh package    installs the Linux build into a temporary
#                                   prefix and builds examples/consumer against
#                                   it with CMake and with pkg-config
#   scripts/run-tests.sh bindings   the Python package, the Node and the C#
#                                   bindings against the Linux build
#                                   (scripts/test-bindings.sh)
#   scripts/run-tests.sh asan       the Linux suite under AddressSanitizer and
#                                   UndefinedBehaviorSanitizer (build-asan/)
#   scripts/run-tests.sh tsan       the tests that run threads, under
#                                   ThreadSanitizer (build-tsan/)
#   scripts/run-tests.sh fuzz       each libFuzzer target for a bounded time
#                                   (TANDRELO_FUZZ_SECONDS, default 60 s each)
#
# First it checks for the packages that it needs (scripts/install-deps.sh
# --check). On Debian or Ubuntu, as root or with a sudo that asks no
# password, it installs what is missing with scripts/install-deps.sh;
# otherwise, or with --no-install (scripts/run-tests.sh --no-install linux),
# it stops at once and names the command to run.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
install=1
phases=()
for arg in "$@"; do
    case "$arg" in
        --no-install) install=0 ;;
        *) phases+=("$arg") ;;
    esac
done
which_platforms=${phases[0]:-all}
jobs=$(nproc 2>/dev/null || echo 2)

# Stops unless every package of scripts/install-deps.sh is there, after
# installing the missing ones where that is allowed.
check_packages() {
    local deps="$here/scripts/install-deps.sh" missing status=0
    missing=$("$deps" --check) || status=$?
    [ "$status" = 0 ] && return 0
    if [ -z "$missing" ]; then
        echo "run-tests: install Node.js and npm (see above), then run this again." >&2
        exit 2
    fi
    missing=$(echo $missing)
    echo "run-tests: missing packages: $missing" >&2
    local can_install=0
    if [ "$install" = 1 ] && [ -e /etc/debian_version ] && command -v apt-get >/dev/null; then
        if [ "$(id -u)" = 0 ] || { command -v sudo >/dev/null && sudo -n true 2>/dev/null; }; then
            can_install=1
        fi
    fi
    if [ "$can_install" = 1 ]; then
        echo "run-tests: installing them with $deps" >&2
        "$deps"
        missing=$("$deps" --check) && return 0
        echo "run-tests: still missing after the installation: $(echo $missing)" >&2
        exit 2
    fi
    echo "run-tests: run this, then the tests again:" >&2
    if [ "$(id -u)" = 0 ]; then
        echo "    $deps" >&2
    else
        echo "    sudo $deps" >&2
    fi
    echo "(on Debian or Ubuntu; it installs: $missing)" >&2
    exit 2
}

if [ "${TANDRELO_IN_NETNS:-}" != 1 ]; then
    check_packages
    # The Node binding's dependencies come from the npm registry, which the
    # namespace below cannot reach: they are installed first.
    case "$which_platforms" in
        bindings|all) "$here/scripts/test-bindings.sh" --prepare ;;
    esac
    export TANDRELO_IN_NETNS=1
    if [ "$(id -u)" = 0 ]; then
        exec unshare -n -- "$0" "${phases[@]}"
    elif unshare -rn true 2>/dev/null; then
        exec unshare -rn -- "$0" "${phases[@]}"
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

# Lists the wineservers of the prefix $WINEPREFIX that run in another network
# namespace than this script. A wineserver works in the folder
# server-<device>-<inode> named after the prefix, and it is the wineserver
# that opens a Windows program's sockets.
wineservers_elsewhere() {
    local dev ino pid cwd
    dev=$(stat -c %D "$WINEPREFIX")
    ino=$(printf %x "$(stat -c %i "$WINEPREFIX")")
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        cwd=$(readlink "/proc/$pid/cwd" 2>/dev/null) || continue
        case "$cwd" in
            */server-"$dev"-"$ino")
                [ "$(readlink "/proc/$pid/ns/net")" = "$(readlink /proc/self/ns/net)" ] || echo "$pid" ;;
        esac
    done
}

run_windows() {
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j "$jobs"
    # The 64-bit Wine loader that the toolchain file found for the tests,
    # started without address-space randomisation where that is allowed, as
    # the tests are (see cmake/mingw-w64-x86_64.cmake).
    local wine
    wine=$(sed -n 's/^TANDRELO_WINE64:FILEPATH=//p' build-win/CMakeCache.txt)
    case "$wine" in ""|*NOTFOUND) wine=wine ;; esac
    local no_random=()
    if setarch x86_64 -R true 2>/dev/null; then no_random=(setarch x86_64 -R); fi

    # A Wine prefix private to the build folder, with its wineserver started
    # inside this namespace: Wine opens its sockets in the server process.
    # No display, no Mono or Gecko installers, no desktop menu entries.
    export WINEPREFIX="$here/build-win/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
    mkdir -p "$WINEPREFIX"
    wineserver -k 2>/dev/null || true
    wineserver -p
    trap 'wineserver -k 2>/dev/null || true' EXIT
    if [ -n "$(wineservers_elsewhere)" ]; then
        echo "run-tests: a wineserver of $WINEPREFIX runs outside this network namespace" >&2
        exit 1
    fi
    # Wine's helper processes (services.exe and the drivers it loads) start
    # with the first program and keep its stderr open; if a test started them,
    # ctest would wait for that pipe to close until the test's time-out. So
    # they are started here, away from ctest, and live as long as this
    # wineserver. A new prefix is created on the way, which takes a while.
    "${no_random[@]}" "$wine" wineboot.exe -i >/dev/null 2>&1 || true

    # Each test is a Wine process of its own, and most of a test's time is
    # spent waiting (process start-up, pauses, receives), so twice as many
    # tests as processors run at once.
    local start=$SECONDS
    local status=0
    ctest --preset windows -j "$((jobs * 2))" || status=$?
    echo "Windows tests under Wine took $((SECONDS - start)) s"
    return "$status"
}

# The sanitizer builds: the whole Linux suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and under ThreadSanitizer the tests that run
# threads (the presets "asan" and "tsan" name the test programs and tests).
run_asan() {
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j "$jobs"
    ctest --preset asan -j "$jobs"
}

run_tsan() {
    cmake --preset tsan >/dev/null
    cmake --build --preset tsan -j "$jobs"
    ctest --preset tsan -j "$jobs"
}

# The fuzz targets open no sockets; they run here all the same.
run_fuzz() {
    scripts/fuzz.sh "${TANDRELO_FUZZ_SECONDS:-60}"
}

# The installed package as another project uses it (scripts/check-package.sh),
# from the Linux build of the phase "linux".
run_package() {
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$jobs"
    scripts/check-package.sh build
}

# The three bindings, each against a real peer (scripts/test-bindings.sh),
# on the Linux build of the phase "linux".
run_bindings() {
    scripts/test-bindings.sh
}

# Runs one phase and says how long it took.
phase() {
    local start=$SECONDS
    echo "run-tests: phase $1"
    "run_$1"
    echo "run-tests: phase $1 passed in $((SECONDS - start)) s"
}

case "$which_platforms" in
    linux|windows|package|bindings|asan|tsan|fuzz) phase "$which_platforms" ;;
    all) for p in linux windows package bindings asan tsan fuzz; do phase "$p"; done ;;
    *) echo "usage: $0 [--no-install] [linux|windows|package|bindings|asan|tsan|fuzz|all]" >&2; exit 2 ;;
esac
