#!/usr/bin/env bash
# The command-line tool as a user meets it, each case in a network namespace
# of its own:
#   arguments       bad arguments: usage and the library's own message, exit 2;
#                   failures at run time: the library's message, exit 1
#   interfaces      the table and JSON of the namespace's veth adapters
#   announce_browse announce in one process, browsers in others, and Ctrl-C
#   browse_rows     hand-made responses regrouped into instance, type and host rows,
#                   and rows whose records leave the cache reported as removed
#   browse_resolve  browse TYPE, -r, -t, -p, --json and resolve against a
#                   running announce, the table's columns, -t's 5 s bound
#
#   cli.sh TOOL CASE
set -euo pipefail
tool=$1
case_name=$2
. "$(dirname "$0")/netns.sh"

# refused EXPECTED ARGS...: exit 2, the message and the usage on stderr,
# nothing started (nothing on stdout).
refused() {
    local expected=$1 status=0
    shift
    "$tool" "$@" >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 2 ] || { cat "$work/err"; fail "'$*' exited $status, not 2"; }
    contains "'$*'" "$work/err" "$expected"
    contains "'$*'" "$work/err" "usage: tandrelo-mdns"
    [ ! -s "$work/out" ] || { cat "$work/out"; fail "'$*' printed on stdout"; }
}

# Quotes and backslashes in host labels and service names are the library's
# to escape in its reports: the tool passes them on.
case_quoted_names() {
    "$tool" announce --hostname 'say"hi' --service _http._tcp 'Web "1" \ x' 80 --seconds 1 \
        >"$work/quoted" 2>&1 || fail "announce with quotes exited $?"
    contains "quoted" "$work/quoted" 'host     say"hi.local'
    contains "quoted" "$work/quoted" 'service  Web "1" \ x._http._tcp.local'
    echo "quotes and backslashes in names are passed to the library"
}

