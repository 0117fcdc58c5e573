#!/usr/bin/env bash
# Runs peer_zeroconf.py (python3-zeroconf against the tool) in a network
# namespace of its own: both bind port 5353.
#   peer_zeroconf.sh TOOL PYTHON
set -euo pipefail
. "$(dirname "$0")/netns.sh"
"$2" "$(dirname "$0")/peer_zeroconf.py" "$1"
