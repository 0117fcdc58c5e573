"""A python3-zeroconf peer that the binding tests drive over a pipe.

    zeroconf_announce.py INSTANCE TYPE PORT HOST ADDRESS [KEY=VALUE ...]

registers the service INSTANCE.TYPE.local (TYPE like "_http._tcp") on
127.0.0.1, with its host HOST.local at ADDRESS, and prints "registered".
Then it reads commands from its standard input, one a line:
"unregister" sends the goodbyes and prints "unregistered"; "register"
registers again and prints "registered". End of input closes it; exit 0.
Run it inside the caller's network namespace: it binds port 5353 there.
Exits 77 when python3-zeroconf is missing (run it with /usr/bin/python3).
"""
import socket
import sys

try:
    from zeroconf import IPVersion, ServiceInfo, Zeroconf
except ImportError:
    print("skipped: python3-zeroconf is not installed (apt-get install python3-zeroconf)",
          flush=True)
    sys.exit(77)


def main(argv):
    instance, service_type, port, host, address, *pairs = argv
    properties = dict(pair.split("=", 1) for pair in pairs)
    full_type = service_type + ".local."
    info = ServiceInfo(full_type, instance + "." + full_type,
                       addresses=[socket.inet_aton(address)], port=int(port),
                       properties=properties, server=host + ".local.")
    zc = Zeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
    registered = False
    try:
        zc.register_service(info)
        registered = True
        print("registered", flush=True)
        for line in sys.stdin:
            command = line.strip()
            if command == "unregister" and registered:
                zc.unregister_service(info)
                registered = False
                print("unregistered", flush=True)
            elif command == "register" and not registered:
                zc.register_service(info)
                registered = True
                print("registered", flush=True)
    finally:
        if registered:
            zc.unregister_service(info)
        zc.close()
    return 0


sys.exit(main(sys.argv[1:]))
