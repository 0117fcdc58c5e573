"""Python binding of tandrelo-mdns: Multicast DNS responder and DNS-SD browser.

    import tandrelo_mdns

    services = [{"type": "_http._tcp", "name": "Kitchen Web", "port": 8080,
                 "txt": {"path": "/"}}]
    with tandrelo_mdns.Responder(hostname="kitchen", address="192.168.1.20",
                                 services=services) as responder:
        print(responder.stats()["queries"])

A failing call raises MdnsError with the library's code and message. The
shared library is looked up as _library explains; LIBRARY tells which file
or name was loaded.
"""
from ._calls import (ERR_ALREADY_RUNNING, ERR_BIND, ERR_INVALID, ERR_THREAD, OK, MdnsError,
                     last_error, lib, report)
from ._library import ENV_VAR, LIBRARY
from .browser import Browser
from .responder import Responder

__all__ = [
    "Browser", "ENV_VAR", "ERR_ALREADY_RUNNING", "ERR_BIND", "ERR_INVALID", "ERR_THREAD",
    "LIBRARY", "MdnsError", "OK", "Responder", "interfaces", "last_error", "stats", "version",
]


def version():
    """The library's version text, for instance "1.1.0"."""
    return lib.mdns_version().decode("ascii", "replace")


def interfaces():
    """The usable IPv4 adapters: a list of dicts with the keys ip, name,
    gateway ("" when none), up and loopback."""
    return report("mdns_interfaces")


def stats():
    """The status report as a dict, whether the responder runs or not."""
    return report("mdns_stats")
