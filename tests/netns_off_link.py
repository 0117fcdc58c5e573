"""Queries from near and far, over a real link.

Host A (this process's namespace) runs the shipped library, loaded with
ctypes; host B is the namespace of the process HOLDER, reached through
nsenter. netns_off_link.sh builds both. A query from B's address outside
every subnet of A reaches the responder (it is counted) but gets no reply;
one from B's address on the link gets one, and so does one from loopback
inside A. A subnet added to the link after the start is answered at its
first query.

usage: netns_off_link.py LIBRARY HOLDER      (the test, in host A)
       netns_off_link.py --ask SOURCE TARGET PORT TIMES
                                             (one client, run in host B)
Exit codes: 0 passed, 1 failed.
"""
import ctypes
import json
import socket
import struct
import subprocess
import sys
import time

PORT = 25353
HOST_QUERY_ID = 0x5A01


def query(qid):
    """A query for the A record of tandrelo.local, the library's default name."""
    name = b"".join(bytes([len(p)]) + p for p in (b"tandrelo", b"local")) + b"\x00"
    return struct.pack(">HHHHHH", qid, 0, 1, 0, 0, 0) + name + struct.pack(">HH", 1, 1)


def ask(source, target, port, times):
    """Sends the query from source, times times; returns the replies counted."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((source, 0))
    s.settimeout(0.5)
    replies = 0
    for i in range(times):
        qid = HOST_QUERY_ID + i
        s.sendto(query(qid), (target, port))
        try:
            while True:
                data, _ = s.recvfrom(9000)
                if len(data) >= 12 and struct.unpack(">H", data[:2])[0] == qid and data[2] & 0x80:
                    replies += 1
                    break
        except socket.timeout:
            pass
    s.close()
    return replies


def main_client(argv):
    print(ask(argv[0], argv[1], int(argv[2]), int(argv[3])))
    return 0


def main_test(library, holder):
    lib = ctypes.CDLL(library)
    lib.mdns_stats.restype = ctypes.c_char_p
    lib.mdns_last_error.restype = ctypes.c_char_p
    if lib.mdns_start(PORT) != 0:
        print("mdns_start failed:", lib.mdns_last_error().decode())
        return 1

    def stats():
        return json.loads(lib.mdns_stats().decode("utf-8"))

    def from_b(source, times):
        out = subprocess.run(
            ["nsenter", "-t", holder, "-n", sys.executable, __file__, "--ask", source,
             "10.61.0.1", str(PORT), str(times)],
            check=True, capture_output=True, text=True)
        return int(out.stdout.strip())

    def ip(*args, in_b=False):
        prefix = ["nsenter", "-t", holder, "-n"] if in_b else []
        subprocess.run(prefix + ["ip"] + list(args), check=True)

    failures = []

    def case(what, source, asked, replies_wanted, run):
        before = stats()
        replies = run(source, asked)
        after = stats()
        queries = after["queries"] - before["queries"]
        answers = after["answers"] - before["answers"]
        print(f"{what}: {asked} asked, {queries} counted, {answers} answered, {replies} replies")
        if queries != asked:
            failures.append(f"{what}: {queries} of {asked} queries reached the responder")
        if replies != replies_wanted or answers != replies_wanted:
            failures.append(f"{what}: {replies} replies and {answers} answers, {replies_wanted} wanted")

    # Far away: counted, never answered (three tries, as a querier would).
    case("10.62.0.5 (off-link)", "10.62.0.5", 3, 0, from_b)
    # On the link, and loopback inside A.
    case("10.61.0.2 (on the link)", "10.61.0.2", 2, 2, from_b)
    case("127.0.0.1 (loopback)", "127.0.0.1", 2, 2, lambda src, n: ask(src, "127.0.0.1", PORT, n))
    # A subnet added after the start: the first query from it makes the
    # receive thread read the adapters again and is answered, once a second
    # has passed since the far sender's queries made the last read.
    ip("addr", "add", "10.63.0.1/24", "dev", "vethL0")
    ip("addr", "add", "10.63.0.2/24", "dev", "vethL1", in_b=True)
    time.sleep(1.1)
    case("10.63.0.2 (subnet added after the start)", "10.63.0.2", 1, 1, from_b)
    # The far sender is still refused after those reads.
    case("10.62.0.5 (off-link, again)", "10.62.0.5", 1, 0, from_b)

    lib.mdns_stop()
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "--ask":
        sys.exit(main_client(sys.argv[2:]))
    sys.exit(main_test(sys.argv[1], sys.argv[2]))
