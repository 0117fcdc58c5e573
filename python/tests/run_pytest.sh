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
. "$(dirname "$0")/../../tests/enter_netns.sh"

here=$(cd "$(dirname "$0")" && pwd)
export TANDRELO_MDNS_LIBRARY="$library"
export PYTHONPATH="$(dirname "$here")"
# Nothing is written into the source tree: no byte code, no pytest cache.
export PYTHONDONTWRITEBYTECODE=1
exec "$python" -m pytest -q -p no:cacheprovider --rootdir "$here" "$here/$test_file"
