"""The browser: what other hosts on the network announce."""
from __future__ import annotations

import asyncio
import time
from typing import Any, AsyncIterator, Dict, Iterator, List, Optional

from ._calls import checked, report
from .services import ServiceEvent, ServiceInfo, ServiceWatcher, join_services

#: Seconds between two reads of the browse report in watch() and watch_async().
WATCH_INTERVAL = 0.5


class Browser:
    """The library's one browser, as a context manager.

    The library keeps one state per process: one browser, one cache and one
    responder, whatever the number of Browser or Responder objects; every
    Browser object drives that same browser, so one runs at a time (a second
    start raises MdnsError with code ERR_ALREADY_RUNNING). It rides on the
    responder's socket while the responder runs, and binds port 5353 itself
    otherwise. Its cache outlives a stop; clear() empties it.
    """

    def start(self) -> "Browser":
        checked("mdns_browse_start")
        return self

    def stop(self) -> None:
        checked("mdns_browse_stop")

    def __enter__(self) -> "Browser":
        return self.start()

    def __exit__(self, *exc_info: Any) -> bool:
        self.stop()
        return False

    @property
    def running(self) -> bool:
        return bool(report("mdns_stats")["browsing"] == 1)

    def results(self) -> List[Dict[str, Any]]:
        """The cached answers: a list of dicts with the keys name, rrtype,
        ip, port, target, txt, from and last_seen (milliseconds since 1970)."""
        records: List[Dict[str, Any]] = report("mdns_browse_results")
        return records

    def services(self) -> List[ServiceInfo]:
        """The service instances in the cache, joined from its PTR, SRV, TXT
        and A records (see ServiceInfo), sorted by name."""
        return join_services(self.results())

    def clear(self) -> None:
        """Empties the cache (of the one browser of the process); browsing
        goes on."""
        checked("mdns_browse_clear")

    def watch(self, interval: float = WATCH_INTERVAL,
              duration: Optional[float] = None) -> Iterator[ServiceEvent]:
        """Yields a ServiceEvent whenever a service instance is added to the
        cache, changes, or leaves it.

        The browse report is read every interval seconds (half a second by
        default); the instances already cached at the first read come as
        "added". An instance leaves when its records leave the cache
        (clear() empties it). The iterator ends after duration seconds, or
        never when duration is None; it reads the cache of the process's one
        browser, whichever Browser object started it, and does not start or
        stop the browser itself.
        """
        watcher = ServiceWatcher()
        deadline = None if duration is None else time.monotonic() + duration
        while True:
            yield from watcher.step(self.services())
            if deadline is not None:
                left = deadline - time.monotonic()
                if left <= 0:
                    return
                time.sleep(min(interval, left))
            else:
                time.sleep(interval)

    async def watch_async(self, interval: float = WATCH_INTERVAL,
                          duration: Optional[float] = None) -> AsyncIterator[ServiceEvent]:
        """watch() for asyncio: ``async for event in browser.watch_async()``.

        Reads the report every interval seconds (half a second by default)
        and waits with asyncio.sleep in between, so the event loop runs
        meanwhile; one read takes well under a millisecond and runs on the
        loop's thread.
        """
        loop = asyncio.get_running_loop()
        watcher = ServiceWatcher()
        deadline = None if duration is None else loop.time() + duration
        while True:
            for event in watcher.step(self.services()):
                yield event
            if deadline is not None:
                left = deadline - loop.time()
                if left <= 0:
                    return
                await asyncio.sleep(min(interval, left))
            else:
                await asyncio.sleep(interval)
