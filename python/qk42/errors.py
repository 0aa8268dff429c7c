"""The exceptions a line raises, one class per failure status of libqk42."""

from __future__ import annotations

__all__ = [
    "Error",
    "NoReply",
    "ShortReply",
    "WrongAck",
    "BadKind",
    "CannotOpen",
    "SettingsRefused",
    "LineClosed",
    "TraceWarning",
    "error_for",
]

OK = 0
BAD_ARGUMENT = 8


class Error(Exception):
    """A call on a line failed. ``str(e)`` is the line's own account of it, ``e.status``
    libqk42's status code (``qk42_status``)."""

    status: int = -1

    def __init__(self, message: str, status: int | None = None) -> None:
        super().__init__(message)
        self.message = message
        if status is not None:
            self.status = status

    def __reduce__(self) -> tuple[type[Error], tuple[str, int]]:
        return type(self), (self.message, self.status)


class NoReply(Error):
    """The instrument sent no byte within the reply time-out (no instrument at that
    address, wrong device, cable, or a time-out too short for a far device server)."""

    status = 1


class ShortReply(Error):
    """The reply stopped short of its length."""

    status = 2


class WrongAck(Error):
    """The acknowledge byte of a setting was not the one the request asks for."""

    status = 3


class BadKind(Error):
    """The version reply's kind letter was neither M nor C."""

    status = 4


class CannotOpen(Error):
    """The line could not be opened: no such device, held by another program, connection
    refused, no such host."""

    status = 5


class SettingsRefused(Error):
    """The device opened, but refused the serial settings (it is not a serial port)."""

    status = 6


class LineClosed(Error):
    """The line hung up or the connection dropped; open it again. Also raised by calls on a
    line this program closed."""

    status = 7


class TraceWarning(RuntimeWarning):
    """A line's trace callback raised; the call it traced went on. ``exception`` is what the
    callback raised. Make it an error with ``warnings.simplefilter("error", TraceWarning)``."""

    def __init__(self, message: str, exception: BaseException) -> None:
        super().__init__(message)
        self.exception = exception


_BY_STATUS: dict[int, type[Error]] = {
    cls.status: cls
    for cls in (NoReply, ShortReply, WrongAck, BadKind, CannotOpen, SettingsRefused, LineClosed)
}


def error_for(status: int, message: str) -> Exception:
    """The exception for a failed call: a qk42.Error subclass, or ValueError for a bad
    argument the Python checks let through."""
    if status == BAD_ARGUMENT:
        return ValueError(message)
    cls = _BY_STATUS.get(status)
    if cls is None:
        return Error(message, status)
    return cls(message)
