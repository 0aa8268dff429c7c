"""QK42 multi-channel flow instruments on a serial line, from Python.

A thin layer over the C library libqk42: every call runs one exchange with the instrument.

    import qk42

    with qk42.open("/dev/ttyUSB0") as line:        # or "tcp://HOST:PORT", "rfc2217://HOST:PORT"
        inst = line.instrument(1)                  # address 1 to 8
        inst.set_setpoint(2, 40.0)
        print(inst.flow(2))                        # Reading(value=40.0, status=0)
        for row in inst.status():                  # the eight channels
            print(row)

Failures raise a subclass of :class:`qk42.Error` named after what went wrong (NoReply,
ShortReply, WrongAck, BadKind, CannotOpen, SettingsRefused, LineClosed), with the line's
own message and the library's status code in ``e.status``. Arguments out of range raise
ValueError before anything is sent.

libqk42 is loaded when the first line is opened, from the path in the environment variable
QK42_LIBRARY if it is set, else from beside this package (libqk42.so.1, qk42.dll), else
where the system's loader finds it; :class:`qk42.LibraryNotFound` lists where it looked.

:mod:`qk42.aio` gives the same lines for asyncio: every call a coroutine, each line's exchanges
on a thread of its own, so that the event loop never waits on a line.

:mod:`qk42.testing` starts the simulator qk42rt-sim for tests without hardware, and gives
pytest the fixture ``qk42_simulator``.
"""

from __future__ import annotations

from ._library import LibraryNotFound
from ._version import __version__
from .errors import (
    BadKind,
    CannotOpen,
    Error,
    LineClosed,
    NoReply,
    SettingsRefused,
    ShortReply,
    TraceWarning,
    WrongAck,
)
from .instrument import INTEGRATION_CODES, Instrument
from .line import Line, open
from .results import ChannelStatus, RatioTotal, Reading, Version

# Shown as qk42.NoReply, qk42.Reading, ... in tracebacks, reprs and help(), as users name them.
for _public in (Line, Instrument, Reading, RatioTotal, Version, ChannelStatus, Error, NoReply,
                ShortReply, WrongAck, BadKind, CannotOpen, SettingsRefused, LineClosed,
                TraceWarning, LibraryNotFound):
    _public.__module__ = __name__
del _public

__all__ = [
    "open",
    "Line",
    "Instrument",
    "Reading",
    "RatioTotal",
    "Version",
    "ChannelStatus",
    "INTEGRATION_CODES",
    "Error",
    "NoReply",
    "ShortReply",
    "WrongAck",
    "BadKind",
    "CannotOpen",
    "SettingsRefused",
    "LineClosed",
    "TraceWarning",
    "LibraryNotFound",
    "__version__",
]
