"""Argument checks made before anything reaches the library: the types, and that a value fits
the C int or 32-bit float it travels as. Ranges (a channel 1 to 8, a unit 1 to 4, ...) are
libqk42's: it refuses a value out of range before anything is sent, with a message that says
which argument and what it may be, and the package raises that as ValueError."""

from __future__ import annotations

import math
import numbers
import operator

from ._float32 import FLOAT32_MAX

__all__ = ["address", "integer", "real", "flag", "reply_timeout"]

_INT_MIN, _INT_MAX = -(2**31), 2**31 - 1

# Instrument addresses. The one range checked here: an Instrument is made without a call
# into the library, and one at another address could never answer.
ADDRESSES = range(1, 9)


def integer(value: object, what: str) -> int:
    """`value` as an int that a C int holds. True and False are refused: set_unit(2, True) is
    far more likely a mistake than a wish for unit 1."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not _INT_MIN <= number <= _INT_MAX:
        # ctypes would pass on its low 32 bits, which could land in range.
        raise ValueError(f"{what} must fit a C int, not {number}")
    return number


def address(value: object) -> int:
    """An instrument address, 1 to 8."""
    number = integer(value, "address")
    if number not in ADDRESSES:
        raise ValueError(f"address must be {ADDRESSES[0]} to {ADDRESSES[-1]}, not {number}")
    return number


def real(value: object, what: str) -> float:
    """`value` as a float. Not a number and the infinities go on, for libqk42 to refuse; a
    finite number beyond the 32-bit float range is refused here, since it would arrive as an
    infinity."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a number, not {type(value).__name__}")
    number = float(value)
    if math.isfinite(number) and abs(number) > FLOAT32_MAX:
        raise ValueError(f"{what} {number} is beyond the instrument's 32-bit float range")
    return number


def flag(value: object, what: str) -> bool:
    """A bool, or 0 or 1."""
    if isinstance(value, bool):
        return value
    if isinstance(value, int) and value in (0, 1):
        return bool(value)
    if isinstance(value, int):
        raise ValueError(f"{what} must be True or False (or 1 or 0), not {value}")
    raise TypeError(f"{what} must be True or False, not {type(value).__name__}")


def reply_timeout(value: object) -> float:
    """A line's reply time-out in seconds, 0.05 to 10."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"reply_timeout must be a number, not {type(value).__name__}")
    seconds = float(value)
    if not (math.isfinite(seconds) and 0.05 <= seconds <= 10.0):
        raise ValueError(f"reply_timeout must be 0.05 to 10 seconds, not {value}")
    return seconds
