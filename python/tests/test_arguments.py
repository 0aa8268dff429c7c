"""Arguments are checked in Python before anything is sent: out of range is ValueError, the
wrong type (bool included, where a number is meant) is TypeError, and the line stays quiet."""

from __future__ import annotations

import math
from typing import Any, Callable, List, Tuple, Type

import pytest

import qk42

Call = Callable[[qk42.Line], Any]
BAD = [
    # addresses and channels
    (lambda l: l.instrument(0), ValueError),
    (lambda l: l.instrument(9), ValueError),
    (lambda l: l.instrument(True), TypeError),
    (lambda l: l.instrument("1"), TypeError),
    (lambda l: l.instrument(1.0), TypeError),
    (lambda l: l.instrument(1).flow(0), ValueError),
    (lambda l: l.instrument(1).setpoint(9), ValueError),
    (lambda l: l.instrument(1).maxflow(-1), ValueError),
    (lambda l: l.instrument(1).unit(2**70), ValueError),
    (lambda l: l.instrument(1).intflow(True), TypeError),
    (lambda l: l.instrument(1).flow(2.0), TypeError),
    (lambda l: l.instrument(1).flow(None), TypeError),
    # settings
    (lambda l: l.instrument(1).set_unit(1, 0), ValueError),
    (lambda l: l.instrument(1).set_unit(1, 5), ValueError),
    (lambda l: l.instrument(1).set_unit(1, True), TypeError),
    (lambda l: l.instrument(1).set_unit(9, 1), ValueError),
    (lambda l: l.instrument(1).set_setpoint(1, math.nan), ValueError),
    (lambda l: l.instrument(1).set_setpoint(1, math.inf), ValueError),
    (lambda l: l.instrument(1).set_setpoint(1, -math.inf), ValueError),
    (lambda l: l.instrument(1).set_setpoint(1, 1e39), ValueError),  # no 32-bit float holds it
    (lambda l: l.instrument(1).set_setpoint(1, "40"), TypeError),
    (lambda l: l.instrument(1).set_setpoint(1, True), TypeError),
    (lambda l: l.instrument(1).set_setpoint(0, 1.0), ValueError),
    (lambda l: l.instrument(1).set_maxflow(1, 100.0, code=5), ValueError),
    (lambda l: l.instrument(1).set_maxflow(1, 100.0, code=-1), ValueError),
    (lambda l: l.instrument(1).set_maxflow(1, 100.0, code=False), TypeError),
    (lambda l: l.instrument(1).set_maxflow(1, math.nan, code=0), ValueError),
    (lambda l: l.instrument(1).set_maxflow(1, -3.5e38, code=0), ValueError),
    # integration
    (lambda l: l.instrument(1).integration(128), ValueError),
    (lambda l: l.instrument(1).integration(-1), ValueError),
    (lambda l: l.instrument(1).integration("begin"), ValueError),
    (lambda l: l.instrument(1).integration("START"), ValueError),
    (lambda l: l.instrument(1).integration(True), TypeError),
    (lambda l: l.instrument(1).integration(None), TypeError),
    # ratio/total and on/off
    (lambda l: l.instrument(1).set_ratio_total(0, 1, 1, 1), ValueError),
    (lambda l: l.instrument(1).set_ratio_total(1, 256, 1, 1), ValueError),
    (lambda l: l.instrument(1).set_ratio_total(1, -1, 1, 1), ValueError),
    (lambda l: l.instrument(1).set_ratio_total(1, 1, 9, 1), ValueError),
    (lambda l: l.instrument(1).set_ratio_total(1, 1, 1, 0), ValueError),
    (lambda l: l.instrument(1).set_ratio_mode(3), ValueError),
    (lambda l: l.instrument(1).set_ratio_mode(-1), ValueError),
    (lambda l: l.instrument(1).set_on_off(256), ValueError),
    (lambda l: l.instrument(1).set_on_off(-1), ValueError),
    (lambda l: l.instrument(1).set_on_off(True), TypeError),
    (lambda l: l.instrument(1).set_on_off(0x0F.to_bytes(1, "big")), TypeError),
    # system
    (lambda l: l.instrument(1).set_display(2, False), ValueError),
    (lambda l: l.instrument(1).set_display("yes", False), TypeError),
    (lambda l: l.instrument(1).set_key_lock(None), TypeError),
]


@pytest.mark.parametrize("call, error", BAD)
def test_bad_argument_is_refused_before_sending(line: qk42.Line,
                                                exchanges: List[Tuple[bytes, bytes]],
                                                call: Call, error: Type[Exception]) -> None:
    with pytest.raises(error):
        call(line)
    assert exchanges == []
    assert line.instrument(1).on_off() == 0  # and the line is fine


@pytest.mark.parametrize(
    "call",
    [
        lambda l: l.instrument(8).flow(1),
        lambda l: l.instrument(1).flow(8),
        lambda l: l.instrument(1).set_unit(1, 1),
        lambda l: l.instrument(1).set_unit(1, 4),
        lambda l: l.instrument(1).set_maxflow(1, 0, code=0),
        lambda l: l.instrument(1).set_maxflow(1, 3.4e38, code=4),
        lambda l: l.instrument(1).set_setpoint(1, -3.4e38),
        lambda l: l.instrument(1).integration(0),
        lambda l: l.instrument(1).integration(127),
        lambda l: l.instrument(1).set_ratio_total(1, 0, 1, 1),
        lambda l: l.instrument(1).set_ratio_total(8, 255, 8, 8),
        lambda l: l.instrument(1).set_ratio_mode(0),
        lambda l: l.instrument(1).set_ratio_mode(2),
        lambda l: l.instrument(1).set_on_off(0),
        lambda l: l.instrument(1).set_on_off(255),
        lambda l: l.instrument(1).set_display(1, 0),
    ],
)
@pytest.mark.parametrize("qk42_simulator", [{"addresses": (1, 8)}], indirect=True)
def test_values_at_the_ends_of_their_ranges_are_sent(line: qk42.Line,
                                                     exchanges: List[Tuple[bytes, bytes]],
                                                     call: Call) -> None:
    call(line)
    assert len(exchanges) == 1


@pytest.mark.parametrize(
    "seconds, error",
    [(0.049, ValueError), (10.001, ValueError), (0, ValueError), (-1, ValueError),
     (math.nan, ValueError), (math.inf, ValueError), ("1", TypeError), (True, TypeError),
     (None, TypeError)],
)
def test_bad_reply_timeout(line: qk42.Line, seconds: Any, error: Type[Exception]) -> None:
    with pytest.raises(error):
        line.reply_timeout = seconds
    assert line.reply_timeout == 0.5


@pytest.mark.parametrize("seconds", [0.05, 10, 0.8])
def test_reply_timeout_range(line: qk42.Line, seconds: float) -> None:
    line.reply_timeout = seconds
    assert line.reply_timeout == seconds