case_arguments() {
    local long_label long_value
    long_label=$(printf 'a%.0s' $(seq 64))
    long_value=$(printf 'v%.0s' $(seq 192))
    refused "a COMMAND is needed"
    refused "unknown command 'frobnicate'" frobnicate
    # The library's own messages.
    # kitchen.local is taken as kitchen; any other dot is the library's to refuse.
    refused "Hostname label cannot contain dots (provide label without .local)" \
        announce --hostname kit.chen
    refused "Hostname label cannot contain dots (provide label without .local)" announce -n a.b.local
    refused "Hostname label exceeds maximum length (63 characters)" announce --hostname "$long_label"
    refused "Invalid IPv4 address format" announce --addr 192.168.1
    refused "Port must be between 1 and 65535" announce --service _http._tcp Web 0
    refused "Port must be between 1 and 65535" announce --service _http._tcp Web 65536 path=/
    refused "Service type cannot be empty (e.g. '_http._tcp')" announce --service "" Web 80
    refused "Service instance name cannot be empty" announce --service _http._tcp "" 80
    refused "Invalid interface IPv4 address format" announce --interface 10.0.0.300
    refused "Interface 10.99.0.1 is not an active non-loopback adapter" announce --interface 10.99.0.1
    refused "Interface 10.99.0.1 is not an active non-loopback adapter" browse --interface 10.99.0.1
    # The tool's own checks of what the library would cut, drop or misread.
    refused "TXT attribute 'novalue' is not KEY=VALUE" announce --service _http._tcp Web 80 novalue
    refused "a TXT attribute needs a KEY" announce --service _http._tcp Web 80 =x
    refused "contains a double quote or a backslash" announce --service _http._tcp Web 80 'a=x"y'
    refused "contains a double quote or a backslash" announce --service _http._tcp Web 80 '{"dir":"C:\\x"}'
    refused "too long" announce --service _http._tcp Web 80 "k=$long_value"
    refused "not valid JSON" announce --service _http._tcp Web 80 '{"a":'
    refused "not valid JSON" announce --service _http._tcp Web 80 '{"a":1} extra'
    refused "must be a string, number, true, false or null" \
        announce --service _http._tcp Web 80 '{"a":[1,2]}'
    refused "the PORT of --service is not a number: 'http'" announce --service _http._tcp Web http
    refused "--service needs TYPE NAME PORT" announce --service _http._tcp Web
    refused "--port needs a number from 1 to 65535, not '70000'" announce --port 70000
    refused "--seconds needs a whole number of seconds, not 'soon'" announce --seconds soon
    refused "--hostname needs a LABEL" announce --hostname
    refused "--addr needs an IPV4 address or 'auto'" announce --addr ""
    refused "unknown option '--bogus'" announce --bogus
    refused "unknown option '--bogus'" browse --bogus
    refused "need --with-responder" browse --hostname solo
    refused "unknown option '--table'" interfaces --table
    # The newer commands and options.
    local long_name
    long_name=$(printf 'n%.0s' $(seq 300))
    local line
    while IFS='|' read -r expected line; do
        eval "set -- $line"
        refused "$expected" "$@"
    done <<EOF
is not of the form _name._tcp or _name._udp|browse _http
is not of the form _name._tcp or _name._udp|browse http._tcp
is not of the form _name._tcp or _name._udp|browse _http._sctp
is not of the form _name._tcp or _name._udp|browse _$long_name._tcp
is not of the form _name._tcp or _name._udp|announce --service _http Web 80
is not of the form _name._tcp or _name._udp|announce --service _a.b._tcp Web 80
is longer than 63 bytes|announce --service _http._tcp $long_name 80
Hostname label exceeds maximum length (63 characters)|announce -n $long_name
unexpected argument '_ipp._tcp'|browse _http._tcp _ipp._tcp
give a TYPE or --all, not both|browse --all _http._tcp
give --parsable or --json, not both|browse -p --json
unknown option '-x'|browse -r -x
unknown option '--port'|interfaces --port 1
unknown option '-r'|announce -r
--seconds needs a whole number of seconds, not '-1'|browse -t -s -1
--seconds needs a number N|browse -s
need --with-responder|browse -n solo
a NAME is needed|resolve
unexpected argument 'b.local'|resolve a.local b.local
is not a name DNS can carry|resolve $long_name.local
is not a name DNS can carry|resolve "Web.._http._tcp.local"
is not a name DNS can carry|resolve ""
is not a name DNS can carry|resolve a..b.local
unknown option '--all'|resolve --all x.local
Invalid interface IPv4 address format|resolve -i 10.0.0.300 x.local
--interface needs an IPV4 address|resolve x.local -i
not valid JSON|announce --service _http._tcp Web 80 '{"a":"b",}'
is not KEY=VALUE|announce --service _http._tcp Web 80 path=/ plain
EOF

    # A failure at run time: the library's message, exit 1, no usage. Ports
    # held without address reuse cannot be bound by the tool.
    python3 -c '
import socket, sys, time
held = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
held[0].bind(("0.0.0.0", 25400))
held[1].bind(("0.0.0.0", 5353))
print("held", flush=True)
time.sleep(60)' >"$work/held" &
    local i=0
    until grep -q held "$work/held" || [ "$i" -ge 100 ]; do sleep 0.05; i=$((i + 1)); done
    local status=0
    "$tool" announce --port 25400 --seconds 1 >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 1 ] || fail "announce on a held port exited $status, not 1"
    contains "held port" "$work/err" "tandrelo-mdns: cannot start the responder: bind() on port 25400 failed"
    status=0
    "$tool" browse --seconds 1 >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 1 ] || fail "browse beside a held 5353 exited $status, not 1"
    contains "held 5353" "$work/err" "tandrelo-mdns: cannot start the browser: browse bind() failed"
    ! grep -q "usage:" "$work/err" || fail "a failure at run time printed the usage"
    kill %1

    # Asking for help is no error.
    "$tool" help >"$work/out"
    contains "help" "$work/out" "tandrelo-mdns browse [TYPE | --all]"
    "$tool" announce --help >"$work/out"
    contains "announce --help" "$work/out" "--service TYPE NAME PORT"
    "$tool" version >"$work/out"
    contains "version" "$work/out" "tandrelo-mdns 1.1.0"
    local args
    for args in "--version" "browse --version" "resolve --version"; do
        # shellcheck disable=SC2086
        [ "$("$tool" $args)" = "tandrelo-mdns 1.1.0" ] || fail "'$args' does not print the version alone"
    done
    for args in "browse --help" "resolve -h" "interfaces --help"; do
        # shellcheck disable=SC2086
        "$tool" $args >"$work/out" || fail "'$args' exited $?"
        contains "$args" "$work/out" "tandrelo-mdns ${args%% *} ["
    done
    echo "bad arguments are refused with usage and the library's message"
}

# pair NAME: a veth pair NAME0/NAME1 with the peer end NAME1 up.
pair() {
    ip link add "${1}0" type veth peer name "${1}1"
    ip link set "${1}1" up
}

