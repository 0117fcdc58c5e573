#!/usr/bin/env bash
# Two hosts that start with the same label, DELAY apart (e.g. "150ms"), must
# settle: at most two renames in all, two different final labels, and a
# third host resolves each final name to the address of its own host only.
#   lan_settle.sh PEER_HOST PYTHON DELAY
peer_host=$1 python=$2 delay=${3%ms}
peer=$(cd "$(dirname "$0")" && pwd)/lan_peer.py
. "$(dirname "$0")/lan.sh"
"$python" -c 'import zeroconf' 2>/dev/null || skip "python3-zeroconf is not installed"

for h in 1 2 3; do lan_host "$h"; done
begun=$SECONDS
start=$(($(date +%s%3N) + 300))
for h in 1 2; do
    lan_bg pid "$h" "$peer_host" --label twin --addr "10.77.0.$h" --seconds 8 \
        --start-at "$((start + (h - 1) * delay))" >"$lan_dir/host$h.out"
done
for h in 1 2; do
    wait_for_line 5 "$lan_dir/host$h.out" '^ready' || fail "host $h did not start"
done

# The labels after the announcements, their renames and the answers to them.
sleep 3
label() { awk '$1 == "label" { l = $2 } END { print l }' "$lan_dir/host$1.out"; }
renames() { echo $(($(grep -c '^label ' "$lan_dir/host1.out") + $(grep -c '^label ' "$lan_dir/host2.out") - 2)); }
echo "started ${delay} ms apart: host 1 is $(label 1), host 2 is $(label 2)," \
     "after $(renames) renames"
[ "$(renames)" -le 2 ] || fail "more than two renames"
[ "$(label 1)" != "$(label 2)" ] || fail "both hosts keep the label $(label 1)"
for h in 1 2; do
    got=$(on_host 3 "$python" "$peer" resolve 10.77.0.3 "$(label "$h").local.")
    echo "host 3 resolves $(label "$h").local to: $got"
    [ "$got" = "10.77.0.$h" ] || fail "$(label "$h").local should resolve to 10.77.0.$h only"
done

# Settled means no later renames either.
sleep 1
echo "renames $((SECONDS - begun)) s after the start: $(renames)"
[ "$(renames)" -le 2 ] || fail "the hosts went on renaming"
