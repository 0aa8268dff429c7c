"""Argument checks made before anything reaches the library or the line."""

from __future__ import annotations

import math
import numbers
import operator

from ._float32 import FLOAT32_MAX

__all__ = ["integer", "real", "flag"]


def integer(value: object, low: int, high: int, what: str) -> int:
    """`value` as an int in low..high. True and False are refused: set_unit(2, True) is far
    more likely a mistake than a wish for unit 1."""
    if isinstance(value, bool):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{what} must be {low} to {high}, not {number}")
    return number


def real(value: object, what: str) -> float:
    """`value` as a finite float that a 32-bit float can hold."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a number, not {type(value).__name__}")
    number = float(value)
    if not math.isfinite(number):
        raise ValueError(f"{what} must be finite, not {number}")
    if abs(number) > FLOAT32_MAX:
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
