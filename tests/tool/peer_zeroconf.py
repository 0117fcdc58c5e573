"""python3-zeroconf and the command-line tool, from the terminal.

1. While `tandrelo-mdns announce` runs, zeroconf resolves its host name
   (an A question of its own), lists its service type and resolves its
   service (port, host, address, TXT).
2. While zeroconf has a service registered, `tandrelo-mdns browse --json`
   prints it with its host, address, port and TXT.

Run by peer_zeroconf.sh inside a network namespace of its own.
usage: peer_zeroconf.py TOOL
Exit codes: 0 passed, 1 failed, 77 skipped (python3-zeroconf missing).
"""
import json
import signal
import socket
import subprocess
import sys
import tempfile
import time

try:
    from zeroconf import (DNSOutgoing, DNSQuestion, IPVersion, ServiceInfo, Zeroconf,
                          ZeroconfServiceTypes)
    from zeroconf.const import _CLASS_IN, _FLAGS_QR_QUERY, _TYPE_A
except ImportError:
    print("skipped: python3-zeroconf is not installed (apt-get install python3-zeroconf)")
    sys.exit(77)

TOOL = sys.argv[1]
failures = []


def check(what, ok, detail=""):
    print(("ok: " if ok else "FAIL: ") + what + ("" if ok else " " + str(detail)))
    if not ok:
        failures.append(what)


def start_tool(*args):
    out = tempfile.NamedTemporaryFile("w+", prefix="tool-", suffix=".out")
    proc = subprocess.Popen([TOOL, *args], stdout=out, stderr=subprocess.STDOUT, text=True)
    return proc, out


def read(out):
    out.flush()
    with open(out.name) as f:
        return f.read()


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


def interrupt(proc):
    """Ctrl-C, as a user stops the tool; returns its exit code."""
    proc.send_signal(signal.SIGINT)
    try:
        return proc.wait(5)
    except subprocess.TimeoutExpired:
        proc.kill()
        return "no exit after Ctrl-C"


def new_zeroconf():
    return Zeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)


def resolve_host(name, seconds):
    """Asks for the A record of name and returns the addresses that come back."""
    zc = new_zeroconf()
    try:
        def addresses():
            records = zc.cache.get_all_by_details(name, _TYPE_A, _CLASS_IN)
            return [socket.inet_ntoa(r.address) for r in records]
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            query = DNSOutgoing(_FLAGS_QR_QUERY)
            query.add_question(DNSQuestion(name, _TYPE_A, _CLASS_IN))
            zc.send(query)
            if wait_until(addresses, 1):
                return addresses()
        return []
    finally:
        zc.close()


def zeroconf_resolves_announce():
    proc, out = start_tool("announce", "--hostname", "clihost", "--addr", "10.9.8.7",
                           "--service", "_http._tcp", "Tool Web", "8080", "path=/x", "k=v")
    try:
        check("announce starts", wait_until(lambda: "announcing" in read(out), 5), read(out))
        check("zeroconf resolves the host", resolve_host("clihost.local.", 5) == ["10.9.8.7"])

        zc = new_zeroconf()
        try:
            types = ZeroconfServiceTypes.find(zc=zc, timeout=2)
            check("zeroconf lists the service type", "_http._tcp.local." in types, types)
            info = zc.get_service_info("_http._tcp.local.", "Tool Web._http._tcp.local.", timeout=5000)
            check("zeroconf resolves the service", info is not None)
            if info is not None:
                check("service port", info.port == 8080, info.port)
                check("service host", info.server == "clihost.local.", info.server)
                check("service address", info.parsed_addresses() == ["10.9.8.7"], info.parsed_addresses())
                check("service TXT", info.properties == {b"path": b"/x", b"k": b"v"}, info.properties)
        finally:
            zc.close()
    finally:
        status = interrupt(proc)
    text = read(out)
    check("announce stops on Ctrl-C with exit 0", status == 0 and "stopped:" in text, (status, text))
    check("announce counts the answers it sent",
          any(line.split()[-1] != "0" for line in text.splitlines() if "answers" in line), text)


def browse_shows_zeroconf_service():
    proc, out = start_tool("browse", "--json")
    zc = new_zeroconf()
    info = ServiceInfo("_tandrelo-peer._tcp.local.", "Peer One._tandrelo-peer._tcp.local.",
                       addresses=[socket.inet_aton("127.0.0.1")], port=8123,
                       properties={"k": "v", "path": "/x"}, server="zcpeer.local.")
    want = {"kind": "service", "instance": "Peer One", "type": "_tandrelo-peer._tcp",
            "host": "zcpeer.local", "address": "127.0.0.1", "port": 8123}

    def peer_row():
        for line in read(out).splitlines():
            row = json.loads(line)
            if row.get("name") == "Peer One._tandrelo-peer._tcp.local":
                if all(row.get(k) == v for k, v in want.items()) and \
                        sorted(row["txt"].split(";")) == ["k=v", "path=/x"]:
                    return row
        return None

    try:
        time.sleep(1)
        zc.register_service(info)
        check("browse shows the zeroconf service", wait_until(peer_row, 15), read(out))
    finally:
        zc.unregister_service(info)
        zc.close()
        status = interrupt(proc)
    check("browse stops on Ctrl-C with exit 0", status == 0, status)


zeroconf_resolves_announce()
browse_shows_zeroconf_service()
if failures:
    print("failed:", ", ".join(failures))
    sys.exit(1)
print("zeroconf and the tool see each other")
