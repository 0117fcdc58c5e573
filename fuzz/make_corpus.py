#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small hand-made inputs, one file each, named after what they
hold; those named "test-..." are the datagrams of the unit and end-to-end
tests (tests/unit_response.cpp, tests/unit_dns_names.cpp, tests/e2e_browse.cpp),
with the tests' host name "tandrelo" changed to the harness's. The
fuzz_process_incoming harness answers as host "fuzzhost" with the services
Web._http._tcp, Printer._ipp._tcp and Admin._http._tcp, so the queries below
ask for those names. Run it again after changing a seed; the files it writes
are the ones committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def name(dotted):
    out = b""
    for label in dotted.split("."):
        if label:
            out += bytes([len(label)]) + label.encode()
    return out + b"\x00"


def header(flags, qd=0, an=0, ns=0, ar=0, ident=0x1234):
    return struct.pack(">HHHHHH", ident, flags, qd, an, ns, ar)


def question(dotted, qtype, qclass=1):
    return name(dotted) + struct.pack(">HH", qtype, qclass)


def rr(owner, rtype, rdata, rclass=0x8001, ttl=120, rdlength=None):
    if rdlength is None:
        rdlength = len(rdata)
    return owner + struct.pack(">HHIH", rtype, rclass, ttl, rdlength) + rdata


def srv(port, target):
    return struct.pack(">HHH", 0, 0, port) + target


def txt(*strings):
    return b"".join(bytes([len(s)]) + s.encode() for s in strings)


A, PTR, TXT, SRV, ANY, AAAA = 1, 12, 16, 33, 255, 28
QUERY, RESPONSE = 0x0000, 0x8400


