"""The browser through the binding, against a responder in another process:
both bind port 5353 in this test's own network namespace."""
import contextlib
import errno
import os
import socket
import subprocess
import sys
import time

import pytest

import tandrelo_mdns
from tandrelo_mdns import ERR_ALREADY_RUNNING, ERR_BIND, Browser, MdnsError

SERVICE_TYPE = "_tandrelo-py._tcp.local"
INSTANCE = "Py Peer." + SERVICE_TYPE
PEER_HOST = "pypeer.local"

# The peer: the same binding in a process of its own, running until its
# standard input closes.
PEER = """
import sys, tandrelo_mdns
services = [{"type": "_tandrelo-py._tcp", "name": "Py Peer", "port": 9090,
             "txt": {"k": "v", "path": "/x"}}]
with tandrelo_mdns.Responder(hostname="pypeer", address="127.0.0.1", services=services):
    print("ready", flush=True)
    sys.stdin.read()
"""


@contextlib.contextmanager
def peer_process():
    process = subprocess.Popen([sys.executable, "-c", PEER], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True, env=os.environ.copy())
    try:
        assert process.stdout.readline().strip() == "ready"
        yield process
    finally:
        process.stdin.close()
        assert process.wait(timeout=10) == 0


def entry(results, name, rrtype):
    return next((e for e in results if e["name"] == name and e["rrtype"] == rrtype), {})


def wait_until(browser, check, seconds=10.0):
    deadline = time.monotonic() + seconds
    while True:
        results = browser.results()
        if check(results) or time.monotonic() > deadline:
            return results
        time.sleep(0.1)


def test_browser_caches_a_responder_in_another_process():
    with Browser() as browser:
        assert browser.running
        with peer_process():
            def announced(results):
                return (entry(results, INSTANCE, 16).get("txt") == "k=v;path=/x"
                        and entry(results, PEER_HOST, 1).get("ip") == "127.0.0.1"
                        and entry(results, INSTANCE, 33).get("port") == 9090
                        and entry(results, SERVICE_TYPE, 12).get("target") == INSTANCE)
            results = wait_until(browser, announced)
            assert announced(results), results
            srv = entry(results, INSTANCE, 33)
            assert srv["target"] == PEER_HOST
            # The sender's address as the system saw it: on a loopback-only
            # namespace the multicast source may be 0.0.0.0.
            socket.inet_aton(srv["from"])
            assert abs(srv["last_seen"] / 1000 - time.time()) < 60
            assert tandrelo_mdns.stats()["browse_count"] == len(results)

            # A new start asks the enumeration question; the peer names its type.
            browser.stop()
            assert browser.results(), "the cache outlives the stop"
            browser.clear()
            assert browser.results() == []
            browser.start()
            results = wait_until(browser, lambda r: entry(
                r, "_services._dns-sd._udp.local", 12).get("target") == SERVICE_TYPE)
            assert entry(results, "_services._dns-sd._udp.local", 12)["target"] == SERVICE_TYPE
    assert not browser.running
    # The peer said goodbye as it stopped, while the browser still ran.
    assert entry(browser.results(), INSTANCE, 33) == {}


def test_second_browser_start_is_already_running():
    with Browser():
        with pytest.raises(MdnsError) as caught:
            Browser().start()
    assert (caught.value.code, caught.value.message) == (ERR_ALREADY_RUNNING,
                                                         "browse already running")


def test_port_5353_taken_without_address_reuse_is_a_bind_failure():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as holder:
        holder.bind(("0.0.0.0", 5353))
        with pytest.raises(MdnsError) as caught:
            Browser().start()
    assert caught.value.code == ERR_BIND
    assert caught.value.message == "browse bind() failed with error %d" % errno.EADDRINUSE
    assert not Browser().running
