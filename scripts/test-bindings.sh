#!/usr/bin/env bash
# Tests the three bindings on Linux against the library of build/ (preset
# default), inside a network namespace of their own:
#
#   1. tests/bindings/check_declarations.py: every binding's declarations of
#      the sixteen functions (and the Windows .def file) against the header;
#   2. Python: the package installed with pip into a virtual environment
#      (--system-site-packages, --no-build-isolation, no index) with the
#      library bundled, then python/tests/test_services.py with pytest and a
#      python3-zeroconf peer;
#   3. Node: npm's koffi, `node --test bindings/node/test/` with a peer;
#   4. C#: the binding and its tests compiled with mcs and run with mono; a
#      program that declares a text result as string must die in the
#      marshaller's free of the library's buffer;
#   5. each binding's quick start (examples/) against a peer, and the
#      README's copies of them.
#
#   scripts/test-bindings.sh            all of the above
#   scripts/test-bindings.sh --prepare  only installs the Node dependencies
#                                       (npm ci: needs the npm registry); the
#                                       test command runs this before it
#                                       enters its network namespace
#
# A suite whose tools are missing is skipped with a message naming the
# Debian packages; the script fails if anything that ran failed.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
node_dir=$here/bindings/node
python=${TANDRELO_PEER_PYTHON:-/usr/bin/python3}

prepare_node() {
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        return 0
    fi
    if [ ! -f "$node_dir/node_modules/koffi/package.json" ]; then
        echo "test-bindings: npm ci in bindings/node"
        (cd "$node_dir" && npm ci --no-audit --no-fund --loglevel=error)
    fi
}

if [ "${1:-}" = --prepare ]; then
    prepare_node
    exit 0
fi

