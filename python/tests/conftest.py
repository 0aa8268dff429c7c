"""Shared fixtures: the simulator (from qk42.testing, as users get it) and a line to it.

Run with QK42_LIBRARY (libqk42) and QK42RT_SIM (qk42rt-sim) set to the build's files, as the
CTest entry python_package does, and PYTHONPATH=python.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Iterator, List, Tuple

import pytest

import qk42

if TYPE_CHECKING:  # imported by pytest as a plugin, first, so that its asserts are rewritten
    from qk42.testing import Simulator

pytest_plugins = ["qk42.testing"]

Exchange = Tuple[bytes, bytes]


@pytest.fixture
def line(qk42_simulator: "Simulator") -> Iterator[qk42.Line]:
    with qk42.open(qk42_simulator.device) as opened:
        yield opened


@pytest.fixture
def inst(line: qk42.Line) -> qk42.Instrument:
    return line.instrument(1)


@pytest.fixture
def exchanges(line: qk42.Line) -> List[Exchange]:
    """Every exchange on `line` from here on, as (request, reply)."""
    seen: List[Exchange] = []
    line.trace = lambda request, reply: seen.append((request, reply))
    return seen
