#!/bin/sh
# Runs one test file of the Python binding with pytest, against a built
# library, in a network namespace of its own: the browser's tests bind port
# 5353, which no other test may share, the interface tests add veth pairs,
# and nothing may leave the machine. One file per process, since the
# library's state is process-wide.
# Exits 77 (skipped) when pytest is missing or no namespace can be made.
# usage: run_pytest.sh PYTHON LIBRARY TEST_FILE
set -eu
python=$1
library=$2
test_file=$3
if ! "$python" -c 'import pytest' 2>/dev/null; then
    echo "skipped: pytest is not installed for $python (apt-get install python3-pytest)"
    exit 77
fi
if [ "${TANDRELO_PYTEST_NETNS:-}" != 1 ]; then
    export TANDRELO_PYTEST_NETNS=1
    if unshare -n true 2>/dev/null; then
        exec unshare -n -- sh "$0" "$@"
    fi
    if unshare -rn true 2>/dev/null; then
        exec unshare -rn -- sh "$0" "$@"
    fi
    echo "skipped: cannot create a private network namespace" >&2
    exit 77
fi
ip link set lo up
ip link set lo multicast on
ip route add 224.0.0.0/4 dev lo

here=$(cd "$(dirname "$0")" && pwd)
export TANDRELO_MDNS_LIBRARY="$library"
export PYTHONPATH="$(dirname "$here")"
# Nothing is written into the source tree: no byte code, no pytest cache.
export PYTHONDONTWRITEBYTECODE=1
exec "$python" -m pytest -q -p no:cacheprovider --rootdir "$here" "$here/$test_file"
