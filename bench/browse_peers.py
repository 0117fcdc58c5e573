#!/usr/bin/python3
"""The programs of bench/browse.sh, one per mode. Each runs in one host of
the benchmark's link (tests/peers/lan.sh), except `count`, which runs in the
link's own namespace, where the hosts' veth ends meet at the bridge.

  browse_peers.py publish IFACE COUNT TYPES
      python3-zeroconf publishes COUNT services "svc-<i>" of type
      "_t<i % TYPES>._tcp" on host "benchpub.local" at IFACE, port 9000 + i,
      TXT id=<i> and pad=xx... (100 bytes in all); prints "ready" once every
      registration has returned, then waits until killed
  browse_peers.py library LIBRARY COUNT TYPES PUBLISHER_ADDR TIMEOUT
      the library, loaded with ctypes: mdns_browse_start on its own socket,
      then the browse report read every 5 ms until every service is in it
      (SRV with port and target, TXT, the target's A)
  browse_peers.py zeroconf IFACE COUNT TYPES PUBLISHER_ADDR TIMEOUT [--enumerate]
      python3-zeroconf's AsyncServiceBrowser on the TYPES types (with
      --enumerate: on the service-type enumeration name, and a browser for
      each type it names), and an AsyncServiceInfo request for each instance
  browse_peers.py avahi COUNT TYPES PUBLISHER_ADDR TIMEOUT
      runs `avahi-browse -art -t -p` and reads its "=" lines (the caller
      sets DBUS_SYSTEM_BUS_ADDRESS for the host's daemon)
  browse_peers.py count OUTFILE
      captures every frame that a host sends into the bridge (on the link's
      veth ends "lanh<N>") from or to UDP port 5353 and writes one line per
      datagram: "<epoch> <host> <to> <qr> <qd> <an> <ns> <ar> <bytes>
      [name/type...]", <to> "group" for 224.0.0.251 or the address of a
      unicast datagram, with the questions' names and types for a query;
      the time is the kernel's receive time stamp

The browsers print "start <epoch>", then "resolved <epoch> <found>" when all
COUNT services are resolved or "timeout <epoch> <found>" (for avahi-browse
also when it exits first), epoch seconds from CLOCK_REALTIME; the same clock
as the capture's time stamps. The zeroconf browser adds to its "resolved"
line how many instances it had to ask about again.
"""
import asyncio
import ctypes
import json
import os
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'peers'))
from mdns_wire import read_name  # noqa: E402

HOST = "benchpub.local"
BASE_PORT = 9000
TXT_BYTES = 100


def instance(i, types):
    return "svc-%d._t%d._tcp.local" % (i, i % types)


def txt_properties(i):
    # On the wire: 1 + len("id=<i>") + 1 + len("pad=") + pad = TXT_BYTES.
    pad = TXT_BYTES - 9 - len(str(i))
    return {"id": str(i), "pad": "x" * pad}


def publish(iface, count, types):
    from zeroconf import IPVersion, ServiceInfo
    from zeroconf.asyncio import AsyncZeroconf

    async def run():
        aiozc = AsyncZeroconf(interfaces=[iface], ip_version=IPVersion.V4Only)
        infos = [ServiceInfo("_t%d._tcp.local." % (i % types), instance(i, types) + ".",
                             addresses=[socket.inet_aton(iface)], port=BASE_PORT + i,
                             properties=txt_properties(i), server=HOST + ".")
                 for i in range(count)]
        # All registrations at once: they probe and announce side by side.
        tasks = await asyncio.gather(*(aiozc.async_register_service(info) for info in infos))
        await asyncio.gather(*tasks)
        print("ready", flush=True)
        try:
            await asyncio.sleep(3600)
        finally:
            await aiozc.async_close()

    try:
        asyncio.run(run())
    except KeyboardInterrupt:
        pass
    return 0


def say(word, *rest):
    print(word, "%.6f" % time.time(), *rest, flush=True)


