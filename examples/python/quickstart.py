import tandrelo_mdns

services = [{"type": "_http._tcp", "name": "Kitchen Web", "port": 8080,
             "txt": {"path": "/"}}]
with tandrelo_mdns.Responder(hostname="kitchen", services=services) as responder:
    with tandrelo_mdns.Browser() as browser:       # rides on the responder's socket
        print("announcing kitchen.local, browsing for 5 s", flush=True)
        for event in browser.watch(duration=5):    # reads the cache every 0.5 s
            service = event.service
            print(event.kind, service.instance, service.type, service.host,
                  service.addresses, service.port, service.txt, flush=True)
    print("queries answered:", responder.stats()["queries"])

try:
    tandrelo_mdns.Responder(port=70000).start()
except tandrelo_mdns.MdnsError as error:
    print(error.function, error.code, error.message)
    # mdns_start -1 Invalid port specified
