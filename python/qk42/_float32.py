"""Floats as the instrument holds them (32 bits), shown as the user wrote them."""

from __future__ import annotations

import math
import struct

__all__ = ["FLOAT32_MAX", "shortest"]

FLOAT32_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]


def _bits(value: float) -> bytes:
    return struct.pack("<f", value)


def shortest(value: float) -> float:
    """The float with the fewest significant digits that is the same 32-bit float as
    `value`: 43.67 written and read back is 43.67, not 43.66999816894531."""
    if not math.isfinite(value):
        return value
    bits = _bits(value)
    for digits in range(1, 10):
        candidate = float(f"{value:.{digits}g}")
        if abs(candidate) <= FLOAT32_MAX and _bits(candidate) == bits:
            return candidate
    return value
