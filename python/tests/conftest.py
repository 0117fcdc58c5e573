"""Shared fixtures of the binding's tests.

Each test file runs in a pytest process of its own (the library's state is
process-wide), inside a network namespace of its own that run_pytest.sh sets
up; the tests of one file share the library and leave it stopped and empty.
"""
import socket
import struct

import pytest

import tandrelo_mdns


@pytest.fixture(autouse=True)
def stopped_library():
    yield
    tandrelo_mdns.Browser().stop()
    tandrelo_mdns.Responder().stop()
    tandrelo_mdns.Responder().clear_services()
    tandrelo_mdns.Browser().clear()


def free_udp_port():
    """A UDP port that nothing in this namespace is bound to right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def encode_name(name):
    out = b""
    for label in name.split("."):
        raw = label.encode("utf-8")
        out += bytes([len(raw)]) + raw
    return out + b"\0"


def build_query(query_id, name, rrtype):
    """One question, class IN, unicast-response bit clear."""
    header = struct.pack("!HHHHHH", query_id, 0, 1, 0, 0, 0)
    return header + encode_name(name) + struct.pack("!HH", rrtype, 1)


def read_name(message, offset):
    """Reads a possibly compressed name; returns (dotted text, next offset)."""
    labels, end, jumps = [], None, 0
    while True:
        length = message[offset]
        if length & 0xC0 == 0xC0:
            if end is None:
                end = offset + 2
            offset = ((length & 0x3F) << 8) | message[offset + 1]
            jumps += 1
            assert jumps < 20, "compression loop"
            continue
        if length == 0:
            return ".".join(labels), (end if end is not None else offset + 1)
        labels.append(message[offset + 1:offset + 1 + length].decode("utf-8"))
        offset += 1 + length


def parse_response(message):
    """Returns (id, flags, records) for every record of every section; a
    record is (name, type, class, ttl, rdata, offset of rdata in message)."""
    query_id, flags, qd, an, ns, ar = struct.unpack("!HHHHHH", message[:12])
    offset = 12
    for _ in range(qd):
        _, offset = read_name(message, offset)
        offset += 4
    answers = []
    for _ in range(an + ns + ar):
        name, offset = read_name(message, offset)
        rrtype, rrclass, ttl, length = struct.unpack("!HHIH", message[offset:offset + 10])
        offset += 10
        answers.append((name, rrtype, rrclass, ttl, message[offset:offset + length], offset))
        offset += length
    return query_id, flags, answers


def ask(port, query_id, name, rrtype, timeout=3.0):
    """Sends a query to 127.0.0.1:port and returns the parsed direct reply."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        s.settimeout(timeout)
        s.sendto(build_query(query_id, name, rrtype), ("127.0.0.1", port))
        while True:
            data, _ = s.recvfrom(4096)
            reply = parse_response(data)
            if reply[0] == query_id:
                return reply, data
