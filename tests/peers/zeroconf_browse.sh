#!/bin/sh
# Runs zeroconf_browse.py in a network namespace of its own: the peer binds
# port 5353, which no other test may share, and nothing may leave the
# machine. Exits 77 (skipped) when no namespace can be made.
# usage: zeroconf_browse.sh PYTHON LIBRARY
set -eu
. "$(dirname "$0")/../enter_netns.sh"
exec "$1" "$(dirname "$0")/zeroconf_browse.py" "$2"