if [ "${TANDRELO_TEST_NETNS:-}" != 1 ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default -j 2 --target tandrelo-mdns
    # Outside the test command's namespace npm reaches its registry; inside
    # it, the step --prepare has installed the dependencies already.
    prepare_node
fi
netns_shell=bash
. "$here/tests/enter_netns.sh"

library=$here/build/libtandrelo-mdns.so.1
peer=$here/tests/peers/zeroconf_announce.py
work=$here/build/bindings
rm -rf "$work"
mkdir -p "$work"
export PYTHONDONTWRITEBYTECODE=1
failed=()
skipped=()

suite() {
    local name=$1
    shift
    echo "test-bindings: $name"
    if "$@"; then
        echo "test-bindings: $name passed"
    else
        echo "test-bindings: $name FAILED"
        failed+=("$name")
    fi
}

have() {
    local missing=()
    for tool in "$@"; do command -v "$tool" >/dev/null || missing+=("$tool"); done
    [ ${#missing[@]} = 0 ] && return 0
    echo "test-bindings: skipped, ${missing[*]} not installed"
    return 1
}

quick_start() {  # REGEX COMMAND...: the quick start with a peer
    local pattern=$1
    shift
    "$python" "$here/tests/bindings/run_quickstart.py" "$python" "$peer" "$pattern" -- "$@"
}

declarations() {
    TANDRELO_MDNS_LIBRARY=$library "$python" "$here/tests/bindings/check_declarations.py" "$here"
}

python_package() {
    # pip builds in a copy, so that nothing is written into python/.
    cp -r "$here/python" "$work/python-src"
    "$python" -m venv --system-site-packages "$work/venv" || return 1
    TANDRELO_MDNS_LIBRARY=$library "$work/venv/bin/pip" install --quiet --no-index \
        --no-build-isolation "$work/python-src" || return 1
    local venv_python=$work/venv/bin/python
    (
        # From here on, only the installed package and its bundled library.
        unset TANDRELO_MDNS_LIBRARY PYTHONPATH
        cd "$work"
        "$venv_python" -c '
import os, tandrelo_mdns
bundled = os.path.join(os.path.dirname(tandrelo_mdns.__file__), "libtandrelo-mdns.so.1")
assert tandrelo_mdns.LIBRARY == bundled, tandrelo_mdns.LIBRARY
assert os.path.isfile(os.path.join(os.path.dirname(bundled), "py.typed"))
print("installed package:", os.path.dirname(bundled))' || exit 1
        "$venv_python" -m pytest -q -p no:cacheprovider --rootdir "$here/python/tests" \
            "$here/python/tests/test_services.py" || exit 1
        quick_start \
            "(added|updated) Quick Peer _tandrelo-qs._tcp qspeer.local \('127.0.0.1',\) 8127 \{'k': 'v'\}" \
            "$venv_python" "$here/examples/python/quickstart.py"
    )
}

node_binding() {
    [ -f "$node_dir/node_modules/koffi/package.json" ] || {
        echo "bindings/node/node_modules is missing: run '$0 --prepare' where npm reaches its registry"
        return 1
    }
    mkdir -p "$work/node_path"
    ln -s "$node_dir" "$work/node_path/tandrelo-mdns"
    TANDRELO_MDNS_LIBRARY=$library TANDRELO_PEER_PYTHON=$python node --test "$node_dir/test/" ||
        return 1
    TANDRELO_MDNS_LIBRARY=$library NODE_PATH=$work/node_path quick_start \
        "service Quick Peer._tandrelo-qs._tcp.local on qspeer.local port 8127" \
        node "$here/examples/node/quickstart.js"
}

csharp_binding() {
    local out=$work/csharp binding=$here/bindings/csharp
    mkdir -p "$out"
    mcs -warn:4 -warnaserror -out:"$out/BindingTests.exe" "$binding/TandreloMdns.cs" \
        "$binding/tests/BindingTests.cs" || return 1
    mcs -warn:4 -warnaserror -out:"$out/QuickStart.exe" "$binding/TandreloMdns.cs" \
        "$here/examples/csharp/QuickStart.cs" || return 1
    mcs -out:"$out/StringResultTrap.exe" "$binding/tests/StringResultTrap.cs" || return 1
    # Mono finds libtandrelo-mdns.so through the system loader; it runs in
    # $out, where a crash leaves its report.
    export LD_LIBRARY_PATH=$here/build MONO_DEBUG=no-gdb-backtrace
    (cd "$out" && mono BindingTests.exe "$python" "$peer") || return 1
    # The wrong declaration: the process must die inside the marshaller's
    # free of the library's text (glibc reports "free(): invalid pointer" or
    # the free faults, depending on the bytes before the buffer).
    local status=0
    { (cd "$out" && LIBC_FATAL_STDERR_=1 exec mono StringResultTrap.exe) >"$out/trap.log" 2>&1; } \
        2>>"$out/trap.log" || status=$?
    if [ "$status" -lt 128 ] || ! grep -q 'mono_marshal_free' "$out/trap.log"; then
        echo "a text result declared as string did not die freeing the library's text (status $status):"
        cat "$out/trap.log"
        return 1
    fi
    echo "ok: a text result declared as string dies in the marshaller's free (status $status$(
        grep -q 'free(): invalid pointer' "$out/trap.log" && echo ', free(): invalid pointer'))"
    (cd "$out" && quick_start \
        '"name":"Quick Peer._tandrelo-qs._tcp.local","rrtype":33,"ip":"","port":8127,"target":"qspeer.local"' \
        mono QuickStart.exe)
}

suite declarations declarations
suite "README quick starts" "$python" "$here/tests/bindings/check_readme.py" "$here"
# ensurepip is what python3-venv adds to Debian's interpreter.
if "$python" -c 'import pytest, zeroconf, ensurepip, setuptools' 2>/dev/null; then
    suite python python_package
else
    echo "test-bindings: python skipped: needs python3-pytest python3-zeroconf python3-venv python3-setuptools"
    skipped+=(python)
fi
if have node; then suite node node_binding; else skipped+=(node); fi
if have mcs mono; then suite csharp csharp_binding; else skipped+=("csharp (mono-mcs mono-runtime)"); fi

[ ${#skipped[@]} = 0 ] || echo "test-bindings: skipped: ${skipped[*]}"
if [ ${#failed[@]} != 0 ]; then
    echo "test-bindings: failed: ${failed[*]}"
    exit 1
fi
echo "test-bindings: all suites passed"