def process_incoming():
    seeds = {}
    seeds["query-host-a"] = header(QUERY, qd=1) + question("fuzzhost.local", A)
    seeds["query-host-a-capitals-unicast"] = header(QUERY, qd=1) + question("FUZZHOST.LOCAL", A, 0x8001)
    seeds["query-host-aaaa"] = header(QUERY, qd=1) + question("fuzzhost.local", AAAA)
    seeds["query-enumeration"] = header(QUERY, qd=1) + question("_services._dns-sd._udp.local", PTR)
    seeds["query-type-ptr"] = header(QUERY, qd=1) + question("_http._tcp.local", PTR)
    seeds["query-instance-any"] = header(QUERY, qd=1) + question("Web._http._tcp.local", ANY)
    seeds["query-instance-srv-txt"] = (header(QUERY, qd=2) + question("Admin._http._tcp.local", SRV)
                                       + question("Printer._ipp._tcp.local", TXT))
    # Second question: "Web" then a pointer to "_http._tcp.local" of the first.
    first = question("_http._tcp.local", PTR)
    seeds["query-compressed"] = (header(QUERY, qd=2) + first
                                 + b"\x03Web\xc0\x0c" + struct.pack(">HH", ANY, 1))
    seeds["query-pointer-loop"] = header(QUERY, qd=1) + b"\xc0\x0c" + struct.pack(">HH", A, 1)
    seeds["query-header-only"] = header(QUERY, qd=1)
    seeds["query-cut-short"] = header(QUERY, qd=1) + name("fuzzhost.local") + b"\x00"

    peer = name("peer.local")
    seeds["response-a"] = header(RESPONSE, an=1) + rr(peer, A, bytes([192, 168, 1, 7]))
    seeds["response-service"] = header(RESPONSE, an=4) + (
        rr(name("_services._dns-sd._udp.local"), PTR, name("_http._tcp.local"), rclass=1)
        + rr(name("_http._tcp.local"), PTR, name("Peer Web._http._tcp.local"), rclass=1)
        + rr(name("Peer Web._http._tcp.local"), SRV, srv(80, peer))
        + rr(name("Peer Web._http._tcp.local"), TXT, txt("path=/", "", "q=\"x\\")))
    # PTR target compressed: a pointer to the owner of the first record.
    seeds["response-compressed"] = header(RESPONSE, an=2) + (
        rr(peer, A, bytes([10, 0, 0, 9]))
        + rr(name("_http._tcp.local"), PTR, b"\x04peer\xc0\x0c", rclass=1))
    seeds["response-conflict"] = header(RESPONSE, an=2) + (
        rr(name("fuzzhost.local"), A, bytes([10, 1, 2, 3]))
        + rr(peer, A, bytes([10, 1, 2, 4])))
    seeds["response-own-address"] = header(RESPONSE, an=1) + rr(name("fuzzhost.local"), A, bytes([192, 168, 1, 20]))
    seeds["response-with-question"] = (header(RESPONSE, qd=1, an=1) + question("peer.local", A)
                                       + rr(peer, A, bytes([192, 168, 1, 8])))
    seeds["response-srv-short"] = header(RESPONSE, an=1) + rr(peer, SRV, b"\x00\x00\x00")
    seeds["response-rdlength-past-end"] = header(RESPONSE, an=1) + rr(peer, TXT, txt("a=1"), rdlength=200)

    # tests/unit_response.cpp: TruncatedAndMutatedCopiesAreReadSafely, the
    # datagram that the test cuts and mutates byte by byte.
    seeds["test-response-four-records"] = header(RESPONSE, qd=1, an=4) + (
        name("_http._tcp.local") + struct.pack(">HH", PTR, 1)
        + rr(b"\xc0\x0c", PTR, b"\x03Web\xc0\x0c")
        + rr(name("Web._http._tcp.local"), SRV, srv(80, name("box.local")))
        + rr(b"\xc0\x2e", TXT, txt("a=1", "b=2"))
        + rr(name("box.local"), A, bytes([10, 0, 0, 1])))
    # OnlyAncountRecordsAreRead: ANCOUNT 2 of five records.
    seeds["test-response-ancount-2-of-5"] = header(RESPONSE, an=2) + b"".join(
        rr(name("r%d.local" % i), A, bytes([10, 0, 0, i])) for i in range(1, 6))
    # QuestionsAreSkippedAndABadOneStopsEverything: a reserved length octet.
    seeds["test-response-bad-question"] = (header(RESPONSE, qd=1, an=1) + b"\x40x" + struct.pack(">HH", A, 1)
                                           + rr(peer, A, bytes([10, 0, 0, 7])))
    # RecordsThatPassNothingDoNotStopTheWalk.
    seeds["test-response-records-passing-nothing"] = header(RESPONSE, an=3) + (
        rr(b"\x00", A, bytes([10, 0, 0, 1])) + rr(peer, PTR, b"\xc0\xff")
        + rr(name("after.local"), A, bytes([10, 0, 0, 2])))
    # AResponseWithoutAnswersOrWhileNotBrowsingChangesNothing.
    seeds["test-response-additional-only"] = header(RESPONSE, ar=1) + rr(peer, A, bytes([10, 0, 0, 7]))
    # OurOwnNameNeverReachesTheCache: the own name in capitals, a 16-byte A.
    seeds["test-response-own-name"] = header(RESPONSE, an=3) + (
        rr(name("FUZZHOST.local"), A, bytes([192, 168, 1, 20]))
        + rr(name("fuzzhost.local"), TXT, txt("a=1"))
        + rr(name("fuzzhost.local"), A, bytes([9]) * 16))
    # tests/e2e_browse.cpp: HostileNamesGiveAReportThatAStrictParserReadsBack.
    hostile = b"\x08q\"b\\s\x01\x1f\x7f" + b"\x03\xff\xc3z" + name("local")
    seeds["test-response-hostile-names"] = header(RESPONSE, an=2) + (
        rr(hostile, PTR, hostile) + rr(hostile, TXT, b"\x05k=\"\\\n\x01\xfe"))
    # Follow-ups: a type's instances with their records in the additional
    # section, and goodbyes (TTL 0) of cached answers.
    seeds["response-additional-records"] = header(RESPONSE, an=1, ar=3) + (
        rr(name("_http._tcp.local"), PTR, name("Web._http._tcp.local"), rclass=1)
        + rr(name("Web._http._tcp.local"), SRV, srv(80, name("box.local")))
        + rr(name("Web._http._tcp.local"), TXT, txt("a=1"))
        + rr(name("box.local"), A, bytes([10, 0, 0, 7])))
    seeds["response-goodbyes"] = header(RESPONSE, an=3) + (
        rr(name("_http._tcp.local"), PTR, name("Peer Web._http._tcp.local"), rclass=1, ttl=0)
        + rr(peer, A, bytes([192, 168, 1, 7]), ttl=0)
        + rr(name("fuzzhost.local"), A, bytes([10, 9, 9, 9]), ttl=0))
    # The browser's question, tests/e2e_browse.cpp seed_question.
    seeds["test-query-enumeration-seed"] = header(QUERY, qd=1, ident=0) + question("_services._dns-sd._udp.local", PTR)
    return seeds