def library(path, count, types, addr, timeout):
    lib = ctypes.CDLL(path)
    lib.mdns_browse_results.restype = ctypes.c_char_p
    lib.mdns_last_error.restype = ctypes.c_char_p
    wanted = {}
    for i in range(count):
        wanted[(instance(i, types), 33)] = (BASE_PORT + i, HOST)
        wanted[(instance(i, types), 16)] = "id=%d" % i
    wanted[(HOST, 1)] = addr

    def found(entries):
        have = set()
        for e in entries:
            key = (e["name"].lower(), e["rrtype"])
            want = wanted.get(key)
            if want is None:
                continue
            if e["rrtype"] == 33 and (e["port"], e["target"].lower()) == want:
                have.add(key)
            elif e["rrtype"] == 16 and want in e["txt"].split(";"):
                have.add(key)
            elif e["rrtype"] == 1 and e["ip"] == want:
                have.add(key)
        return have

    say("start")
    if lib.mdns_browse_start() != 0:
        print("mdns_browse_start:", lib.mdns_last_error().decode(), flush=True)
        return 1
    deadline = time.monotonic() + timeout
    while True:
        have = found(json.loads(lib.mdns_browse_results().decode("utf-8")))
        if len(have) == len(wanted):
            say("resolved", count)
            break
        if time.monotonic() > deadline:
            resolved = sum(1 for i in range(count)
                           if {(instance(i, types), 33), (instance(i, types), 16)} <= have)
            say("timeout", resolved if (HOST, 1) in have else 0)
            break
        time.sleep(0.005)
    lib.mdns_browse_stop()
    return 0


def zeroconf_browse(iface, count, types, addr, timeout, enumerate_types):
    from zeroconf import IPVersion, ServiceStateChange
    from zeroconf.asyncio import AsyncServiceBrowser, AsyncServiceInfo, AsyncZeroconf

    async def run():
        done = set()
        all_done = asyncio.Event()
        pending = set()
        browsers = []
        problems = {}

        async def resolve(service_type, name):
            # Asked again while the request comes back incomplete, as an
            # application that needs the service would.
            i = int(name.split(".")[0][4:])
            while True:
                info = AsyncServiceInfo(service_type, name)
                await info.async_request(aiozc.zeroconf, 3000)
                if (info.port == BASE_PORT + i and info.server and info.server.lower() == HOST + "."
                        and addr in info.parsed_addresses()
                        and info.properties.get(b"id") == str(i).encode()):
                    break
                problems[name] = (info.port, info.server, info.parsed_addresses(),
                                  info.properties.get(b"id"))
                await asyncio.sleep(0.005)  # a request answered from the cache does not wait
            done.add(name)
            if len(done) == count:
                all_done.set()

        def on_instance(zeroconf, service_type, name, state_change):
            if state_change is ServiceStateChange.Added:
                task = asyncio.ensure_future(resolve(service_type, name))
                pending.add(task)
                task.add_done_callback(pending.discard)

        def on_type(zeroconf, service_type, name, state_change):
            if state_change is ServiceStateChange.Added and name.startswith("_t"):
                browsers.append(AsyncServiceBrowser(aiozc.zeroconf, [name], handlers=[on_instance]))

        say("start")
        aiozc = AsyncZeroconf(interfaces=[iface], ip_version=IPVersion.V4Only)
        if enumerate_types:
            browsers.append(AsyncServiceBrowser(aiozc.zeroconf, ["_services._dns-sd._udp.local."],
                                                handlers=[on_type]))
        else:
            browsers.append(AsyncServiceBrowser(aiozc.zeroconf,
                                                ["_t%d._tcp.local." % t for t in range(types)],
                                                handlers=[on_instance]))
        try:
            await asyncio.wait_for(all_done.wait(), timeout)
            say("resolved", count, "asked-again", len(problems))
        except asyncio.TimeoutError:
            say("timeout", len(done))
            for name, got in problems.items():
                if name not in done:
                    print("incomplete", name, got, flush=True)
        for browser in browsers:
            await browser.async_cancel()
        for task in list(pending):
            task.cancel()
        await aiozc.async_close()

    asyncio.run(run())
    return 0


