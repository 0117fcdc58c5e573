"""Python binding of tandrelo-mdns: Multicast DNS responder and DNS-SD browser.

    import tandrelo_mdns

    services = [{"type": "_http._tcp", "name": "Kitchen Web", "port": 8080,
                 "txt": {"path": "/"}}]
    with tandrelo_mdns.Responder(hostname="kitchen", address="192.168.1.20",
                                 services=services) as responder:
        print(responder.stats()["queries"])

    with tandrelo_mdns.Browser() as browser:
        for event in browser.watch(duration=10):
            print(event.kind, event.service.name, event.service.port)

The library keeps one state per process (one responder, one browser, one
cache), which every Responder and Browser object shares. A failing call
raises MdnsError with the library's code, message and function; a text
with a NUL character is refused with ValueError before it reaches the
library. The shared library is looked up as _library explains; LIBRARY
tells which file or name was loaded.
"""
from __future__ import annotations

from typing import Any, Dict, List

from ._calls import (ERR_ALREADY_RUNNING, ERR_BIND, ERR_INVALID, ERR_THREAD, OK, MdnsError,
                     last_error, lib, report)
from ._library import ENV_VAR, LIBRARY
from .browser import Browser
from .responder import Responder
from .services import ServiceEvent, ServiceInfo, join_services

__all__ = [
    "Browser", "ENV_VAR", "ERR_ALREADY_RUNNING", "ERR_BIND", "ERR_INVALID", "ERR_THREAD",
    "LIBRARY", "MdnsError", "OK", "Responder", "ServiceEvent", "ServiceInfo", "interfaces",
    "join_services", "last_error", "stats", "version",
]


def version() -> str:
    """The library's version text, for instance "1.1.0"."""
    version_text: bytes = lib.mdns_version()
    return version_text.decode("ascii", "replace")


def interfaces() -> List[Dict[str, Any]]:
    """The usable IPv4 adapters: a list of dicts with the keys ip, name,
    gateway ("" when none), up and loopback."""
    adapters: List[Dict[str, Any]] = report("mdns_interfaces")
    return adapters


def stats() -> Dict[str, Any]:
    """The status report as a dict, whether the responder runs or not."""
    status: Dict[str, Any] = report("mdns_stats")
    return status
