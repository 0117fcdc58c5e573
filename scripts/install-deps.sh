#!/usr/bin/env bash
# The Debian (and Ubuntu) packages that the build, the tests, the benchmarks
# and the bindings need: the one list, used by scripts/run-tests.sh and by
# .ci/run.
#
#   scripts/install-deps.sh           installs them with apt-get (as root,
#                                     or through sudo when that needs no
#                                     password)
#   scripts/install-deps.sh --check   installs nothing; prints the packages
#                                     whose quick check fails, one a line,
#                                     and exits 1 when there are any
#   scripts/install-deps.sh --list    prints the whole list
#
# Each package comes with a quick check: a command on PATH (cmd:NAME), a
# file (file:PATH, a shell pattern; TANDRELO_DEPS_ROOT, when set, is put in
# front of it), or a module of the system's Python 3 (py:MODULE). Node.js
# and npm come with the machine image and are only checked (they are no
# Debian package of this list: Debian's conflict with that installation).
set -euo pipefail

deps() {
    cat <<'LIST'
cmake                      cmd:cmake
make                       cmd:make
g++                        cmd:g++
libc6-dev                  file:/usr/include/stdio.h
pkg-config                 cmd:pkg-config
libgtest-dev               file:/usr/include/gtest/gtest.h
libgmock-dev               file:/usr/include/gmock/gmock.h
googletest                 file:/usr/src/googletest/CMakeLists.txt
nlohmann-json3-dev         file:/usr/include/nlohmann/json.hpp
libcli11-dev               file:/usr/include/CLI/CLI.hpp
g++-mingw-w64-x86-64       cmd:x86_64-w64-mingw32-g++-posix
gcc-mingw-w64-x86-64       cmd:x86_64-w64-mingw32-gcc-posix
binutils-mingw-w64-x86-64  cmd:x86_64-w64-mingw32-dlltool
wine                       cmd:wineserver
wine64                     file:/usr/lib/wine/wine64
iproute2                   cmd:ip
util-linux                 cmd:unshare
bind9-dnsutils             cmd:dig
python3                    file:/usr/bin/python3
python3-zeroconf           py:zeroconf
python3-pytest             py:pytest
python3-setuptools         py:setuptools
python3-venv               file:/usr/lib/python3*/ensurepip/__init__.py
clang-14                   cmd:clang++-14
lld                        cmd:lld-link
libclang-rt-14-dev         file:/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a
libfuzzer-14-dev           file:/usr/lib/llvm-14/lib/libFuzzer.a
libbenchmark-dev           file:/usr/include/benchmark/benchmark.h
avahi-daemon               cmd:avahi-daemon
avahi-utils                cmd:avahi-browse
dbus                       cmd:dbus-daemon
mono-mcs                   cmd:mcs
mono-runtime               cmd:mono
LIST
}
# Checked only, never installed.
image_commands=(node npm)

# passes CHECK: the quick check holds.
passes() {
    local kind=${1%%:*} what=${1#*:} path
    case "$kind" in
        cmd) command -v "$what" >/dev/null 2>&1 || [ -x "/usr/sbin/$what" ] || [ -x "/sbin/$what" ] ;;
        file)
            for path in ${TANDRELO_DEPS_ROOT:-}$what; do
                [ -e "$path" ] && return 0
            done
            return 1 ;;
        py) [ -x /usr/bin/python3 ] && /usr/bin/python3 -c "import $what" 2>/dev/null ;;
        *) return 1 ;;
    esac
}

missing() {
    local package check
    while read -r package check; do
        passes "$check" || echo "$package"
    done < <(deps)
}

case "${1:-install}" in
    --list) deps | awk '{ print $1 }' ;;
    --check)
        status=0
        gone=$(missing)
        [ -z "$gone" ] || { echo "$gone"; status=1; }
        for command in "${image_commands[@]}"; do
            command -v "$command" >/dev/null 2>&1 ||
                { echo "install-deps: '$command' is missing: it comes with Node.js, not with this list" >&2; status=1; }
        done
        exit "$status" ;;
    install)
        if [ "$(id -u)" = 0 ]; then
            as_root=()
        elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            as_root=(sudo -n)
        else
            echo "install-deps: run as root (or with a sudo that needs no password): sudo $0" >&2
            exit 2
        fi
        export DEBIAN_FRONTEND=noninteractive
        # Another apt-get or dpkg may hold the lock for a while.
        "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 update -q
        # shellcheck disable=SC2046
        "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends \
            $(deps | awk '{ print $1 }') ;;
    *) echo "usage: $0 [--check|--list]" >&2; exit 2 ;;
esac