def avahi(count, types, addr, timeout):
    wanted = {"=;lan0;IPv4;svc-%d;_t%d._tcp;local;%s;%s;%d;" % (i, i % types, HOST, addr, BASE_PORT + i)
              for i in range(count)}
    say("start")
    proc = subprocess.Popen(["stdbuf", "-oL", "avahi-browse", "-art", "-t", "-p"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    seen = set()
    deadline = time.monotonic() + timeout
    os.set_blocking(proc.stdout.fileno(), True)
    import selectors
    sel = selectors.DefaultSelector()
    sel.register(proc.stdout, selectors.EVENT_READ)
    result = None
    while result is None:
        left = deadline - time.monotonic()
        if left <= 0 or not sel.select(left):
            result = "timeout"
            break
        line = proc.stdout.readline()
        if not line:
            result = "timeout"  # it exited before listing every service
            break
        for row in wanted - seen:
            if line.startswith(row) and '"id=%s"' % row.split(";")[3][4:] in line:
                seen.add(row)
        if len(seen) == count:
            result = "resolved"
    say(result, len(seen))
    proc.kill()
    proc.wait()
    return 0


def count_datagrams(outfile):
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))  # ETH_P_ALL
    s.setsockopt(socket.SOL_SOCKET, 35, 1)  # SO_TIMESTAMPNS
    group = socket.inet_aton("224.0.0.251")
    with open(outfile, "w", buffering=1) as out:
        print("ready", flush=True)
        while True:
            frame, anc, _, where = s.recvmsg(65536, 64)
            ifname, pkttype = where[0], where[2]
            # A host's frames enter the bridge on its veth end; the copies
            # the bridge passes on leave through the others (PACKET_OUTGOING).
            if not ifname.startswith("lanh") or pkttype == socket.PACKET_OUTGOING:
                continue
            if len(frame) < 14 + 20 + 8 + 12 or frame[12:14] != b"\x08\x00":
                continue
            ip = frame[14:]
            ihl = (ip[0] & 15) * 4
            if ip[9] != 17:
                continue
            udp = ip[ihl:]
            if 5353 not in struct.unpack("!HH", udp[0:4]):
                continue
            to = "group" if ip[16:20] == group else socket.inet_ntoa(ip[16:20])
            dns = udp[8:]
            _, flags, qd, an, ns, ar = struct.unpack("!6H", dns[:12])
            stamp = time.time()
            for level, kind, data in anc:
                if level == socket.SOL_SOCKET and kind == 35:
                    sec, nsec = struct.unpack("qq", data[:16])
                    stamp = sec + nsec / 1e9
            words = ["%.6f" % stamp, ifname[4:], to, str(flags >> 15), str(qd), str(an), str(ns),
                     str(ar), str(len(dns))]
            if not flags & 0x8000:
                words += questions(dns, qd)
            out.write(" ".join(words) + "\n")


def questions(dns, qd):
    names = {1: "A", 12: "PTR", 16: "TXT", 28: "AAAA", 33: "SRV", 255: "ANY"}
    at, out = 12, []
    try:
        for _ in range(qd):
            name, at = read_name(dns, at)
            qtype = struct.unpack("!H", dns[at:at + 2])[0]
            at += 4
            out.append("%s/%s" % (name.replace(" ", "\\032"), names.get(qtype, qtype)))
    except (IndexError, struct.error):
        out.append("(truncated)")
    return out


def main(argv):
    mode, args = argv[1], argv[2:]
    if mode == "publish":
        return publish(args[0], int(args[1]), int(args[2]))
    if mode == "library":
        return library(args[0], int(args[1]), int(args[2]), args[3], float(args[4]))
    if mode == "zeroconf":
        return zeroconf_browse(args[0], int(args[1]), int(args[2]), args[3], float(args[4]),
                               "--enumerate" in args[5:])
    if mode == "avahi":
        return avahi(int(args[0]), int(args[1]), args[2], float(args[3]))
    if mode == "count":
        return count_datagrams(args[0])
    print("unknown mode", mode, file=sys.stderr)
    return 2


sys.exit(main(sys.argv))
