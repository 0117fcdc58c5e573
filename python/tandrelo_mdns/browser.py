"""The browser: what other hosts on the network announce."""
from ._calls import checked, lib, report


class Browser:
    """The library's one browser, as a context manager.

    Like the responder, the browser is process-wide: one runs at a time.
    It rides on the responder's socket while the responder runs, and binds
    port 5353 itself otherwise. Its cache outlives a stop; clear() empties it.
    """

    def start(self):
        checked("mdns_browse_start")
        return self

    def stop(self):
        lib.mdns_browse_stop()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc_info):
        self.stop()
        return False

    @property
    def running(self):
        return report("mdns_stats")["browsing"] == 1

    def results(self):
        """The cached answers: a list of dicts with the keys name, rrtype,
        ip, port, target, txt, from and last_seen (milliseconds since 1970)."""
        return report("mdns_browse_results")

    def clear(self):
        lib.mdns_browse_clear()
