"""An open line: the handle, its lock, the reply time-out and the trace."""

from __future__ import annotations

import ctypes
import os
import sys
import threading
import warnings
import weakref
from typing import TYPE_CHECKING, Any, Callable, Optional, Union

from . import _checks
from ._library import TRACE_FN, library
from .errors import OK, LineClosed, TraceWarning, error_for

if TYPE_CHECKING:
    from .instrument import Instrument

__all__ = ["Line", "open", "Trace"]

Trace = Callable[[bytes, bytes], Any]
DeviceName = Union[str, "os.PathLike[str]"]

_PACKAGE = __name__.rpartition(".")[0]


def _last_error(handle: Optional[int]) -> str:
    lib = library()
    size = 256
    while True:
        buffer = ctypes.create_string_buffer(size)
        length = lib.qk42_last_error(handle, buffer, size)
        if length < size:
            return buffer.value.decode("utf-8", errors="replace")
        size = length + 1


def _failure(status: int, handle: Optional[int]) -> Exception:
    message = _last_error(handle)
    if not message:
        name = library().qk42_status_name(status)
        message = name.decode("ascii", errors="replace").replace("_", " ") if name else ""
        message = message or f"failed with status {status}"
    return error_for(status, message)


def _caller_stacklevel() -> int:
    """The stacklevel of the first frame outside this package, for warnings."""
    frame = sys._getframe(1)
    level = 1
    while frame is not None and frame.f_globals.get("__name__", "").startswith(_PACKAGE + "."):
        frame = frame.f_back  # type: ignore[assignment]
        level += 1
    return level


def _release(close: Callable[[int], None], handle: int, lock: threading.Lock,
             hook: object) -> None:
    # Runs when a Line is collected unclosed, or at interpreter exit. A daemon thread may
    # still be inside a call then: wait for it (one reply time-out at most) rather than free
    # the handle under it; if it never comes back, leave the handle to the process's end.
    del hook  # kept alive until here: the library may call it until the handle is closed
    if lock.acquire(timeout=15):
        try:
            close(handle)
        finally:
            lock.release()


class _ThreadState(threading.local):
    in_trace = False
    trace_error: Optional[BaseException] = None


