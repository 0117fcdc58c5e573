#!/usr/bin/env bash
# The Windows .exe as a user meets it, under the emulator, in the network
# namespace that scripts/run-tests.sh made for the Windows tests (the
# emulator's server opens the sockets there): --version, then browse -t
# and resolve against an announce.exe that runs meanwhile.
#
#   wine_cli.sh TOOL EMULATOR...
set -euo pipefail
tool=$1
shift
emulator=("$@")
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# run ARGS...: the tool under the emulator, its output without carriage returns.
run() {
    "${emulator[@]}" "$tool" "$@" | tr -d '\r'
}

[ "$(run --version)" = "tandrelo-mdns 1.1.0" ] || fail "--version: $(run --version)"

# Straight to the file: a pipe would hold its lines back.
"${emulator[@]}" "$tool" announce -n winhost -a 10.9.8.7 -s 30 --service _http._tcp "Win Web" 8080 path=/ v=2 \
    >"$work/announce" 2>&1 &
i=0
until grep -q "announcing" "$work/announce" || [ "$i" -ge 300 ]; do sleep 0.1; i=$((i + 1)); done
grep -q "announcing" "$work/announce" || { cat "$work/announce"; fail "announce.exe did not start"; }

run resolve winhost.local >"$work/host" || fail "resolve winhost.local exited $?"
[ "$(cat "$work/host")" = "$(printf 'winhost.local\t10.9.8.7')" ] || fail "resolve host: $(cat "$work/host")"

run resolve "Win Web._http._tcp.local" >"$work/instance" || fail "resolve an instance exited $?"
[ "$(cat "$work/instance")" = "Win Web._http._tcp.local
  host     winhost.local
  address  10.9.8.7
  port     8080
  txt      path=/;v=2" ] || fail "resolve instance: $(cat "$work/instance")"

start=$SECONDS
run browse -r -t _http._tcp >"$work/table" || fail "browse -t exited $?"
[ $((SECONDS - start)) -le 12 ] || fail "browse -t took $((SECONDS - start)) s"
grep -qE '^new +Win Web +_http\._tcp +winhost\.local +10\.9\.8\.7 +8080 +path=/;v=2$' "$work/table" ||
    { cat "$work/table"; fail "browse -r -t does not show Win Web"; }
grep -q '^stopped: 1 service, ' "$work/table" || { cat "$work/table"; fail "browse -t did not stop by itself"; }

status=0
run resolve nobody.local >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "resolve nobody.local exited $status, not 1"
grep -q "no answer for nobody.local within 3 s" "$work/err" || { cat "$work/err"; fail "resolve nobody.local"; }
echo "the .exe browses and resolves what announce.exe offers"
