#!/usr/bin/env bash
# What goes away is withdrawn at the peers, within 2 s:
#   stop    64 services (8 types, 115-byte TXT) are listed by a running
#           `avahi-browse -arp` and a python3-zeroconf browser; after
#           mdns_stop both report every one of them removed
#   rename  a forged claim of the host name (sent from another host straight
#           to the responder) renames it; the old name then stops resolving
#           at the peers that had it cached, the new one resolves
#   lan_goodbyes.sh PEER_HOST PYTHON CASE
peer_host=$1 python=$2 case=$3
peer=$(cd "$(dirname "$0")" && pwd)/lan_peer.py
. "$(dirname "$0")/lan.sh"
"$python" -c 'import zeroconf' 2>/dev/null || skip "python3-zeroconf is not installed"
export LC_ALL=C
count=64 types=8
type_list=()
for ((t = 0; t < types; t++)); do type_list+=("_t$t._tcp"); done

for h in 1 2 3; do lan_host "$h"; done
lan_avahi 2
# Both peers watch from before the responder starts; every line is stamped
# with the wall-clock time it came.
lan_bg pid 2 env "$(avahi_bus 2)" bash -c 'stdbuf -oL avahi-browse -arp |
    while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done' \
    >"$lan_dir/avahi.out" 2>"$lan_dir/avahi.err"
lan_bg pid 3 "$python" "$peer" watch 10.77.0.3 60 "${type_list[@]}" >"$lan_dir/zeroconf.out"
sleep 1

# within WHAT FILE REGEX SINCE: the first line of FILE matching REGEX came
# within 2 s after the time SINCE; prints how long after.
within() {
    local stamp
    stamp=$(grep -E -- "$3" "$2" | awk -v since="$4" '$1 >= since { print $1; exit }')
    [ -n "$stamp" ] || fail "$1: no line matching '$3' in $2 after $4"
    awk -v a="$stamp" -v b="$4" 'BEGIN { printf "%.3f\n", a - b }'
    awk -v a="$stamp" -v b="$4" 'BEGIN { exit !(a - b <= 2) }' ||
        fail "$1: came $(awk -v a="$stamp" -v b="$4" 'BEGIN { print a - b }') s late"
}

case "$case" in
stop)
    lan_bg host 1 "$peer_host" --label leaving --addr 10.77.0.1 --services "$count" \
        --types "$types" --txt-bytes 115 --seconds 60 >"$lan_dir/host1.out"
    wait_for_line 5 "$lan_dir/host1.out" '^ready' || fail "peer_host did not start"
    deadline=$((SECONDS + 20))
    until [ "$(grep -c ' =;lan0;IPv4;svc-' "$lan_dir/avahi.out")" -ge "$count" ] &&
          [ "$(grep -c ' added svc-' "$lan_dir/zeroconf.out")" -ge "$count" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the peers did not list all $count services"
        sleep 0.1
    done
    kill -USR1 "$host"
    wait_for_line 5 "$lan_dir/host1.out" '^stopped' || fail "peer_host did not stop"
    stopped=$(awk '$1 == "stopped" { print $2 }' "$lan_dir/host1.out")
    sleep 2.5
    slowest_avahi=0 slowest_zeroconf=0
    for ((i = 0; i < count; i++)); do
        a=$(within "avahi, svc-$i" "$lan_dir/avahi.out" " -;lan0;IPv4;svc-$i;" "$stopped")
        z=$(within "zeroconf, svc-$i" "$lan_dir/zeroconf.out" " removed svc-$i\$" "$stopped")
        slowest_avahi=$(awk -v a="$a" -v b="$slowest_avahi" 'BEGIN { print (a > b ? a : b) }')
        slowest_zeroconf=$(awk -v a="$z" -v b="$slowest_zeroconf" 'BEGIN { print (a > b ? a : b) }')
    done
    echo "all $count services removed after mdns_stop: avahi-browse within" \
         "$slowest_avahi s, zeroconf within $slowest_zeroconf s"
    ;;
rename)
    lan_bg host 1 "$peer_host" --label goner --addr 10.77.0.1 --services 2 --types 1 \
        --seconds 60 >"$lan_dir/host1.out"
    wait_for_line 5 "$lan_dir/host1.out" '^ready' || fail "peer_host did not start"
    sleep 1.5
    old=$(on_host 2 env "$(avahi_bus 2)" timeout 10 avahi-resolve -4 -n goner.local || true)
    [ "$old" = "$(printf 'goner.local\t10.77.0.1')" ] || fail "avahi does not resolve goner.local: '$old'"
    grep -q ' a+ goner.local. 10.77.0.1$' "$lan_dir/zeroconf.out" ||
        fail "zeroconf did not cache goner.local"

    on_host 3 "$python" "$peer" claim 10.77.0.3 10.77.0.1 goner.local. 10.77.0.99
    wait_for_line 3 "$lan_dir/host1.out" '^label [^ ]+ ' || fail "the forged claim did not rename the host"
    read -r new renamed < <(awk '$1 == "label" { l = $2; t = $3 } END { print l, t }' "$lan_dir/host1.out")
    echo "the forged claim renamed goner to $new"
    # peer_host sees the rename within 10 ms of it.
    renamed=$(awk -v t="$renamed" 'BEGIN { printf "%.6f", t - 0.02 }')
    sleep 2.5
    gone=$(within "zeroconf, goner.local" "$lan_dir/zeroconf.out" ' a- goner\.local\. 10\.77\.0\.1$' "$renamed")
    came=$(within "zeroconf, $new.local" "$lan_dir/zeroconf.out" " a\\+ $new\\.local\\. 10\\.77\\.0\\.1\$" "$renamed")
    echo "zeroconf: goner.local gone after $gone s, $new.local there after $came s"
    old=$(on_host 2 env "$(avahi_bus 2)" timeout 10 avahi-resolve -4 -n goner.local 2>&1 || true)
    echo "avahi-resolve goner.local: $old"
    case "$old" in *10.77.0.1*) fail "avahi still resolves the old name" ;; esac
    resolved=$(on_host 2 env "$(avahi_bus 2)" timeout 10 avahi-resolve -4 -n "$new.local" || true)
    echo "avahi-resolve $new.local: $resolved"
    [ "$resolved" = "$(printf '%s.local\t10.77.0.1' "$new")" ] || fail "avahi does not resolve $new.local"
    [ "$(grep -c '^label ' "$lan_dir/host1.out")" = 2 ] || fail "more than one rename: $(cat "$lan_dir/host1.out")"
    ;;
*)
    fail "no case $case"
    ;;
esac