class Line:
    """An open line to the instruments on it (addresses 1 to 8), made by :func:`qk42.open`.

    Use it as a context manager, or call :meth:`close`; closing twice is fine. After
    close(), every call on the line or its instruments raises :class:`qk42.LineClosed`, the
    same error a line that hung up gives, so one handler covers both.

    A line may be used from several threads: calls on it take turns (libqk42 runs one
    exchange at a time on a line), and each call's error message is its own.

    ``reply_timeout``: seconds to wait for a reply, 0.05 to 10 (default 0.5); longer for a
    device server far away.

    ``trace``: None, or a callable ``trace(request, reply)`` called after every exchange with
    the bytes sent and the bytes received (fewer than expected when the reply was short or
    missing), on the calling thread. It must not call into the same line (RuntimeError).
    When it raises, the exchange and the call go on unchanged and the exception is reported
    as a :class:`qk42.TraceWarning` once the call returns (``warnings.simplefilter("error",
    qk42.TraceWarning)`` turns that into an exception); KeyboardInterrupt and SystemExit
    raised in it are raised again once the call returns.
    """

    def __init__(self, device: DeviceName) -> None:
        if isinstance(device, (str, os.PathLike)):
            name = os.fspath(device)
        else:
            raise TypeError(f"device must be a string, not {type(device).__name__}")
        if not isinstance(name, str):
            raise TypeError("device must be a str path, not bytes")
        if "\0" in name:
            raise ValueError("device contains a NUL character")
        if not name:
            raise ValueError("device is empty")
        lib = library()
        handle = ctypes.c_void_p()
        status = lib.qk42_open(os.fsencode(name), ctypes.byref(handle))
        if status != OK:
            raise _failure(status, None)
        self.device: str = name
        self._lib = lib
        self._handle: Optional[int] = handle.value
        self._lock = threading.Lock()
        self._thread = _ThreadState()
        self._trace: Optional[Trace] = None
        self._reply_timeout = 0.5
        self._hook = TRACE_FN(_trace_hook(weakref.ref(self)))
        self._finalizer = weakref.finalize(
            self, _release, lib.qk42_close, handle.value, self._lock, self._hook
        )

    # --- lifetime ------------------------------------------------------------------------

    @property
    def closed(self) -> bool:
        """True once close() was called."""
        return self._handle is None

    def close(self) -> None:
        """Closes the line; waits for a call in flight on another thread to end first."""
        self._refuse_inside_trace()
        with self._lock:
            if self._handle is None:
                return
            handle, self._handle = self._handle, None
            self._finalizer.detach()
            self._lib.qk42_close(handle)

    def __enter__(self) -> Line:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<qk42.Line {self.device!r} {'closed' if self.closed else 'open'}>"

    def instrument(self, address: int) -> Instrument:
        """The instrument at `address` (1 to 8) on this line."""
        from .instrument import Instrument

        return Instrument(self, _checks.address(address))

    # --- settings ------------------------------------------------------------------------

    @property
    def reply_timeout(self) -> float:
        """Seconds to wait for a reply, 0.05 to 10 (default 0.5)."""
        return self._reply_timeout

    @reply_timeout.setter
    def reply_timeout(self, seconds: float) -> None:
        value = _checks.reply_timeout(seconds)
        self._call("qk42_set_reply_timeout", round(value * 1000.0))
        self._reply_timeout = value

    @property
    def trace(self) -> Optional[Trace]:
        """None, or trace(request: bytes, reply: bytes) called after every exchange."""
        return self._trace

    @trace.setter
    def trace(self, callback: Optional[Trace]) -> None:
        if callback is not None and not callable(callback):
            raise TypeError(f"trace must be callable or None, not {type(callback).__name__}")
        self._refuse_inside_trace()
        with self._lock:
            if self._handle is None:
                if callback is None:
                    self._trace = None
                    return
                raise self._closed_error()
            self._lib.qk42_set_trace(self._handle, self._hook if callback else TRACE_FN(), None)
            self._trace = callback

    # --- calls ---------------------------------------------------------------------------

    def _call(self, function: str, *args: object) -> None:
        """Calls libqk42's `function` on this line; raises the failure's exception."""
        self._refuse_inside_trace()
        state = self._thread
        with self._lock:
            if self._handle is None:
                raise self._closed_error()
            state.trace_error = None
            status = getattr(self._lib, function)(self._handle, *args)
            failure = _failure(status, self._handle) if status != OK else None
            trace_error, state.trace_error = state.trace_error, None
        if trace_error is not None:
            if not isinstance(trace_error, Exception):
                raise trace_error
            warning = TraceWarning(
                f"trace callback raised {type(trace_error).__name__}: {trace_error}; "
                "the call went on without it",
                trace_error,
            )
            warning.__cause__ = trace_error
            warnings.warn(warning, stacklevel=_caller_stacklevel())
        if failure is not None:
            raise failure

    def _closed_error(self) -> LineClosed:
        return LineClosed(f"line {self.device} is closed: close() was called on it")

    def _refuse_inside_trace(self) -> None:
        if self._thread.in_trace:
            raise RuntimeError("a trace callback must not call into the line it traces")

    def _deliver_trace(self, request: bytes, reply: bytes) -> None:
        callback = self._trace
        if callback is None:
            return
        state = self._thread
        state.in_trace = True
        try:
            callback(request, reply)
        except BaseException as e:  # noqa: B036 - nothing may unwind through C
            if state.trace_error is None:
                state.trace_error = e
        finally:
            state.in_trace = False


def _trace_hook(line: weakref.ref[Line]) -> Callable[..., None]:
    # Holds the line weakly: the hook lives as long as the line, and must not keep it alive.
    def hook(user: object, request: Any, request_size: int, reply: Any, reply_size: int,
             expected: int) -> None:
        try:
            target = line()
            if target is None:
                return
            sent = ctypes.string_at(request, request_size) if request and request_size else b""
            got = ctypes.string_at(reply, reply_size) if reply and reply_size else b""
            target._deliver_trace(sent, got)
        except BaseException:  # noqa: B036 - never unwind into the library
            pass

    return hook


def open(device: DeviceName) -> Line:  # noqa: A001 - the package's verb, as in qk42.open
    """Opens the line `device` names: a serial device ("/dev/ttyUSB0", "COM3"),
    "tcp://HOST:PORT" (a device server in raw mode) or "rfc2217://HOST:PORT".

    Raises qk42.CannotOpen (no such device, busy, connection refused), qk42.SettingsRefused
    (not a serial port), ValueError (a malformed device string), or qk42.LibraryNotFound
    when libqk42 cannot be loaded.
    """
    return Line(device)
