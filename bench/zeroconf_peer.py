#!/usr/bin/python3
"""A peer for bench/run.sh: python3-zeroconf answering for the same host and
services as bench_responder_host, on 127.0.0.1 port 5353 (zeroconf always
binds 5353), so that the load generator can measure it beside the library.

    /usr/bin/python3 bench/zeroconf_peer.py [--seconds N]

Prints "ready" once the services are registered; stops after --seconds
(default 120) or when killed. Run it inside a private network namespace."""
import socket
import sys
import time

from zeroconf import IPVersion, ServiceInfo, Zeroconf

SERVICES = [
    ("_http._tcp", "Bench Web", 8080, {"path": "/", "version": "1.1"}),
    ("_http._tcp", "Bench Admin", 8081, {"path": "/admin"}),
    ("_ipp._tcp", "Bench Printer", 631, {"rp": "ipp/print", "ty": "Bench"}),
    ("_ssh._tcp", "Bench Shell", 22, {}),
]


def main():
    seconds = 120
    if len(sys.argv) == 3 and sys.argv[1] == "--seconds":
        seconds = int(sys.argv[2])
    zc = Zeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
    infos = []
    for stype, name, port, props in SERVICES:
        info = ServiceInfo(
            stype + ".local.",
            name + "." + stype + ".local.",
            addresses=[socket.inet_aton("127.0.0.1")],
            port=port,
            properties=props,
            server="bench.local.",
        )
        # No probing: the namespace holds no other responder.
        zc.register_service(info, allow_name_change=False, cooperating_responders=True)
        infos.append(info)
    print("ready", flush=True)
    try:
        time.sleep(seconds)
    except KeyboardInterrupt:
        pass
    finally:
        for info in infos:
            zc.unregister_service(info)
        zc.close()


if __name__ == "__main__":
    main()
