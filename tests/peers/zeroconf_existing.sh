#!/bin/sh
# Runs zeroconf_existing.py in a network namespace of its own: the peer and
# the browser bind port 5353, which no other test may share, and nothing may
# leave the machine. Exits 77 (skipped) when no namespace can be made.
# usage: zeroconf_existing.sh PYTHON LIBRARY [--shared]
set -eu
. "$(dirname "$0")/../enter_netns.sh"
exec "$1" "$(dirname "$0")/zeroconf_existing.py" "$2" ${3:-}
