"""Every operation against qk42rt-sim: what a fresh instrument reads, what is written reads
back, and the bytes each call puts on the line."""

from __future__ import annotations

import struct
import time
from typing import Any, Callable, List, Tuple

import pytest

import qk42
from qk42 import RatioTotal, Reading, Version

Call = Callable[[qk42.Instrument], Any]


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda i: i.flow(2), Reading(0.0, 0)),
        (lambda i: i.setpoint(8), Reading(0.0, 0)),
        (lambda i: i.maxflow(1), Reading(100.0, 0)),
        (lambda i: i.unit(3), 1),
        (lambda i: i.on_off(), 0),
        (lambda i: i.ratio_total(), RatioTotal(1, 0, 1, 1)),
        (lambda i: i.version(), Version("1.2", 1.2, "C", 8, 1)),
        (lambda i: i.intflow(4), bytes(4)),
        (lambda i: i.inttime(), bytes(4)),
    ],
    ids=["flow", "setpoint", "maxflow", "unit", "on_off", "ratio_total", "version", "intflow",
         "inttime"],
)
def test_fresh_instrument_reads(inst: qk42.Instrument, call: Call, expected: Any) -> None:
    result = call(inst)
    assert result == expected
    assert type(result) is type(expected)


@pytest.mark.parametrize(
    "write, read, expected",
    [
        (lambda i: i.set_setpoint(2, 43.67), lambda i: i.setpoint(2), Reading(43.67, 0)),
        (lambda i: i.set_setpoint(8, -1.5), lambda i: i.setpoint(8), Reading(-1.5, 0)),
        (lambda i: i.set_setpoint(1, 0.001), lambda i: i.setpoint(1), Reading(0.001, 0)),
        (lambda i: i.set_setpoint(5, 12), lambda i: i.setpoint(5), Reading(12.0, 0)),
        (lambda i: i.set_maxflow(3, 250.5, code=4), lambda i: i.maxflow(3), Reading(250.5, 0)),
        (lambda i: i.set_maxflow(8, 1e6, 0), lambda i: i.maxflow(8), Reading(1e6, 0)),
        (lambda i: i.set_unit(2, 3), lambda i: i.unit(2), 3),
        (lambda i: i.set_unit(8, 4), lambda i: i.unit(8), 4),
        (lambda i: i.set_on_off(0xA5), lambda i: i.on_off(), 0xA5),
        (lambda i: i.set_on_off(0xFF), lambda i: i.on_off(), 0xFF),
        (lambda i: i.set_ratio_total(2, 165, 3, 4), lambda i: i.ratio_total(),
         RatioTotal(2, 165, 3, 4)),
        (lambda i: i.set_ratio_total(8, 255, 8, 1), lambda i: i.ratio_total(),
         RatioTotal(8, 255, 8, 1)),
    ],
)
def test_written_value_reads_back(inst: qk42.Instrument, write: Call, read: Call,
                                  expected: Any) -> None:
    assert write(inst) is None
    assert read(inst) == expected


def test_channels_are_kept_apart(inst: qk42.Instrument) -> None:
    for channel in range(1, 9):
        inst.set_setpoint(channel, channel * 10 + 0.5)
        inst.set_unit(channel, (channel - 1) % 4 + 1)
    inst.set_maxflow(6, 66.0, code=1)
    inst.set_on_off(0b0010_0110)  # channels 2, 3 and 6 on
    rows = inst.status()
    assert [tuple(r) for r in rows] == [
        (c, c * 10 + 0.5 if c in (2, 3, 6) else 0.0, c * 10 + 0.5, 66.0 if c == 6 else 100.0,
         (c - 1) % 4 + 1, 0)
        for c in range(1, 9)
    ]
    assert all(isinstance(r, qk42.ChannelStatus) for r in rows)


def test_flow_follows_setpoint_of_an_open_channel(inst: qk42.Instrument) -> None:
    inst.set_setpoint(2, 12.25)
    assert inst.flow(2) == Reading(0.0, 0)
    inst.set_on_off(0b10)
    assert inst.flow(2) == Reading(12.25, 0)
    inst.set_on_off(0)
    assert inst.flow(2) == Reading(0.0, 0)


def _count(raw: bytes) -> int:
    assert len(raw) == 4
    return int(struct.unpack("<I", raw)[0])


