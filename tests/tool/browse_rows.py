"""How `tandrelo-mdns browse --json` regroups what the browser caches.

Hand-made mDNS responses go to the group while the tool browses: two
instances of one type (one also under a subtype), their host's address, a
service type that nobody names an instance of, a host of its own and a
reverse-lookup record. The tool must print one row per instance, type and
host, ignore the reverse record, and print a changed row when an instance's
port changes.

usage: browse_rows.py TOOL       (inside the test's network namespace)
"""
import json
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

TOOL = sys.argv[1]
A, PTR, TXT, SRV = 1, 12, 16, 33


def name(text):
    out = b""
    for label in text.split("."):
        out += bytes([len(label)]) + label.encode()
    return out + b"\0"


def record(owner, rrtype, rdata):
    # owner, TYPE, CLASS IN, TTL 120, RDLENGTH, RDATA
    return name(owner) + struct.pack(">HHIH", rrtype, 1, 120, len(rdata)) + rdata


def srv(port, target):
    return struct.pack(">HHH", 0, 0, port) + name(target)


def txt(*strings):
    return b"".join(bytes([len(s)]) + s.encode() for s in strings)


def response(*records):
    # ID 0, flags 0x8400 (response, authoritative), no questions, answers only
    return struct.pack(">HHHHHH", 0, 0x8400, 0, len(records), 0, 0) + b"".join(records)


def send(datagram):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.sendto(datagram, ("224.0.0.251", 5353))
    sock.close()


def rows(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


def wait_rows(path, count):
    deadline = time.monotonic() + 5
    while len(rows(path)) < count and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(0.5)  # and nothing more arrives
    return rows(path)


def main():
    out = tempfile.NamedTemporaryFile("w+", suffix=".json")
    browse = subprocess.Popen([TOOL, "browse", "--json"], stdout=out)
    time.sleep(0.5)
    send(response(
        record("_http._tcp.local", PTR, name("A One._http._tcp.local")),
        record("_printer._sub._http._tcp.local", PTR, name("A One._http._tcp.local")),
        record("A One._http._tcp.local", SRV, srv(80, "hostx.local")),
        record("A One._http._tcp.local", TXT, txt("a=1", "b=2")),
        record("hostx.local", A, socket.inet_aton("10.0.0.5")),
        record("Two._http._tcp.local", SRV, srv(81, "HostX.local")),
        record("_services._dns-sd._udp.local", PTR, name("_ipp._tcp.local")),
        record("lonely.local", A, socket.inet_aton("10.0.0.6")),
        record("5.0.0.10.in-addr.arpa", PTR, name("hostx.local")),
    ))
    first = wait_rows(out.name, 4)
    send(response(record("two._HTTP._tcp.local", SRV, srv(82, "hostx.local"))))
    second = wait_rows(out.name, 5)[len(first):]
    # The cache keeps the 256 entries heard last; last_seen counts whole
    # seconds, so the fillers come a second after everything else.
    time.sleep(1.1)
    fillers = [record("fill%d.local" % i, A, socket.inet_aton("10.0.1.%d" % (i % 250 + 1)))
               for i in range(256)]
    for i in range(0, 256, 32):
        send(response(*fillers[i:i + 32]))
    third = [r for r in wait_rows(out.name, 5 + 256 + 4)[len(first) + len(second):]
             if r["event"] == "removed"]
    browse.send_signal(signal.SIGINT)
    browse.wait(5)

    def service(instance, host, port, txt_text):
        return {"event": "new", "kind": "service", "name": instance + "._http._tcp.local",
                "instance": instance, "type": "_http._tcp", "host": host, "address": "10.0.0.5",
                "port": port, "txt": txt_text}

    want_first = [
        service("A One", "hostx.local", 80, "a=1;b=2"),
        service("Two", "HostX.local", 81, ""),
        {"event": "new", "kind": "type", "type": "_ipp._tcp"},
        {"event": "new", "kind": "host", "host": "lonely.local", "address": "10.0.0.6"},
    ]
    want_second = [dict(service("Two", "hostx.local", 82, ""), event="changed")]
    want_third = [dict(row, event="removed") for row in want_first[:1] + want_second + want_first[2:]]
    failed = False
    for what, got, want in (("first", first, want_first), ("second", second, want_second),
                            ("eviction", third, want_third)):
        # A complete instance is printed at once, the others after a wait for
        # their records: the order of the lines is not the point.
        trimmed = sorted(({k: v for k, v in row.items() if k != "from"} for row in got), key=str)
        want = sorted(want, key=str)
        if trimmed != want:
            failed = True
            print("%s response: got\n  %s\nwant\n  %s" % (what, "\n  ".join(map(str, trimmed)),
                                                         "\n  ".join(map(str, want))))
    if failed:
        return 1
    print("browse regroups the cache into instance, type and host rows, and reports removals")
    return 0


sys.exit(main())
