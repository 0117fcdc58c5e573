"""Services that exist before the browser starts.

python3-zeroconf publishes 20 services of 4 types; only then does the
shipped library, loaded with ctypes, start browsing (on its own socket, or
on the responder's socket with --shared). Within 3 s every instance must be
in the report with its SRV and TXT, every type's PTR and the peer host's A;
a service the peer unregisters must leave the report within 2 s.

A listener on the group counts the library's questions: no name is asked
twice, and at most 20 follow-up messages leave in any second.

Run by zeroconf_existing.sh inside a network namespace of its own.
usage: zeroconf_existing.py LIBRARY [--shared]
Exit codes: 0 passed, 1 failed, 77 skipped (python3-zeroconf missing).
"""
import collections
import ctypes
import json
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mdns_wire import read_name  # noqa: E402

try:
    from zeroconf import IPVersion, ServiceInfo, Zeroconf
except ImportError:
    print("skipped: python3-zeroconf is not installed (apt-get install python3-zeroconf)")
    sys.exit(77)

TYPES = ["_tdl-a._tcp.local", "_tdl-b._tcp.local", "_tdl-c._udp.local", "_tdl-d._tcp.local"]
HOST = "zcpeer.local"
SHARED = "--shared" in sys.argv[2:]

lib = ctypes.CDLL(sys.argv[1])
for name in ("mdns_browse_results", "mdns_last_error"):
    getattr(lib, name).restype = ctypes.c_char_p


def report():
    return json.loads(lib.mdns_browse_results().decode("utf-8"))


def entry(entries, name, rrtype):
    folded = name.lower()
    return next((e for e in entries if e["name"].lower() == folded and e["rrtype"] == rrtype), None)


class QuestionCounter:
    """Hears the group and keeps the library's questions: queries with no
    answer and no authority records (python3-zeroconf, which only publishes
    here, sends none of those but its probes, which carry authority records)."""

    def __init__(self):
        self.questions = []  # (time, name, qtype) per question
        self.messages = []   # time per message
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if hasattr(socket, "SO_REUSEPORT"):
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        self.sock.bind(("", 5353))
        membership = socket.inet_aton("224.0.0.251") + socket.inet_aton("127.0.0.1")
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
        self.sock.settimeout(0.2)
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while self.running:
            try:
                data, _ = self.sock.recvfrom(9000)
            except socket.timeout:
                continue
            if len(data) < 12:
                continue
            _, flags, qd, an, ns, _ = struct.unpack("!6H", data[:12])
            if flags & 0x8000 or an or ns or not qd:
                continue
            now = time.monotonic()
            self.messages.append(now)
            at = 12
            for _ in range(qd):
                name, at = read_name(data, at)
                qtype = struct.unpack("!H", data[at:at + 2])[0]
                at += 4
                self.questions.append((now, name.lower(), qtype))

    def stop(self):
        self.running = False
        self.thread.join()
        self.sock.close()


def main():
    zc = Zeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
    infos, texts = [], {}
    for i in range(20):
        service_type = TYPES[i % 4]
        properties = {"n": str(i), "path": "/p%d" % i}
        info = ServiceInfo(service_type + ".", "svc %02d.%s." % (i, service_type),
                           addresses=[socket.inet_aton("127.0.0.1")], port=9000 + i,
                           properties=properties, server=HOST + ".")
        infos.append(info)
        texts[info.name] = sorted("%s=%s" % kv for kv in properties.items())
    # Each registration probes for its name first; all at once, that is
    # quick.
    threads = [threading.Thread(target=zc.register_service, args=(info,)) for info in infos]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    time.sleep(1.0)  # the announcements are over before the browser starts

    counter = QuestionCounter()
    if SHARED and lib.mdns_start(5353) != 0:
        print("mdns_start:", lib.mdns_last_error().decode())
        return 1
    started = time.monotonic()
    if lib.mdns_browse_start() != 0:
        print("mdns_browse_start:", lib.mdns_last_error().decode())
        return 1

    def missing(entries):
        gaps = []
        for info in infos:
            instance = info.name.rstrip(".")
            srv = entry(entries, instance, 33)
            txt = entry(entries, instance, 16)
            if not srv or srv["port"] != info.port or srv["target"].lower() != HOST:
                gaps.append("SRV " + instance)
            if not txt or sorted(txt["txt"].split(";")) != texts[info.name]:
                gaps.append("TXT " + instance)
        for service_type in TYPES:
            if not entry(entries, service_type, 12):
                gaps.append("PTR " + service_type)
        host = entry(entries, HOST, 1)
        if not host or host["ip"] != "127.0.0.1":
            gaps.append("A " + HOST)
        return gaps

    failed = []
    gaps = missing(report())
    while gaps and time.monotonic() - started < 3.0:
        time.sleep(0.05)
        gaps = missing(report())
    resolved_in = time.monotonic() - started
    if gaps:
        failed.append("not resolved within 3 s: " + ", ".join(gaps[:8]))

    # A peer's unregister is a goodbye: the instance leaves the report.
    gone = infos[5].name.rstrip(".")
    zc.unregister_service(infos[5])
    unregistered = time.monotonic()
    while entry(report(), gone, 33) and time.monotonic() - unregistered < 2.0:
        time.sleep(0.05)
    if entry(report(), gone, 33):
        failed.append("%s still in the report 2 s after its goodbye" % gone)
    elif entry(report(), infos[6].name.rstrip("."), 33) is None:
        failed.append("the goodbye took other instances with it")

    time.sleep(1.0)
    counter.stop()
    # The enumeration question is the start's, repeated by the own socket's
    # thread on its schedule; every other question is a follow-up.
    asked = collections.Counter((name, qtype) for _, name, qtype in counter.questions
                                if name != "_services._dns-sd._udp.local")
    twice = [q for q, n in asked.items() if n > 1]
    if twice:
        failed.append("asked more than once: %s" % twice)
    window = max((sum(1 for t in counter.messages if s <= t < s + 1.0) for s in counter.messages),
                 default=0)
    if window > 22:  # the enumeration question twice and 20 follow-ups
        failed.append("%d question messages within one second" % window)

    lib.mdns_browse_stop()
    lib.mdns_stop()
    for info in infos:
        if info is not infos[5]:
            zc.unregister_service(info)
    zc.close()
    print("%s way: 20 services of 4 types resolved in %.2f s with %d question messages "
          "(%d questions)" % ("shared" if SHARED else "own-socket", resolved_in,
                             len(counter.messages), len(counter.questions)))
    if failed:
        print("FAILED:", "; ".join(failed))
        return 1
    return 0


sys.exit(main())
