"""python3-zeroconf as a peer on one host of the test LAN (lan.sh).

usage:
  lan_peer.py resolve IFACE NAME
      asks for the A record of NAME (e.g. "twin.local.") and prints the
      addresses that answer within about a second of the first answer, as
      one line "ADDR ADDR ..." (empty when nobody answers within 5 s)
  lan_peer.py browse IFACE COUNT BASE_PORT TXT_BYTES TYPE...
      browses the types and resolves every instance; passes when COUNT
      services "svc-<i>" resolve with port BASE_PORT + i and the TXT that
      peer_host gives them (id=<i>, pad=xx..., TXT_BYTES in all); prints
      the time this took
  lan_peer.py watch IFACE SECONDS TYPE...
      for SECONDS, prints "<epoch> added|removed <instance>" for the
      browser's events and "<epoch> a+|a- <name> <address>" whenever a live A
      record enters or leaves the cache (a goodbye expires one after 1 s)
  lan_peer.py claim IFACE TARGET NAME ADDR
      sends TARGET:5353, from port 5353, a response that claims NAME with
      the address ADDR (an A record with the cache-flush bit)
  lan_peer.py flood IFACE TARGET LABEL_FILE ADDR SECONDS RATE
      sends such claims RATE times a second for SECONDS, each for the label
      that the last "label" line of LABEL_FILE (peer_host's output) names

IFACE is the address of the host's own adapter. Exit codes: 0 passed,
1 failed, 77 skipped (python3-zeroconf missing).
"""
import socket
import sys
import threading
import time

try:
    from zeroconf import (DNSAddress, DNSOutgoing, DNSQuestion, IPVersion, ServiceBrowser,
                          ServiceStateChange, Zeroconf)
    from zeroconf._utils.time import current_time_millis
    from zeroconf.const import _CLASS_IN, _CLASS_UNIQUE, _FLAGS_AA, _FLAGS_QR_QUERY, \
        _FLAGS_QR_RESPONSE, _TYPE_A
except ImportError:
    print("skipped: python3-zeroconf is not installed (apt-get install python3-zeroconf)")
    sys.exit(77)


def new_zeroconf(iface):
    return Zeroconf(interfaces=[iface], ip_version=IPVersion.V4Only)


def live_addresses(zc, name):
    now = current_time_millis()
    try:
        records = zc.cache.get_all_by_details(name, _TYPE_A, _CLASS_IN)
    except RuntimeError:  # the cache changed while it was read
        return set()
    return {socket.inet_ntoa(r.address) for r in records if not r.is_expired(now)}


def resolve(iface, name):
    zc = new_zeroconf(iface)
    try:
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            query = DNSOutgoing(_FLAGS_QR_QUERY)
            query.add_question(DNSQuestion(name, _TYPE_A, _CLASS_IN))
            zc.send(query)
            for _ in range(10):
                time.sleep(0.1)
                if live_addresses(zc, name):
                    time.sleep(1)  # any other host that claims the name answers too
                    print(" ".join(sorted(live_addresses(zc, name))))
                    return 0
        print("")
        return 0
    finally:
        zc.close()


def browse(iface, count, base_port, txt_bytes, types):
    start = time.monotonic()
    zc = new_zeroconf(iface)
    found = []  # (type, instance) in the order the browser reports them
    lock = threading.Lock()

    def on_change(zeroconf, service_type, name, state_change):
        if state_change is ServiceStateChange.Added:
            with lock:
                found.append((service_type, name))

    browser = ServiceBrowser(zc, [t + ".local." for t in types], handlers=[on_change])
    good, bad = {}, {}
    try:
        done = 0
        deadline = start + 30
        while len(good) < count and time.monotonic() < deadline:
            with lock:
                pending = found[done:]
            if not pending:
                time.sleep(0.05)
                continue
            for service_type, name in pending:
                done += 1
                info = zc.get_service_info(service_type, name, timeout=3000)
                instance = name[:-len(service_type) - 1]
                i = int(instance[4:]) if instance.startswith("svc-") else -1
                pad = b"x" * (txt_bytes - 9 - len(str(i)))
                want = (base_port + i, {b"id": str(i).encode(), b"pad": pad})
                got = (info.port, info.properties) if info else None
                if got == want:
                    good[instance] = time.monotonic() - start
                    bad.pop(instance, None)
                else:
                    bad[instance] = got
                    with lock:
                        found.append((service_type, name))  # asked again later
    finally:
        browser.cancel()
        zc.close()
    elapsed = max(good.values()) if good else 0
    print(f"zeroconf resolved {len(good)} of {count} services in {elapsed:.2f} s")
    for instance, got in sorted(bad.items()):
        print(f"  {instance}: port and TXT {got}")
    return 0 if len(good) == count else 1


def watch(iface, seconds, types):
    zc = new_zeroconf(iface)

    def say(*words):
        print(f"{time.time():.6f}", *words, flush=True)

    def on_change(zeroconf, service_type, name, state_change):
        if state_change in (ServiceStateChange.Added, ServiceStateChange.Removed):
            say(state_change.name.lower(), name[:-len(service_type) - 1])

    browser = ServiceBrowser(zc, [t + ".local." for t in types], handlers=[on_change])
    seen = set()
    try:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            now = set()
            for name in zc.cache.names():
                now |= {(name, a) for a in live_addresses(zc, name)}
            for name, addr in sorted(now - seen):
                say("a+", name, addr)
            for name, addr in sorted(seen - now):
                say("a-", name, addr)
            seen = now
            time.sleep(0.05)
    finally:
        browser.cancel()
        zc.close()
    return 0


def claim_socket(iface):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    s.bind((iface, 5353))
    return s


def send_claim(s, target, name, addr):
    out = DNSOutgoing(_FLAGS_QR_RESPONSE | _FLAGS_AA)
    out.add_answer_at_time(DNSAddress(name, _TYPE_A, _CLASS_IN | _CLASS_UNIQUE, 120,
                                      socket.inet_aton(addr)), 0)
    for packet in out.packets():
        s.sendto(packet, (target, 5353))


def claim(iface, target, name, addr):
    with claim_socket(iface) as s:
        send_claim(s, target, name, addr)
    return 0


def flood(iface, target, label_file, addr, seconds, rate):
    sent = 0
    with claim_socket(iface) as s:
        start = time.monotonic()
        while time.monotonic() < start + seconds:
            with open(label_file) as f:
                labels = [line.split()[1] for line in f if line.startswith("label ")]
            send_claim(s, target, labels[-1] + ".local.", addr)
            sent += 1
            time.sleep(max(0.0, start + sent / rate - time.monotonic()))
    print(f"sent {sent} claims in {seconds:g} s")
    return 0


def main(argv):
    mode, iface, args = argv[1], argv[2], argv[3:]
    if mode == "resolve":
        return resolve(iface, args[0])
    if mode == "browse":
        return browse(iface, int(args[0]), int(args[1]), int(args[2]), args[3:])
    if mode == "watch":
        return watch(iface, float(args[0]), args[1:])
    if mode == "claim":
        return claim(iface, args[0], args[1], args[2])
    if mode == "flood":
        return flood(iface, args[0], args[1], args[2], float(args[3]), float(args[4]))
    print("unknown mode", mode)
    return 2


sys.exit(main(sys.argv))
