"""Service instances joined from the browse report's records.

The browse report holds one entry per owner name and record type: PTR from
a service type to an instance, SRV from an instance to its host and port,
TXT of an instance, A of a host. join_services() puts the entries of each
instance together; ServiceWatcher compares two such joins and says what was
added, updated or removed in between.
"""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Literal, Mapping, Optional, Tuple

RR_A, RR_PTR, RR_TXT, RR_SRV = 1, 12, 16, 33
ENUMERATION_NAME = "_services._dns-sd._udp.local"
EventKind = Literal["added", "updated", "removed"]


@dataclass
class ServiceInfo:
    """One service instance as the browser heard it.

    name is the full instance name ("Kitchen Web._http._tcp.local"),
    instance its first part ("Kitchen Web"), type the service type without
    ".local" ("_http._tcp"), host the SRV target ("kitchen.local"),
    addresses the A record of that host, port the SRV port and txt the TXT
    attributes ("key=value" strings as a dict; a key without "=" maps to "").
    Whatever the browser has not heard yet is empty: host "", port 0, no
    addresses, no attributes. last_seen (milliseconds since 1970) is the
    latest of the instance's records and is not compared.
    """

    name: str
    instance: str
    type: str
    host: str = ""
    addresses: Tuple[str, ...] = ()
    port: int = 0
    txt: Dict[str, str] = field(default_factory=dict)
    last_seen: int = field(default=0, compare=False)

    @property
    def resolved(self) -> bool:
        """True once the host, the port and an address are known."""
        return bool(self.host and self.port and self.addresses)


@dataclass
class ServiceEvent:
    """A change seen between two reads of the browse report.

    kind is "added", "updated" or "removed"; service is the instance as it
    is now, or as it was last seen for "removed".
    """

    kind: EventKind
    service: ServiceInfo


def split_instance_name(name: str) -> Optional[Tuple[str, str]]:
    """("Kitchen Web", "_http._tcp") for "Kitchen Web._http._tcp.local",
    or None when the name is not that of a service instance. The instance
    label may itself contain dots."""
    if not name.lower().endswith(".local"):
        return None
    labels = name[: -len(".local")].split(".")
    if len(labels) < 3 or not labels[-1].startswith("_") or not labels[-2].startswith("_"):
        return None
    instance = ".".join(labels[:-2])
    if not instance or instance.startswith("_"):
        return None
    return instance, labels[-2] + "." + labels[-1]


def parse_txt(txt: str) -> Dict[str, str]:
    """The report's TXT text (strings joined with ";") as a dict."""
    attributes: Dict[str, str] = {}
    for item in txt.split(";") if txt else []:
        key, _, value = item.partition("=")
        if key:
            attributes.setdefault(key, value)
    return attributes


def join_services(records: Iterable[Mapping[str, Any]]) -> List[ServiceInfo]:
    """The service instances named by the browse report's records, sorted by
    name. An instance is known from a PTR that names it, from its SRV or
    from its TXT; names are compared ignoring ASCII case, as the library
    does."""
    names: Dict[str, str] = {}
    srv: Dict[str, Mapping[str, Any]] = {}
    txt: Dict[str, Mapping[str, Any]] = {}
    ptr_seen: Dict[str, int] = {}
    hosts: Dict[str, Mapping[str, Any]] = {}
    for record in records:
        rrtype, owner = record.get("rrtype"), str(record.get("name", ""))
        if rrtype == RR_A:
            hosts[owner.lower()] = record
        elif rrtype == RR_PTR and owner.lower() != ENUMERATION_NAME:
            target = str(record.get("target", ""))
            if split_instance_name(target):
                names.setdefault(target.lower(), target)
                key = target.lower()
                ptr_seen[key] = max(ptr_seen.get(key, 0), int(record.get("last_seen", 0)))
        elif rrtype in (RR_SRV, RR_TXT) and split_instance_name(owner):
            names.setdefault(owner.lower(), owner)
            (srv if rrtype == RR_SRV else txt)[owner.lower()] = record

    services = []
    for key, name in names.items():
        instance, service_type = split_instance_name(name)  # type: ignore[misc]
        s, t = srv.get(key, {}), txt.get(key, {})
        host = str(s.get("target", ""))
        a = hosts.get(host.lower(), {}) if host else {}
        address = str(a.get("ip", ""))
        seen = [int(r.get("last_seen", 0)) for r in (s, t, a) if r] + [ptr_seen.get(key, 0)]
        services.append(ServiceInfo(
            name=name, instance=instance, type=service_type, host=host,
            addresses=(address,) if address else (), port=int(s.get("port", 0)),
            txt=parse_txt(str(t.get("txt", ""))), last_seen=max(seen)))
    return sorted(services, key=lambda service: service.name.lower())


class ServiceWatcher:
    """Turns successive joins into added, updated and removed events."""

    def __init__(self) -> None:
        self._known: Dict[str, ServiceInfo] = {}

    def step(self, services: Iterable[ServiceInfo]) -> List[ServiceEvent]:
        current = {service.name.lower(): service for service in services}
        events = []
        for key, service in current.items():
            before = self._known.get(key)
            if before is None:
                events.append(ServiceEvent("added", service))
            elif before != service:
                events.append(ServiceEvent("updated", service))
        for key, service in self._known.items():
            if key not in current:
                events.append(ServiceEvent("removed", service))
        self._known = current
        return events