def read_name():
    seeds = {}
    seeds["plain"] = name("myhost.local")
    seeds["pointer"] = header(QUERY) + name("_udp.local") + b"\x09_services\x07_dns-sd\xc0\x0c"
    seeds["pointer-chain"] = b"".join(bytes([0xC0, 2 * (i + 1)]) for i in range(11)) + b"\x00"
    seeds["pointer-self"] = b"\xc0\x00"
    seeds["reserved-octets"] = b"\x40a\x80b\xbfc\x00"
    seeds["label-past-end"] = b"\x05ab"
    seeds["no-terminator"] = b"\x03abc"
    seeds["long-name"] = b"".join(b"\x3f" + bytes([0x61 + i]) * 63 for i in range(9)) + b"\x00"
    seeds["dot-and-nul-in-label"] = b"\x04a.\x00b\x00"
    # tests/unit_dns_names.cpp: sample_message, a question section whose
    # names point at each other, and the two ends of the pointer budget.
    sample = header(QUERY, qd=2) + name("_udp.local") + struct.pack(">HH", PTR, 1)
    sample += b"\x09_services\x07_dns-sd\xc0\x0c" + struct.pack(">HH", PTR, 1)
    http_at = len(sample)
    sample += b"\x05_http\x04_tcp\xc0\x11"
    web_at = len(sample)
    sample += b"\x03web" + bytes([0xC0, http_at]) + bytes([0xC0, web_at])
    seeds["test-sample-message"] = sample
    for count in (10, 11):
        chain = b"\x01x\x00"
        for i in range(count):
            chain += bytes([0xC0, 0 if i == 0 else len(chain) - 2])
        seeds["test-pointer-chain-%d" % count] = chain
    return seeds


def txt_json():
    seeds = {}
    seeds["pairs"] = b'{"a":"1","b":"2"}'
    seeds["spaces"] = b'{"name": "/", "port": 2}'
    seeds["bare"] = b'{"a":true,"b":null,"c":42}'
    seeds["nested"] = b'{"a":{"b":"c"},"d":"e"}'
    seeds["array"] = b'{"a":[1,2],"b":"c"}'
    seeds["backslash"] = b'{"a":"x\\"}'
    seeds["no-colon"] = b'{"a"}'
    seeds["empty-key"] = b'{"":"x","a":""}'
    seeds["long-value"] = b'{"k":"' + b"v" * 300 + b'","after":"1"}'
    seeds["long-key"] = b'{"' + b"k" * 200 + b'":"1"}'
    seeds["fill"] = b"{" + b",".join(b'"k%d":"' % i + b"v" * 250 + b'"' for i in range(5)) + b"}"
    # tests/unit_txt_json.cpp, TxtJson.Cases.
    seeds["test-white-space-before-brace"] = b'\t\n {"a":"1"}'
    seeds["test-no-comma"] = b'{"a":"1" "b":"2"}'
    seeds["test-text-after-closing-brace"] = b'{"a":"1"} {"b":"2"}'
    seeds["test-unterminated-value"] = b'{"a":"xyz'
    seeds["test-junk-between-quote-and-colon"] = b'{"a" junk : "1"}'
    seeds["test-key-of-128"] = b'{"' + b"q" * 128 + b'":"v"}'
    return seeds


def reports():
    # Consumed by FuzzedDataProvider: any bytes are valid input.
    seeds = {}
    seeds["zeros"] = bytes(64)
    seeds["ones"] = bytes([0xFF]) * 256
    seeds["ramp"] = bytes(range(256)) * 4
    seeds["quotes"] = b'"\\' * 300
    return seeds


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        os.remove(os.path.join(folder, old))
    for key, data in seeds.items():
        with open(os.path.join(folder, key), "wb") as f:
            f.write(data)


write("process_incoming", process_incoming())
write("read_name", read_name())
write("txt_json", txt_json())
write("reports", reports())