case_interfaces() {
    # Only loopback: nothing usable, and announce falls back to 127.0.0.1.
    "$tool" interfaces >"$work/none"
    contains "no adapter" "$work/none" "No usable IPv4 adapter"
    [ "$("$tool" interfaces --json)" = "[]" ] || fail "interfaces --json without adapters is not []"
    "$tool" announce --seconds 0 >"$work/fallback" 2>&1
    contains "fallback" "$work/fallback" "note: No non-loopback IPv4 adapter found; announcing on 127.0.0.1"
    contains "fallback" "$work/fallback" "host     tandrelo.local -> 127.0.0.1"

    pair vethA
    ip link set vethA0 up
    ip addr add 10.1.0.1/24 dev vethA0
    pair vethB
    ip link set vethB0 up
    ip addr add 10.2.0.1/24 dev vethB0
    ip route add default via 10.2.0.254 dev vethB0
    pair vethC
    ip link set vethC0 up
    ip addr add 169.254.5.5/16 dev vethC0
    pair vethD
    ip addr add 10.4.0.1/24 dev vethD0
    local i=0
    while ip -o link show | grep '[<,]UP[,>]' | grep -v NO-CARRIER | grep -vq 'state UP\|state UNKNOWN' &&
        [ "$i" -lt 50 ]; do
        sleep 0.05
        i=$((i + 1))
    done

    "$tool" interfaces >"$work/table"
    matches "table" "$work/table" '^ADDRESS +GATEWAY +NAME$'
    matches "table" "$work/table" '^10\.1\.0\.1 +- +vethA0$'
    matches "table" "$work/table" '^10\.2\.0\.1 +10\.2\.0\.254 +vethB0$'
    [ "$(wc -l <"$work/table")" = 3 ] || { cat "$work/table"; fail "the table lists more than vethA0 and vethB0"; }
    [ "$("$tool" interfaces --json)" = \
        '[{"ip":"10.1.0.1","name":"vethA0","gateway":"","up":1,"loopback":0},{"ip":"10.2.0.1","name":"vethB0","gateway":"10.2.0.254","up":1,"loopback":0}]' ] ||
        fail "interfaces --json: $("$tool" interfaces --json)"

    # By default announce takes the adapter with the gateway; --interface pins
    # the responder to a listed adapter and refuses one that is down.
    "$tool" announce --seconds 0 >"$work/auto"
    contains "auto address" "$work/auto" "host     tandrelo.local -> 10.2.0.1"
    contains "auto address" "$work/auto" "interface auto"
    "$tool" announce --interface 10.1.0.1 --seconds 0 >"$work/pinned"
    contains "pinned" "$work/pinned" "interface 10.1.0.1"
    "$tool" announce -i 10.1.0.1 -s 0 >"$work/pinned"
    contains "pinned with -i" "$work/pinned" "interface 10.1.0.1"
    contains "pinned" "$work/pinned" "host     tandrelo.local -> 10.2.0.1"
    refused "Interface 10.4.0.1 is not an active non-loopback adapter" announce --interface 10.4.0.1
    echo "interfaces lists the usable veth adapters"
}

