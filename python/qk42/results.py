"""What reads return: small immutable records."""

from __future__ import annotations

from typing import NamedTuple

__all__ = ["Reading", "RatioTotal", "Version", "ChannelStatus"]


class Reading(NamedTuple):
    """A channel's flow, setpoint or maximum flow, and the low three status bits the
    instrument sent with it. An invalid flow reads -1.0."""

    value: float
    status: int


class RatioTotal(NamedTuple):
    """The ratio/total configuration: a channel, an 8-bit value and two more channels."""

    channel: int
    value: int
    channel2: int
    channel3: int


class Version(NamedTuple):
    """The instrument's version: ``text`` its three characters, ``number`` the text read as a
    number (None when it holds none), ``kind`` "M" or "C", and two information bytes."""

    text: str
    number: float | None
    kind: str
    info1: int
    info2: int


class ChannelStatus(NamedTuple):
    """One channel's row of Instrument.status(). ``status`` is the flow reading's status."""

    channel: int
    flow: float
    setpoint: float
    maxflow: float
    unit: int
    status: int
