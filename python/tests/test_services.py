"""Services joined from the browse report, and watching them, against a
python3-zeroconf peer in another process of this test's network namespace.
The peer registers only once the browser runs: the browser learns instances
from announcements, and asks only the enumeration question itself."""
import asyncio
import contextlib
import os
import subprocess
import sys
import time

import pytest

from tandrelo_mdns import Browser, ServiceInfo, join_services
from tandrelo_mdns.services import ServiceWatcher

PEER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "peers",
                    "zeroconf_announce.py")
EXPECTED = ServiceInfo(name="Py Zc._tandrelo-zc._tcp.local", instance="Py Zc",
                       type="_tandrelo-zc._tcp", host="pyzc.local", addresses=("127.0.0.1",),
                       port=8124, txt={"k": "v", "path": "/x"})


def record(name, rrtype, **values):
    base = {"name": name, "rrtype": rrtype, "ip": "", "port": 0, "target": "", "txt": "",
            "from": "10.0.0.9", "last_seen": 1000}
    base.update(values)
    return base


def test_join_puts_each_instances_records_together():
    records = [
        record("_services._dns-sd._udp.local", 12, target="_http._tcp.local"),
        record("_http._tcp.local", 12, target="Dotted v1.2._http._tcp.local"),
        record("dotted v1.2._HTTP._tcp.local", 33, port=80, target="Box.local", last_seen=3000),
        record("Dotted v1.2._http._tcp.local", 16, txt="a=1;flag;b=x=y;a=2"),
        record("box.local", 1, ip="10.0.0.9"),
        # Known from its TXT alone; its host's address is not cached.
        record("Other._ipp._tcp.local", 16, txt=""),
        record("Other._ipp._tcp.local", 33, port=631, target="gone.local"),
        record("plain.local", 1, ip="10.0.0.8"),
    ]
    assert join_services(records) == [
        ServiceInfo(name="Dotted v1.2._http._tcp.local", instance="Dotted v1.2",
                    type="_http._tcp", host="Box.local", addresses=("10.0.0.9",), port=80,
                    txt={"a": "1", "flag": "", "b": "x=y"}),
        ServiceInfo(name="Other._ipp._tcp.local", instance="Other", type="_ipp._tcp",
                    host="gone.local", port=631),
    ]
    assert join_services(records)[0].last_seen == 3000
    assert [s.resolved for s in join_services(records)] == [True, False]


def test_watcher_says_added_updated_removed_once_each():
    watcher = ServiceWatcher()
    a = ServiceInfo(name="A._x._tcp.local", instance="A", type="_x._tcp")
    a_resolved = ServiceInfo(name="A._x._tcp.local", instance="A", type="_x._tcp",
                             host="h.local", port=1, last_seen=5)
    seen_later = ServiceInfo(name="A._x._tcp.local", instance="A", type="_x._tcp",
                             host="h.local", port=1, last_seen=9)
    steps = [[a], [a_resolved], [seen_later], []]
    kinds = [[(e.kind, e.service.port) for e in watcher.step(s)] for s in steps]
    # A later last_seen alone is no update.
    assert kinds == [[("added", 0)], [("updated", 1)], [], [("removed", 1)]]


@contextlib.contextmanager
def zeroconf_peer():
    pytest.importorskip("zeroconf")
    process = subprocess.Popen(
        [sys.executable, PEER, EXPECTED.instance, EXPECTED.type, str(EXPECTED.port), "pyzc",
         "127.0.0.1", "k=v", "path=/x"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert process.stdout.readline().strip() == "registered"
        yield process
    finally:
        process.stdin.close()
        assert process.wait(timeout=20) == 0


def until_resolved(events):
    """Reads events until the peer's instance is resolved; returns their kinds."""
    kinds = []
    for event in events:
        if event.service.name == EXPECTED.name:
            kinds.append(event.kind)
            if event.service.resolved:
                return kinds, event.service
    return kinds, None


def test_services_resolves_a_peer_and_watch_sees_it_come_and_go():
    with Browser() as browser:
        with zeroconf_peer():
            kinds, service = until_resolved(browser.watch(interval=0.1, duration=15))
            assert service == EXPECTED, kinds
            assert kinds[0] == "added" and set(kinds[1:]) <= {"updated"}
            assert EXPECTED in browser.services()

            # Leaving the cache is a removal: here, the cache is emptied.
            events = browser.watch(interval=0.1, duration=10)
            first = next(e for e in events if e.service.name == EXPECTED.name)
            assert first.kind == "added"
            browser.clear()
            removed = next(e for e in events if e.service.name == EXPECTED.name)
            assert (removed.kind, removed.service) == ("removed", EXPECTED)


def test_watch_async_sees_a_peer_while_the_loop_runs():
    async def main(browser, stack):
        ticks = 0

        async def ticker():
            nonlocal ticks
            while True:
                ticks += 1
                await asyncio.sleep(0.01)

        loop = asyncio.get_running_loop()
        task = loop.create_task(ticker())
        # The peer starts on another thread once the watch runs.
        peer = loop.run_in_executor(None, stack.enter_context, zeroconf_peer())
        found = None
        async for event in browser.watch_async(interval=0.1, duration=15):
            if event.service.name == EXPECTED.name and event.service.resolved:
                found = event.service
                break
        task.cancel()
        await peer
        return found, ticks

    with Browser() as browser, contextlib.ExitStack() as stack:
        found, ticks = asyncio.run(main(browser, stack))
    assert found == EXPECTED
    assert ticks > 20, "the event loop ran between the reads"


def test_watch_sees_a_peer_unregister():
    with Browser() as browser:
        with zeroconf_peer() as peer:
            kinds, service = until_resolved(browser.watch(interval=0.1, duration=15))
            assert service == EXPECTED, kinds
            events = browser.watch(interval=0.1, duration=10)
            next(e for e in events if e.service.name == EXPECTED.name)
            peer.stdin.write("unregister\n")
            peer.stdin.flush()
            assert peer.stdout.readline().strip() == "unregistered"
            removed = next((e for e in events if e.service.name == EXPECTED.name), None)
            assert removed is not None and removed.kind == "removed"