case_announce_browse() {
    "$tool" browse --seconds 8 >"$work/table" 2>&1 &
    local table=$!
    "$tool" browse --json --seconds 8 >"$work/json" 2>&1 &
    local json=$!
    sleep 1
    "$tool" announce --hostname cli-a --addr 10.9.8.7 \
        --service _http._tcp "Web One" 8080 path=/x k=v \
        --service _ipp._tcp Printer 631 '{"dir":"\/x","note":"A\u0042","n":3,"duplex":true}' \
        --seconds 4 >"$work/announce" 2>&1 &
    local announce=$!
    # A browser started later asks for the service types: announce answers,
    # and counts the question and the answer in its status line.
    sleep 1.5
    "$tool" browse --seconds 2 >"$work/late" 2>&1
    wait "$announce" || fail "announce exited $?"
    wait "$table" || fail "browse exited $?"
    wait "$json" || fail "browse --json exited $?"

    contains "announce" "$work/announce" "announcing on UDP port 5353, interface auto (for 4 s)"
    contains "announce" "$work/announce" "host     cli-a.local -> 10.9.8.7"
    contains "announce" "$work/announce" "service  Web One._http._tcp.local  port 8080  txt path=/x k=v"
    contains "announce" "$work/announce" "service  Printer._ipp._tcp.local  port 631  txt dir=/x note=AB n=3 duplex=true"
    matches "announce status" "$work/announce" '^ +[0-9]+s  queries [1-9][0-9]*  answers [1-9][0-9]*$'
    matches "announce end" "$work/announce" '^stopped: queries [1-9][0-9]*  answers [1-9][0-9]*$'

    matches "browse table" "$work/table" '^SEEN +INSTANCE +TYPE +HOST +ADDRESS +PORT +TXT$'
    matches "browse table" "$work/table" '^new +Web One +_http\._tcp +cli-a\.local +10\.9\.8\.7 +8080 +path=/x;k=v$'
    matches "browse table" "$work/table" '^new +Printer +_ipp\._tcp +cli-a\.local +10\.9\.8\.7 +631 +dir=/x;note=AB;n=3;duplex=true$'
    matches "browse table" "$work/table" '^stopped: [0-9]+ services, '
    # It asks on for the instances and their records: both services, whole.
    matches "late browse" "$work/late" '^new +Web One +_http\._tcp +cli-a\.local +10\.9\.8\.7 +8080 +path=/x;k=v$'
    matches "late browse" "$work/late" '^new +Printer +_ipp\._tcp +cli-a\.local +10\.9\.8\.7 +631 '

    # Every line of --json is one JSON object; the two services are there whole.
    python3 - "$work/json" <<'PY' || fail "browse --json"
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
services = {r["name"]: r for r in rows if r["kind"] == "service"}
want = {
    "Web One._http._tcp.local": dict(instance="Web One", type="_http._tcp", host="cli-a.local",
                                     address="10.9.8.7", port=8080, txt="path=/x;k=v"),
    "Printer._ipp._tcp.local": dict(instance="Printer", type="_ipp._tcp", host="cli-a.local",
                                    address="10.9.8.7", port=631, txt="dir=/x;note=AB;n=3;duplex=true"),
}
for name, fields in want.items():
    got = services.get(name, {})
    wrong = {k: got.get(k) for k, v in fields.items() if got.get(k) != v}
    if wrong:
        sys.exit("%s: wrong fields %s in %s" % (name, wrong, rows))
PY

    # Without --seconds, announce runs until Ctrl-C and then stops cleanly.
    "$tool" announce >"$work/interrupted" 2>&1 &
    announce=$!
    local i=0
    until grep -q "announcing" "$work/interrupted" || [ "$i" -ge 100 ]; do
        sleep 0.05
        i=$((i + 1))
    done
    kill -INT "$announce"
    wait "$announce" || fail "announce ended by Ctrl-C exited $?"
    contains "Ctrl-C" "$work/interrupted" "(Ctrl-C stops)"
    contains "Ctrl-C" "$work/interrupted" "stopped:"
    echo "announce and browse see each other"
}

# aligned FILE LINE_REGEX TITLE: on the first line that matches, the cell
# under TITLE of the table's header starts exactly where the title does.
aligned() {
    awk -v want="$2" -v title="$3" '
        /^SEEN / { at = index($0, title) }
        $0 ~ want && at { ok = substr($0, at - 2, 2) == "  " && substr($0, at, 1) != " "; exit }
        END { exit !ok }' "$1"
}

