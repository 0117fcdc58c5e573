#!/usr/bin/env bash
# dig, an independent DNS client, resolves the host and the service of a
# running `tandrelo-mdns announce` on the standard port, as a user would try
# from a terminal. Exits 77 (skipped) when dig is not installed.
#   peer_dig.sh TOOL
set -euo pipefail
tool=$1
command -v dig >/dev/null || { echo "skipped: dig is not installed (Debian bind9-dnsutils)"; exit 77; }
. "$(dirname "$0")/netns.sh"

"$tool" announce --hostname digcli --addr 10.9.8.7 \
    --service _http._tcp "Dig Web" 8080 path=/index.html >"$work/announce" 2>&1 &
announce=$!
i=0
until grep -q announcing "$work/announce" || [ "$i" -ge 100 ]; do sleep 0.05; i=$((i + 1)); done

ask() { dig -p 5353 @127.0.0.1 +time=1 +tries=2 +noall +answer "$@" >"$work/dig"; }
# dig shows the cache-flush class as CLASS32769, with the data in generic form.
ask digcli.local A
contains "A record" "$work/dig" $'digcli.local.\t\t120\tCLASS32769 A\t\\# 4 0A090807'
ask "Dig Web._http._tcp.local" SRV
# priority 0, weight 0, port 8080 (1F90), target 06 "digcli" 05 "local" 00
contains "SRV record" "$work/dig" '\# 20 000000001F9006646967636C69056C6F63616C00'
ask "Dig Web._http._tcp.local" TXT
contains "TXT record" "$work/dig" 'CLASS32769 TXT "path=/index.html"'
ask _http._tcp.local PTR
contains "PTR record" "$work/dig" 'Dig\032Web._http._tcp.local.'

kill -INT "$announce"
wait "$announce" || fail "announce exited $?"
matches "announce status" "$work/announce" '^stopped: queries [4-9][0-9]*  answers [4-9][0-9]*$'
echo "dig resolved the host and the service of tandrelo-mdns announce"
