#!/usr/bin/env bash
# 64 services over 8 types, each with a TXT of 115 bytes: far more than one
# 4096-byte message holds. From the other hosts, `avahi-browse -art` and
# python3-zeroconf's browser must each resolve all 64 (instance, host,
# address, port and TXT). Prints how long each took.
#   lan_services.sh PEER_HOST PYTHON
peer_host=$1 python=$2
peer=$(cd "$(dirname "$0")" && pwd)/lan_peer.py
. "$(dirname "$0")/lan.sh"
"$python" -c 'import zeroconf' 2>/dev/null || skip "python3-zeroconf is not installed"
count=64 types=8 txt=115 base=9000

for h in 1 2 3; do lan_host "$h"; done
lan_avahi 2
lan_bg pid 1 "$peer_host" --label many --addr 10.77.0.1 --services "$count" --types "$types" \
    --txt-bytes "$txt" --port "$base" --seconds 100 >"$lan_dir/host1.out"
wait_for_line 5 "$lan_dir/host1.out" '^ready' || fail "peer_host did not start"
sleep 1  # past the announcements: the peers below ask for everything

started=$EPOCHREALTIME
on_host 2 env "$(avahi_bus 2)" timeout 60 avahi-browse -art -p >"$lan_dir/avahi.out" ||
    fail "avahi-browse -art failed: $(cat "$lan_dir/avahi.out")"
avahi_seconds=$(echo "$EPOCHREALTIME - $started" | bc)
missing=()
for ((i = 0; i < count; i++)); do
    pad=$(printf "%$((txt - 9 - ${#i}))s" "" | tr ' ' x)
    row="=;lan0;IPv4;svc-$i;_t$((i % types))._tcp;local;many.local;10.77.0.1;$((base + i));"
    grep -F -- "$row" "$lan_dir/avahi.out" | grep -F -- "\"pad=$pad\"" |
        grep -qF -- "\"id=$i\"" || missing+=("svc-$i")
done
resolved=$(grep -c '^=;lan0;IPv4;svc-' "$lan_dir/avahi.out" || true)
echo "avahi-browse -art resolved $resolved rows in $avahi_seconds s;" \
     "missing or wrong: ${missing[*]:-none}"

type_list=()
for ((t = 0; t < types; t++)); do type_list+=("_t$t._tcp"); done
zeroconf=ok
on_host 3 "$python" "$peer" browse 10.77.0.3 "$count" "$base" "$txt" "${type_list[@]}" ||
    zeroconf=failed
[ "${#missing[@]}" = 0 ] || fail "avahi did not resolve every service"
[ "$zeroconf" = ok ] || fail "zeroconf did not resolve every service"