case_browse_resolve() {
    local long_instance
    long_instance="A rather long instance name that no column fits"
    # The browser starts first and hears the announcements; short options,
    # and LABEL.local taken as LABEL.
    local start=$SECONDS
    "$tool" browse -t _http._tcp >"$work/table" &
    local browse=$!
    sleep 0.3
    "$tool" announce -n cli-b.local -a 10.9.8.7 -s 20 \
        --service _http._tcp "Web One" 8080 path=/x k=v \
        --service _http._tcp "$long_instance" 8081 \
        --service _ipp._tcp Printer 631 'rp=a;b' --service _semi._tcp 'Semi;colon' 9 \
        >"$work/announce" 2>&1 &
    wait "$browse" || fail "browse -t exited $?"
    [ $((SECONDS - start)) -le 6 ] || fail "browse -t took $((SECONDS - start)) s"
    contains "announce -n" "$work/announce" "host     cli-b.local -> 10.9.8.7"
    matches "browse -t" "$work/table" '^tandrelo-mdns 1\.1\.0 browsing _http\._tcp \(until the answers settle\)$'
    matches "browse -t" "$work/table" '^SEEN +INSTANCE +TYPE +HOST +ADDRESS +PORT +TXT$'
    matches "browse -t" "$work/table" '^new +Web One +_http\._tcp +cli-b\.local +10\.9\.8\.7 +8080 +path=/x;k=v$'
    matches "browse -t" "$work/table" '^new +A rather long instance name tha~ +_http\._tcp +cli-b\.local +10\.9\.8\.7 +8081 +-$'
    matches "browse -t" "$work/table" '^stopped: 2 services, 0 other service types, 0 other hosts$'
    ! grep -q Printer "$work/table" || fail "browse _http._tcp shows an _ipp._tcp instance"
    # Every row's cells start right under their titles, the cut name's too.
    local title row
    for title in TYPE HOST PORT TXT; do
        for row in "Web One" "A rather"; do
            aligned "$work/table" "^new +$row" "$title" ||
                { cat "$work/table"; fail "the $title column moves on the row of '$row'"; }
        done
    done

    # Browsers started after the announcements: what they show, they asked for.
    "$tool" browse -r -t -p _ipp._tcp >"$work/parsable" || fail "browse -r -t -p exited $?"
    contains "browse -p" "$work/parsable" '+;IPv4;Printer;_ipp._tcp;local;cli-b.local;10.9.8.7;631;"rp=a" "b"'
    ! grep -v '^+;IPv4;[^;]' "$work/parsable" || fail "browse -r -p printed a line that is no resolved instance"
    # A ';' inside a field is written as \059.
    [ "$("$tool" browse -r -t -p _semi._tcp)" = '+;IPv4;Semi\059colon;_semi._tcp;local;cli-b.local;10.9.8.7;9;' ] ||
        fail "browse -p _semi._tcp: $("$tool" browse -r -t -p _semi._tcp)"

    "$tool" browse --json -r --terminate _IPP._tcp.local. >"$work/json" || fail "browse --json exited $?"
    [ "$(cat "$work/json")" = \
        '{"event":"new","kind":"service","name":"Printer._ipp._tcp.local","instance":"Printer","type":"_ipp._tcp","host":"cli-b.local","address":"10.9.8.7","port":631,"txt":"rp=a;b","from":"'"$(sed -n 's/.*"from":"\([^"]*\)".*/\1/p' "$work/json")"'"}' ] ||
        fail "browse --json -r _ipp._tcp: $(cat "$work/json")"

    "$tool" resolve cli-b.local >"$work/host" || fail "resolve cli-b.local exited $?"
    [ "$(cat "$work/host")" = "$(printf 'cli-b.local\t10.9.8.7')" ] || fail "resolve host: $(cat "$work/host")"
    "$tool" resolve CLI-B >"$work/host" || fail "resolve CLI-B exited $?"
    contains "resolve without .local" "$work/host" "10.9.8.7"
    "$tool" resolve "Web One._http._tcp.local" >"$work/instance" || fail "resolve an instance exited $?"
    [ "$(cat "$work/instance")" = "Web One._http._tcp.local
  host     cli-b.local
  address  10.9.8.7
  port     8080
  txt      path=/x;k=v" ] || fail "resolve instance: $(cat "$work/instance")"
    "$tool" resolve --json "$long_instance._http._tcp.local" >"$work/instance" || fail "resolve --json exited $?"
    contains "resolve --json" "$work/instance" '"port":8081,"txt":"",'

    # Nobody answers: exit 1 after 3 s, with the reason.
    start=$(date +%s%N)
    local status=0
    "$tool" resolve nobody.local >"$work/out" 2>"$work/err" || status=$?
    local took=$((($(date +%s%N) - start) / 1000000))
    [ "$status" = 1 ] || fail "resolve nobody.local exited $status, not 1"
    [ "$took" -ge 2900 ] && [ "$took" -le 4500 ] || fail "resolve nobody.local gave up after $took ms"
    contains "resolve nobody" "$work/err" "tandrelo-mdns: no answer for nobody.local within 3 s"
    status=0
    "$tool" resolve "Gone._http._tcp.local" >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 1 ] || fail "resolve of a missing instance exited $status, not 1"

    # -t ends after 5 s even while new records keep coming.
    python3 -c '
import socket, struct, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(40):
    owner = b"".join(bytes([len(l)]) + l for l in (b"busy%d" % i, b"local")) + b"\0"
    answer = owner + struct.pack(">HHIH", 1, 1, 120, 4) + socket.inet_aton("10.0.7.%d" % (i + 1))
    s.sendto(struct.pack(">6H", 0, 0x8400, 0, 1, 0, 0) + answer, ("224.0.0.251", 5353))
    time.sleep(0.3)' &
    local busy=$!
    start=$(date +%s%N)
    "$tool" browse -t >"$work/busy" || fail "browse -t beside a busy peer exited $?"
    took=$((($(date +%s%N) - start) / 1000000))
    kill "$busy" 2>/dev/null || true
    [ "$took" -ge 4800 ] && [ "$took" -le 6000 ] || fail "browse -t beside a busy peer took $took ms"
    matches "busy" "$work/busy" '^new +- +- +busy[0-9]+\.local +10\.0\.7\.[0-9]+ .*\(host\)$'
    echo "browse and resolve find what announce offers"
}

case_browse_rows() {
    python3 "$(dirname "$0")/browse_rows.py" "$tool"
}

"case_$case_name"