def test_integration_start_stop_reset(inst: qk42.Instrument) -> None:
    inst.set_setpoint(1, 60.0)
    inst.set_on_off(0b1)
    inst.integration("start")
    time.sleep(0.15)
    inst.integration("stop")
    flow, elapsed = _count(inst.intflow(1)), _count(inst.inttime())
    assert elapsed >= 150
    assert flow == pytest.approx(elapsed, abs=2)  # 60 per minute is 1000 a minute: 1 a ms
    assert _count(inst.intflow(2)) == 0  # closed channel
    time.sleep(0.05)
    assert (_count(inst.intflow(1)), _count(inst.inttime())) == (flow, elapsed)  # stopped
    inst.integration("reset")
    assert (inst.intflow(1), inst.inttime()) == (bytes(4), bytes(4))
    inst.integration(1)  # start by number, as the client allows
    time.sleep(0.02)
    inst.integration(3)
    inst.integration(0x7F)  # unknown codes are acknowledged
    assert _count(inst.inttime()) < 20


@pytest.mark.parametrize(
    "call, request_bytes, reply_bytes",
    [
        (lambda l: l.instrument(1).flow(2), "8301", "0000000000"),
        (lambda l: l.instrument(1).maxflow(1), "8500", "000000c842"),
        (lambda l: l.instrument(3).setpoint(8), "a407", "0000000000"),
        (lambda l: l.instrument(1).unit(2), "8201", "00"),
        (lambda l: l.instrument(1).set_unit(2, 3), "810102", "01"),
        (lambda l: l.instrument(1).set_setpoint(1, 1.0), "8e00040000003f", "0e"),
        (lambda l: l.instrument(1).integration("start"), "8801", "08"),
        (lambda l: l.instrument(1).integration("stop"), "8802", "08"),
        (lambda l: l.instrument(1).integration("reset"), "8803", "08"),
        (lambda l: l.instrument(1).integration(127), "887f", "08"),
        (lambda l: l.instrument(1).set_ratio_mode(2), "8d02", "0d"),
        (lambda l: l.instrument(1).set_on_off(0xA5), "8c0a05", "0c"),
        (lambda l: l.instrument(1).set_display(True, False), "8006", "0006020000"),
        (lambda l: l.instrument(1).set_display(False, True), "8005", "0005010000"),
        (lambda l: l.instrument(1).set_key_lock(True), "8030", "0030000100"),
        (lambda l: l.instrument(1).set_key_lock(False), "8020", "0020000000"),
        (lambda l: l.instrument(1).version(), "8000", "312e32430801"),
    ],
)
@pytest.mark.parametrize("qk42_simulator", [{"addresses": (1, 3)}], indirect=True)
def test_bytes_on_the_line(line: qk42.Line, exchanges: List[Tuple[bytes, bytes]],
                           call: Callable[[qk42.Line], Any], request_bytes: str,
                           reply_bytes: str) -> None:
    call(line)
    assert [(q.hex(), r.hex()) for q, r in exchanges] == [(request_bytes, reply_bytes)]


@pytest.mark.parametrize("qk42_simulator", [{"addresses": (1, 3)}], indirect=True)
def test_instruments_on_one_line_are_separate(line: qk42.Line) -> None:
    first, third = line.instrument(1), line.instrument(3)
    third.set_setpoint(4, 7.5)
    first.set_setpoint(4, 2.5)
    assert (first.setpoint(4).value, third.setpoint(4).value) == (2.5, 7.5)
    line.reply_timeout = 0.05
    with pytest.raises(qk42.NoReply):
        line.instrument(2).version()


@pytest.mark.parametrize("qk42_simulator", [{"tcp": True}], indirect=True)
def test_every_kind_of_call_over_tcp(qk42_simulator: Any, line: qk42.Line) -> None:
    assert qk42_simulator.device.startswith("tcp://127.0.0.1:")
    inst = line.instrument(1)
    inst.set_on_off(0x0F)
    inst.set_setpoint(2, 40.0)
    inst.set_maxflow(2, 80.0, code=2)
    inst.set_unit(2, 2)
    inst.set_ratio_total(2, 165, 3, 4)
    inst.set_display(True, True)
    inst.set_key_lock(False)
    inst.integration("reset")
    assert inst.flow(2) == Reading(40.0, 0)
    assert inst.maxflow(2) == Reading(80.0, 0)
    assert (inst.unit(2), inst.on_off(), inst.ratio_total()) == (2, 0x0F, RatioTotal(2, 165, 3, 4))
    assert inst.version().kind == "C"
    assert len(inst.status()) == 8
