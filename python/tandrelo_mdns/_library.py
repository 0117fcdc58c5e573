"""Finding and loading the tandrelo-mdns shared library, and its prototypes.

The library is looked up in this order:

1. the file named by the environment variable TANDRELO_MDNS_LIBRARY; when the
   variable is set, nothing else is tried, so a wrong path fails loudly
   instead of silently loading another copy;
2. a copy in this package's own folder (libtandrelo-mdns.so.1 or
   libtandrelo-mdns.so on Linux, tandrelo-mdns.dll on Windows);
3. the same file names through the system loader (LD_LIBRARY_PATH, the
   ld.so cache and the standard folders on Linux; PATH on Windows).
"""
from __future__ import annotations

import ctypes
import os
import sys
from typing import Dict, List, Mapping, Optional, Tuple, Type

ENV_VAR = "TANDRELO_MDNS_LIBRARY"
SUPPORTED_MAJOR = "1"


def library_file_names(platform: str = sys.platform) -> List[str]:
    """The file names the library has on this platform, preferred first."""
    if platform.startswith("win") or platform == "cygwin":
        return ["tandrelo-mdns.dll"]
    return ["libtandrelo-mdns.so.1", "libtandrelo-mdns.so"]


def _package_dir() -> str:
    return os.path.dirname(os.path.abspath(__file__))


def find_and_load(environ: Optional[Mapping[str, str]] = None,
                  package_dir: Optional[str] = None) -> Tuple[ctypes.CDLL, str]:
    """Loads the library; returns (ctypes library, how it was found).

    Raises ImportError naming every place that was tried.
    """
    environ = os.environ if environ is None else environ
    package_dir = _package_dir() if package_dir is None else package_dir

    explicit = environ.get(ENV_VAR, "")
    if explicit:
        try:
            return ctypes.CDLL(explicit), explicit
        except OSError as error:
            raise ImportError(
                "%s=%s cannot be loaded: %s" % (ENV_VAR, explicit, error)) from error

    tried: List[str] = []
    for name in library_file_names():
        path = os.path.join(package_dir, name)
        if os.path.isfile(path):
            try:
                return ctypes.CDLL(path), path
            except OSError as error:
                tried.append("%s (%s)" % (path, error))
        else:
            tried.append(path + " (absent)")
    for name in library_file_names():
        try:
            return ctypes.CDLL(name), name
        except OSError as error:
            tried.append("%s on the system path (%s)" % (name, error))
    raise ImportError(
        "the tandrelo-mdns library was not found; set %s to its path, copy it "
        "into %s, or install it where the system loader finds it. Tried: %s"
        % (ENV_VAR, package_dir, "; ".join(tried)))


_TEXT = ctypes.c_char_p
_INT = ctypes.c_int32

# name: (result type, argument types), for the sixteen exported functions.
# Text results are c_char_p: ctypes copies them into bytes and never frees
# the library's buffer. tests/bindings/check_declarations.py compares this
# table with the public header.
PROTOTYPES: Dict[str, Tuple[Type[ctypes._SimpleCData], List[Type[ctypes._SimpleCData]]]] = {
    "mdns_version": (_TEXT, []),
    "mdns_last_error": (_TEXT, []),
    "mdns_status": (_INT, []),
    "mdns_start": (_INT, [_INT]),
    "mdns_stop": (_INT, []),
    "mdns_add_service": (_INT, [_TEXT, _TEXT, _INT, _TEXT]),
    "mdns_clear_services": (_INT, []),
    "mdns_set_hostname": (_INT, [_TEXT]),
    "mdns_set_addr": (_INT, [_TEXT]),
    "mdns_stats": (_TEXT, []),
    "mdns_interfaces": (_TEXT, []),
    "mdns_set_interface": (_INT, [_TEXT]),
    "mdns_browse_start": (_INT, []),
    "mdns_browse_stop": (_INT, []),
    "mdns_browse_results": (_TEXT, []),
    "mdns_browse_clear": (_INT, []),
}


def declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    """Sets the result and argument types of every function on lib."""
    for name, (restype, argtypes) in PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    version = lib.mdns_version().decode("ascii", "replace")
    if version.split(".")[0] != SUPPORTED_MAJOR:
        raise ImportError("this binding needs tandrelo-mdns %s.x, the library is %s"
                          % (SUPPORTED_MAJOR, version))
    return lib


lib, LIBRARY = find_and_load()
declare(lib)
