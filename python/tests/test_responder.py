"""The responder through the binding: real queries over UDP, the status
report as a dict, and the library's failures as MdnsError."""
import errno
import socket
import struct

import pytest

import tandrelo_mdns
from tandrelo_mdns import ERR_ALREADY_RUNNING, ERR_BIND, ERR_INVALID, MdnsError, Responder

from conftest import ask, free_udp_port, read_name

TYPE_A, TYPE_TXT, TYPE_SRV = 1, 16, 33
CACHE_FLUSH_IN = 0x8001


def txt_strings(rdata):
    strings, i = [], 0
    while i < len(rdata):
        strings.append(rdata[i + 1:i + 1 + rdata[i]].decode("utf-8"))
        i += 1 + rdata[i]
    return strings


def records_of(records, rrtype):
    return [r for r in records if r[1] == rrtype]


def test_round_trip_answers_queries_and_counts_them():
    port = free_udp_port()
    services = [{"type": "_http._tcp", "name": "Py Web", "port": 8080,
                 "txt": {"path": "/", "n": 5, "on": True, "name": "Küche"}}]
    with Responder(hostname="pyhost", address="10.1.2.3", services=services,
                   port=port) as responder:
        assert responder.running

        (qid, flags, records), _ = ask(port, 0x1234, "pyhost.local", TYPE_A)
        assert (qid, flags) == (0x1234, 0x8400)
        [a] = records_of(records, TYPE_A)
        assert a[0] == "pyhost.local" and a[2] == CACHE_FLUSH_IN
        assert socket.inet_ntoa(a[4]) == "10.1.2.3"

        (_, _, records), message = ask(port, 0x1235, "Py Web._http._tcp.local", TYPE_SRV)
        [srv] = records_of(records, TYPE_SRV)
        priority, weight, srv_port = struct.unpack("!HHH", srv[4][:6])
        assert srv_port == 8080
        assert read_name(message, srv[5] + 6)[0] == "pyhost.local"

        (_, _, records), _ = ask(port, 0x1236, "Py Web._http._tcp.local", TYPE_TXT)
        [txt] = records_of(records, TYPE_TXT)
        assert txt_strings(txt[4]) == ["path=/", "n=5", "on=true", "name=Küche"]

        stats = responder.stats()
        assert stats == {
            "running": 1, "port": port, "queries": 3, "answers": 3,
            "hostname": "pyhost", "addr": "10.1.2.3", "interface": "auto",
            "browsing": 0, "browse_count": 0, "services_count": 1,
            "services": [{"type": "_http._tcp", "name": "Py Web", "port": 8080,
                          "txt": {"path": "/", "n": "5", "on": "true", "name": "Küche"}}],
        }
        assert tandrelo_mdns.stats() == stats
    assert not responder.running
    assert tandrelo_mdns.stats()["running"] == 0


def test_leaving_the_block_by_an_exception_stops_the_responder():
    with pytest.raises(RuntimeError):
        with Responder(port=free_udp_port()) as responder:
            assert responder.running
            raise RuntimeError("leave")
    assert not responder.running


def test_services_given_to_the_constructor_replace_the_table():
    Responder().add_service("_old._tcp", "Old", 1)
    with Responder(port=free_udp_port(),
                   services=[{"type": "_new._tcp", "name": "New", "port": 2}]) as responder:
        assert [s["name"] for s in responder.stats()["services"]] == ["New"]
        assert responder.add_service("_new._tcp", "NEW", 3) == 0  # same entry, case ignored


@pytest.mark.parametrize("call, function, message", [
    (lambda: Responder(port=70000).start(), "mdns_start", "Invalid port specified"),
    (lambda: Responder(port=-5).start(), "mdns_start", "Invalid port specified"),
    (lambda: Responder().add_service("", "x", 1), "mdns_add_service",
     "Service type cannot be empty (e.g. '_http._tcp')"),
    (lambda: Responder().add_service("_x._tcp", "", 1), "mdns_add_service",
     "Service instance name cannot be empty"),
    (lambda: Responder(services=[{"type": "_x._tcp", "name": "n", "port": 0}]).start(),
     "mdns_add_service", "Port must be between 1 and 65535"),
    (lambda: Responder(hostname="a.b").start(), "mdns_set_hostname",
     "Hostname label cannot contain dots (provide label without .local)"),
    (lambda: Responder().set_hostname("x" * 64), "mdns_set_hostname",
     "Hostname label exceeds maximum length (63 characters)"),
    (lambda: Responder(address="300.1.1.1").start(), "mdns_set_addr",
     "Invalid IPv4 address format"),
    (lambda: Responder().set_interface("not an address"), "mdns_set_interface",
     "Invalid interface IPv4 address format"),
    (lambda: Responder(interface="10.99.0.1").start(), "mdns_set_interface",
     "Interface 10.99.0.1 is not an active non-loopback adapter"),
])
def test_failures_raise_with_code_and_message(call, function, message):
    with pytest.raises(MdnsError) as caught:
        call()
    error = caught.value
    assert (error.function, error.code, error.message) == (function, ERR_INVALID, message)
    assert message in str(error)
    assert tandrelo_mdns.last_error() == message
    assert tandrelo_mdns.stats()["running"] == 0


def test_second_start_is_already_running():
    port = free_udp_port()
    with Responder(port=port) as first:
        with pytest.raises(MdnsError) as caught:
            Responder(port=free_udp_port()).start()
        assert caught.value.code == ERR_ALREADY_RUNNING
        assert caught.value.message == "mDNS responder is already running"
        assert first.running and first.stats()["port"] == port


def test_port_taken_without_address_reuse_is_a_bind_failure():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as holder:
        holder.bind(("0.0.0.0", 0))
        port = holder.getsockname()[1]
        with pytest.raises(MdnsError) as caught:
            Responder(port=port).start()
    assert caught.value.code == ERR_BIND
    assert caught.value.message == "bind() on port %d failed with error %d" % (
        port, errno.EADDRINUSE)
    stats = tandrelo_mdns.stats()
    assert (stats["running"], stats["port"]) == (0, port)


@pytest.mark.parametrize("txt", [{"k": 'say "hi"'}, {"back\\slash": "v"}, ["k=v"]])
def test_txt_the_library_cannot_carry_is_refused_before_the_call(txt):
    with pytest.raises((ValueError, TypeError)):
        Responder().add_service("_x._tcp", "n", 1, txt)
    assert tandrelo_mdns.stats()["services_count"] == 0


def test_text_with_nul_is_refused_before_the_call():
    with pytest.raises(ValueError):
        Responder().set_hostname("a\0b")
