"""Finding and loading libqk42, and the C prototypes of its functions."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path

__all__ = ["LibraryNotFound", "library", "TRACE_FN"]

ENV_VAR = "QK42_LIBRARY"


def _loader_name() -> str:
    # Read at each load rather than at import, so that the tests can play Windows on Linux.
    return "qk42.dll" if sys.platform == "win32" else "libqk42.so.1"


class LibraryNotFound(OSError):
    """libqk42 could not be loaded; the message lists every place that was tried."""


_c_int_p = ctypes.POINTER(ctypes.c_int)
_c_float_p = ctypes.POINTER(ctypes.c_float)
_line_p = ctypes.c_void_p
_status = ctypes.c_int

# void (*)(void* user, const unsigned char* request, size_t request_size,
#          const unsigned char* reply, size_t reply_size, size_t expected)
TRACE_FN = ctypes.CFUNCTYPE(
    None,
    ctypes.c_void_p,
    ctypes.POINTER(ctypes.c_ubyte),
    ctypes.c_size_t,
    ctypes.POINTER(ctypes.c_ubyte),
    ctypes.c_size_t,
    ctypes.c_size_t,
)

_PROTOTYPES: dict[str, tuple[object, list[object]]] = {
    "qk42_open": (_status, [ctypes.c_char_p, ctypes.POINTER(_line_p)]),
    "qk42_close": (None, [_line_p]),
    "qk42_status_name": (ctypes.c_char_p, [_status]),
    "qk42_last_error": (ctypes.c_size_t, [_line_p, ctypes.c_char_p, ctypes.c_size_t]),
    "qk42_set_reply_timeout": (_status, [_line_p, ctypes.c_int]),
    "qk42_set_trace": (None, [_line_p, TRACE_FN, ctypes.c_void_p]),
    "qk42_read_flow": (_status, [_line_p, ctypes.c_int, ctypes.c_int, _c_float_p, _c_int_p]),
    "qk42_read_setpoint": (_status, [_line_p, ctypes.c_int, ctypes.c_int, _c_float_p, _c_int_p]),
    "qk42_read_maxflow": (_status, [_line_p, ctypes.c_int, ctypes.c_int, _c_float_p, _c_int_p]),
    "qk42_read_unit": (_status, [_line_p, ctypes.c_int, ctypes.c_int, _c_int_p]),
    "qk42_set_unit": (_status, [_line_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]),
    "qk42_set_setpoint": (_status, [_line_p, ctypes.c_int, ctypes.c_int, ctypes.c_float]),
    "qk42_set_maxflow": (
        _status,
        [_line_p, ctypes.c_int, ctypes.c_int, ctypes.c_float, ctypes.c_int],
    ),
    "qk42_read_intflow": (
        _status,
        [_line_p, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_ubyte)],
    ),
    "qk42_read_inttime": (_status, [_line_p, ctypes.c_int, ctypes.POINTER(ctypes.c_ubyte)]),
    "qk42_int_control": (_status, [_line_p, ctypes.c_int, ctypes.c_int]),
    "qk42_read_ratio_total": (
        _status,
        [_line_p, ctypes.c_int, _c_int_p, _c_int_p, _c_int_p, _c_int_p],
    ),
    "qk42_set_ratio_total": (
        _status,
        [_line_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_int],
    ),
    "qk42_control_ratio_total": (_status, [_line_p, ctypes.c_int, ctypes.c_int]),
    "qk42_read_on_off": (_status, [_line_p, ctypes.c_int, _c_int_p]),
    "qk42_set_on_off": (_status, [_line_p, ctypes.c_int, ctypes.c_int]),
    "qk42_read_version": (
        _status,
        [_line_p, ctypes.c_int, ctypes.c_char_p, _c_float_p, _c_int_p, _c_int_p, _c_int_p],
    ),
    "qk42_set_display": (_status, [_line_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]),
    "qk42_set_key_lock": (_status, [_line_p, ctypes.c_int, ctypes.c_int]),
}


def _system_places() -> list[str]:
    # On Windows find_library walks PATH (where the installer puts its bin folder) and gives a
    # full path; the bare name then covers the loader's own folders (System32 and those given
    # to os.add_dll_directory), which a name loaded by ctypes searches instead of PATH.
    places = []
    found = ctypes.util.find_library("qk42")
    if found:
        places.append(found)
    places.append(_loader_name())
    return places


def _beside() -> str:
    return str(Path(__file__).resolve().parent / _loader_name())


def _candidates() -> list[str]:
    """Where a load looks, in order, when QK42_LIBRARY does not decide it alone.

    On Windows a wheel carries its own qk42.dll beside the package, built for the same
    release and the same architecture as the package it came with, so it comes first;
    then QK42_LIBRARY (a source tree or a pure wheel beside a DLL installed elsewhere), then
    the system. A full path loads on Windows with its own folder searched for what it imports.
    """
    places = [_beside()]
    explicit = os.environ.get(ENV_VAR)
    if sys.platform == "win32" and explicit:
        places.append(explicit)
    places += _system_places()
    return list(dict.fromkeys(places))


def _declare(lib: ctypes.CDLL, where: str) -> ctypes.CDLL:
    for name, (restype, argtypes) in _PROTOTYPES.items():
        try:
            function = getattr(lib, name)
        except AttributeError:
            raise LibraryNotFound(
                f"{where} was loaded but has no function {name}: it is not libqk42, "
                f"or an older one; point {ENV_VAR} at the libqk42 of this release"
            ) from None
        function.restype = restype
        function.argtypes = argtypes
    return lib


def _load() -> ctypes.CDLL:
    explicit = os.environ.get(ENV_VAR)
    if explicit and sys.platform != "win32":
        # A path the user chose is not silently replaced by some other copy.
        try:
            return _declare(ctypes.CDLL(explicit), explicit)
        except OSError as e:
            if isinstance(e, LibraryNotFound):
                raise
            raise LibraryNotFound(
                f"cannot load libqk42 from {ENV_VAR}={explicit}: {e}"
            ) from None
    tried = []
    for place in _candidates():
        try:
            lib = ctypes.CDLL(place)
        except OSError as e:
            named = f"{ENV_VAR}={place}" if place == explicit else place
            tried.append(f"  {named}: {e}")
            continue
        return _declare(lib, place)
    raise LibraryNotFound(
        "cannot find libqk42; looked in:\n"
        + "\n".join(tried)
        + _advice()
    )


def _advice() -> str:
    if sys.platform == "win32":
        return ("\nInstall the qk42 wheel of this Python's architecture (win_amd64 or win32), "
                f"or set {ENV_VAR} to the full path of qk42.dll "
                f"(for example {ENV_VAR}=C:\\Program Files\\QK42RT\\bin\\qk42.dll).")
    return (f"\nInstall the qk42rt package, or set {ENV_VAR} to the library's full path "
            f"(for example {ENV_VAR}=/path/to/build/src/libqk42.so.1).")


_lock = threading.Lock()
_loaded: ctypes.CDLL | None = None


def library() -> ctypes.CDLL:
    """The loaded libqk42, found on first use; raises LibraryNotFound."""
    global _loaded
    with _lock:
        if _loaded is None:
            _loaded = _load()
        return _loaded
