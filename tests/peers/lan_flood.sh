#!/usr/bin/env bash
# Forged claims of the host name, 5 a second for 12 s, each for the label the
# host has at that moment (sent from another host straight to the
# responder): the renames obey the limit — once 15 renames fall within 10 s,
# the next one comes at least 5 s after the one before — and afterwards the
# host still answers for its last name.
#   lan_flood.sh PEER_HOST PYTHON
peer_host=$1 python=$2
peer=$(cd "$(dirname "$0")" && pwd)/lan_peer.py
. "$(dirname "$0")/lan.sh"
"$python" -c 'import zeroconf' 2>/dev/null || skip "python3-zeroconf is not installed"

for h in 1 2 3; do lan_host "$h"; done
lan_bg pid 1 "$peer_host" --label flooded --addr 10.77.0.1 --seconds 40 >"$lan_dir/host1.out"
wait_for_line 5 "$lan_dir/host1.out" '^ready' || fail "peer_host did not start"
sleep 0.5  # past the announcement: every claim counts
on_host 2 "$python" "$peer" flood 10.77.0.2 10.77.0.1 "$lan_dir/host1.out" 10.77.0.99 12 5
sleep 0.5

# The rename times, one a line; peer_host notes each within 10 ms.
awk '$1 == "label" && NF == 3 { print $3 }' "$lan_dir/host1.out" >"$lan_dir/renames"
echo "$(wc -l <"$lan_dir/renames") renames in 12 s, at (s after the first):" \
     $(awk 'NR == 1 { t0 = $1 } { printf "%.2f ", $1 - t0 }' "$lan_dir/renames")
awk '{ t[NR] = $1 }
     END {
         if (NR < 16) { print "FAIL: only " NR " renames: the claims were not honoured"; exit 1 }
         for (k = 16; k <= NR; k++)
             if (t[k] - t[k - 15] < 10 && t[k] - t[k - 1] < 4.95) {
                 printf "FAIL: rename %d came %.2f s after the one before, with 15 in %.2f s\n",
                        k, t[k] - t[k - 1], t[k] - t[k - 15]
                 exit 1
             }
     }' "$lan_dir/renames" || exit 1

label=$(awk '$1 == "label" { l = $2 } END { print l }' "$lan_dir/host1.out")
got=$(on_host 3 "$python" "$peer" resolve 10.77.0.3 "$label.local.")
echo "host 3 resolves $label.local to: $got"
[ "$got" = 10.77.0.1 ] || fail "$label.local should resolve to 10.77.0.1"
