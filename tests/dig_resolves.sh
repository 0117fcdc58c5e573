#!/usr/bin/env bash
# An independent DNS client (dig) resolves the host and a service from the
# running responder. Runs inside the test namespace, on its own port.
set -euo pipefail
announce=$1
port=25353
command -v dig >/dev/null || { echo "dig is not installed (Debian bind9-dnsutils)"; exit 1; }

"$announce" --port "$port" --hostname digtest --addr 10.9.8.7 \
    --service _http._tcp Web 8080 '{"path":"/index.html"}' --seconds 4 >/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 0.5

ask() { dig -p "$port" @127.0.0.1 +time=1 +tries=2 +noall +answer +additional "$@"; }
check() {
    local what=$1 expected=$2 output=$3
    if ! grep -qF -- "$expected" <<<"$output"; then
        echo "FAIL: $what: expected '$expected' in:"; echo "$output"; exit 1
    fi
    echo "ok: $what"
}

# dig prints the cache-flush class as CLASS32769 and the data in generic form.
out=$(ask digtest.local A)
check "A record" $'digtest.local.\t\t120\tCLASS32769 A\t\\# 4 0A090807' "$out"
out=$(ask Web._http._tcp.local SRV)
# priority 0, weight 0, port 8080 (1F90), target digtest.local
check "SRV record" '\# 21 000000001F9007646967746573740' "$out"
check "SRV additional A" 'digtest.local.' "$out"
out=$(ask Web._http._tcp.local TXT)
check "TXT record" 'TXT	"path=/index.html"' "$out"
out=$(ask _http._tcp.local PTR)
check "PTR record" '_http._tcp.local.' "$out"
echo "dig resolved the responder"
