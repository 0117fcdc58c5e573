"""Calling the library: text in, codes checked, JSON reports out."""
from __future__ import annotations

import json
from typing import Any, Mapping, Optional, Union

from ._library import lib

OK = 0
ERR_INVALID = -1
ERR_BIND = -2
ERR_THREAD = -3
ERR_ALREADY_RUNNING = -7

#: TXT attributes as the binding takes them: a dict, a JSON object text or None.
TxtArgument = Optional[Union[Mapping[str, Any], str]]


class MdnsError(Exception):
    """A library function returned a negative code.

    code is that code (ERR_INVALID, ERR_BIND, ERR_THREAD or
    ERR_ALREADY_RUNNING), message the library's last-error text right after
    the call, function the name of the C function.
    """

    def __init__(self, function: str, code: int, message: str) -> None:
        super().__init__("%s failed (%d): %s" % (function, code, message))
        self.function = function
        self.code = code
        self.message = message


def last_error() -> str:
    """The library's message of its most recent failure, or ""."""
    return lib.mdns_last_error().decode("utf-8", "replace")


def checked(function: str, *args: Any) -> int:
    """Calls lib.<function>(*args); raises MdnsError on a negative result."""
    result: int = getattr(lib, function)(*args)
    if result < 0:
        # The last-error text is process-wide: another thread that fails at
        # the same moment may have replaced it already.
        raise MdnsError(function, result, last_error())
    return result


def text(value: Optional[str]) -> Optional[bytes]:
    """A Python str as the NUL-terminated UTF-8 text the library takes.

    A NUL character would cut the text short inside the library, so it is
    refused here with ValueError, before any call.
    """
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError("expected str, got %s" % type(value).__name__)
    if "\0" in value:
        raise ValueError("text for the library cannot contain NUL characters")
    return value.encode("utf-8")


def report(function: str) -> Any:
    """Calls a report function and decodes its JSON text.

    ctypes copies the text into a bytes object; the library's buffer is
    neither freed nor written.
    """
    raw: bytes = getattr(lib, function)()
    # The library escapes the texts it reports, but a service's TXT text
    # goes into the status report as the caller gave it: bytes that are not
    # UTF-8 are replaced and control characters let through rather than
    # refused. A TXT text that begins with "{" but is not valid JSON still
    # makes this raise ValueError.
    return json.loads(raw.decode("utf-8", "replace"), strict=False)


def txt_json(txt: TxtArgument) -> Optional[str]:
    """TXT attributes as the flat JSON object text the library reads.

    txt is None, a str (passed on as it is) or a dict whose keys and values
    become key=value strings; values are turned into text with str(), and
    True and False become "true" and "false". The library reads quoted text
    without escapes, so keys and values cannot hold a double quote or a
    backslash.
    """
    if txt is None or isinstance(txt, str):
        return txt
    if not isinstance(txt, Mapping):
        raise TypeError("txt must be a dict, a JSON text or None")
    pairs = []
    for key, value in txt.items():
        if isinstance(value, bool):
            value = "true" if value else "false"
        key, value = str(key), str(value)
        for item in (key, value):
            if '"' in item or "\\" in item:
                raise ValueError("TXT keys and values cannot contain '\"' or '\\': %r" % item)
        pairs.append('"%s":"%s"' % (key, value))
    return "{" + ",".join(pairs) + "}"
