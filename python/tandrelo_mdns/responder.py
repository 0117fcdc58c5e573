"""The responder: the host name, the address and the services it announces."""
from __future__ import annotations

from typing import Any, Dict, Iterable, List, Mapping, Optional

from ._calls import TxtArgument, checked, lib, report, text, txt_json

DEFAULT_PORT = 5353


class Responder:
    """The library's one responder, as a context manager.

    The library keeps one state per process: one responder, one host name,
    one service table. Every Responder object drives that same responder,
    so only one can run at a time (a second start raises MdnsError with code
    ERR_ALREADY_RUNNING).

    The constructor only records its arguments; start() (or entering the
    with block) applies them and starts:

    - hostname: the host label, without ".local"; None keeps the current one;
    - address: the IPv4 address to announce; "" picks the best adapter's;
      None keeps the current one;
    - services: a list of dicts {"type", "name", "port", "txt"} ("txt" is
      optional: a dict of attributes or a JSON object text); when given, the
      service table is emptied first, so it holds exactly these; None keeps
      the table as it is;
    - port: the UDP port, 5353 by default;
    - interface: the IPv4 address of the adapter to join and send on; ""
      returns to automatic; None keeps the current choice.

    The other methods act on the library at once, whether it runs or not;
    while it runs, a change is announced.
    """

    def __init__(self, hostname: Optional[str] = None, address: Optional[str] = None,
                 services: Optional[Iterable[Mapping[str, Any]]] = None,
                 port: int = DEFAULT_PORT, interface: Optional[str] = None) -> None:
        self.hostname = hostname
        self.address = address
        self.services: Optional[List[Mapping[str, Any]]] = (
            None if services is None else list(services))
        self.port = port
        self.interface = interface

    def start(self) -> "Responder":
        if self.hostname is not None:
            self.set_hostname(self.hostname)
        if self.address is not None:
            self.set_address(self.address)
        if self.interface is not None:
            self.set_interface(self.interface)
        if self.services is not None:
            self.clear_services()
            for service in self.services:
                self.add_service(service["type"], service["name"], service["port"],
                                 service.get("txt"))
        checked("mdns_start", self.port)
        return self

    def stop(self) -> None:
        checked("mdns_stop")

    def __enter__(self) -> "Responder":
        return self.start()

    def __exit__(self, *exc_info: Any) -> bool:
        self.stop()
        return False

    @property
    def running(self) -> bool:
        return bool(lib.mdns_status() == 1)

    def stats(self) -> Dict[str, Any]:
        """The status report as a dict (see the README for its keys)."""
        stats: Dict[str, Any] = report("mdns_stats")
        return stats

    def set_hostname(self, label: Optional[str]) -> None:
        checked("mdns_set_hostname", text(label))

    def set_address(self, ipv4: Optional[str]) -> None:
        checked("mdns_set_addr", text(ipv4))

    def set_interface(self, ipv4: Optional[str]) -> None:
        checked("mdns_set_interface", text(ipv4))

    def add_service(self, type: str, name: str, port: int, txt: TxtArgument = None) -> int:
        """Adds or updates a service; returns its index in the table."""
        return checked("mdns_add_service", text(type), text(name), port, text(txt_json(txt)))

    def clear_services(self) -> None:
        checked("mdns_clear_services")
