"""A real mDNS peer for the browser.

python3-zeroconf registers a service; the shipped library, loaded with
ctypes, browses on its own socket and must cache the peer's PTR, SRV, TXT
and A records. Then the browser starts again and must learn the service
type from the peer's answer to its enumeration question.

Run by zeroconf_browse.sh inside a network namespace of its own.
usage: zeroconf_browse.py LIBRARY
Exit codes: 0 passed, 1 failed, 77 skipped (python3-zeroconf missing).
"""
import ctypes
import json
import socket
import sys
import time

try:
    from zeroconf import IPVersion, ServiceInfo, Zeroconf
except ImportError:
    print("skipped: python3-zeroconf is not installed (apt-get install python3-zeroconf)")
    sys.exit(77)

SERVICE_TYPE = "_tandrelo-peer._tcp.local"
INSTANCE = "Peer One." + SERVICE_TYPE
HOST = "zcpeer.local"

lib = ctypes.CDLL(sys.argv[1])
for name in ("mdns_browse_results", "mdns_last_error"):
    getattr(lib, name).restype = ctypes.c_char_p
for name in ("mdns_browse_start", "mdns_browse_stop", "mdns_browse_clear"):
    getattr(lib, name).restype = ctypes.c_int32


def report():
    # json.loads with strict defaults: the report must be valid JSON.
    return json.loads(lib.mdns_browse_results().decode("utf-8"))


def entry(entries, name, rrtype):
    for e in entries:
        if e["name"] == name and e["rrtype"] == rrtype:
            return e
    return None


def wait_for(checks, seconds):
    """Polls the report until every check holds; returns the failing ones."""
    deadline = time.monotonic() + seconds
    while True:
        entries = report()
        failing = [what for what, check in checks if not check(entries)]
        if not failing or time.monotonic() > deadline:
            return failing, entries
        time.sleep(0.1)


def start_browser():
    rc = lib.mdns_browse_start()
    if rc != 0:
        print("mdns_browse_start:", rc, lib.mdns_last_error().decode())
        sys.exit(1)


def main():
    start_browser()
    zc = Zeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
    info = ServiceInfo(SERVICE_TYPE + ".", INSTANCE + ".",
                       addresses=[socket.inet_aton("127.0.0.1")], port=8123,
                       properties={"k": "v", "path": "/x"}, server=HOST + ".")
    failed = []
    try:
        # The announcements of a new service carry all four records.
        zc.register_service(info)
        records = [
            ("PTR type -> instance",
             lambda es: (entry(es, SERVICE_TYPE, 12) or {}).get("target") == INSTANCE),
            ("SRV port and target",
             lambda es: (entry(es, INSTANCE, 33) or {}).get("port") == 8123
             and entry(es, INSTANCE, 33)["target"] == HOST),
            ("TXT strings",
             lambda es: sorted((entry(es, INSTANCE, 16) or {}).get("txt", "").split(";"))
             == ["k=v", "path=/x"]),
            ("A address", lambda es: (entry(es, HOST, 1) or {}).get("ip") == "127.0.0.1"),
        ]
        failing, entries = wait_for(records, 15)
        failed += failing

        # A fresh start asks the enumeration question; the peer names its type.
        lib.mdns_browse_stop()
        lib.mdns_browse_clear()
        start_browser()
        enumeration = [
            ("PTR enumeration -> type",
             lambda es: (entry(es, "_services._dns-sd._udp.local", 12) or {}).get("target")
             == SERVICE_TYPE),
        ]
        failing, entries2 = wait_for(enumeration, 10)
        failed += failing
    finally:
        zc.unregister_service(info)
        zc.close()
        lib.mdns_browse_stop()

    if failed:
        print("not cached as expected:", ", ".join(failed))
        print("report after the announcements:", json.dumps(entries, indent=1))
        print("report after the question:", json.dumps(entries2, indent=1))
        return 1
    print("the peer's records and its service type were cached")
    return 0


sys.exit(main())
