"""interfaces() and the interface choice, over veth pairs that this test
makes in its own network namespace."""
import subprocess
import time

import pytest

import tandrelo_mdns
from tandrelo_mdns import Responder

from conftest import free_udp_port


def ip(*args):
    subprocess.run(["ip", *args], check=True, capture_output=True)


@pytest.fixture(scope="module")
def two_adapters():
    """va 10.77.0.1 with the default route through 10.77.0.2, vb 10.77.1.1."""
    try:
        ip("link", "add", "va", "type", "veth", "peer", "name", "va-peer")
        ip("link", "add", "vb", "type", "veth", "peer", "name", "vb-peer")
    except (OSError, subprocess.CalledProcessError) as error:
        pytest.skip("cannot make veth pairs here: %s" % error)
    for link, address in (("va", "10.77.0.1/24"), ("vb", "10.77.1.1/24")):
        ip("addr", "add", address, "dev", link)
        ip("link", "set", link, "up")
        ip("link", "set", link + "-peer", "up")
    ip("route", "add", "default", "via", "10.77.0.2", "dev", "va")
    # A veth end reports its carrier (and so counts as running) a moment
    # after both ends are up; the list is read only once both have it.
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        states = [subprocess.run(["ip", "-o", "link", "show", link], capture_output=True,
                                 text=True).stdout for link in ("va", "vb")]
        if all(" state UP " in state for state in states):
            break
        time.sleep(0.05)
    yield
    ip("link", "del", "va")
    ip("link", "del", "vb")


def test_loopback_alone_gives_an_empty_list():
    assert tandrelo_mdns.interfaces() == []


def test_usable_adapters_are_listed_as_dicts(two_adapters):
    adapters = {a["ip"]: a for a in tandrelo_mdns.interfaces()}
    assert adapters == {
        "10.77.0.1": {"ip": "10.77.0.1", "name": "va", "gateway": "10.77.0.2",
                      "up": 1, "loopback": 0},
        "10.77.1.1": {"ip": "10.77.1.1", "name": "vb", "gateway": "",
                      "up": 1, "loopback": 0},
    }


def test_interface_choice_and_address_detection(two_adapters):
    with Responder(interface="10.77.1.1", address="", port=free_udp_port()) as responder:
        stats = responder.stats()
        # The choice pins the interface; the announced address follows the
        # adapter with the gateway.
        assert (stats["interface"], stats["addr"]) == ("10.77.1.1", "10.77.0.1")
        responder.set_interface("")
        assert responder.stats()["interface"] == "auto"
