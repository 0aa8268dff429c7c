"""The line as a Python object: closing (by hand, by `with`, by the garbage collector), the
trace and what happens when it raises, the reply time-out, and use from several threads."""

from __future__ import annotations

import gc
import threading
import time
import warnings
from typing import Any, List, Tuple

import pytest

import qk42
from qk42.testing import Simulator


def test_leaving_with_closes_the_line(qk42_simulator: Simulator) -> None:
    with qk42.open(qk42_simulator.device) as line:
        inst = line.instrument(1)
        inst.set_setpoint(1, 3.0)
        assert not line.closed
    assert line.closed
    assert "closed" in repr(line)
    with pytest.raises(qk42.LineClosed, match="close"):
        inst.setpoint(1)
    with pytest.raises(qk42.LineClosed):
        line.reply_timeout = 1.0
    with pytest.raises(qk42.LineClosed):
        line.trace = print
    line.trace = None  # stopping a trace is always fine
    line.close()  # and closing twice
    # Serial lines are opened exclusively: opening again proves the first was closed.
    with qk42.open(qk42_simulator.device) as again:
        assert again.instrument(1).setpoint(1).value == 3.0


def test_unclosed_line_is_closed_when_collected(qk42_simulator: Simulator) -> None:
    line = qk42.open(qk42_simulator.device)
    line.trace = lambda request, reply: None
    with pytest.raises(qk42.CannotOpen):
        qk42.open(qk42_simulator.device)  # held by `line`
    del line
    gc.collect()
    with qk42.open(qk42_simulator.device) as again:
        assert again.instrument(1).on_off() == 0


def test_trace_sees_request_and_reply_bytes(line: qk42.Line) -> None:
    seen: List[Tuple[Any, Any]] = []
    line.trace = lambda request, reply: seen.append((request, reply))
    inst = line.instrument(1)
    inst.flow(2)
    inst.set_on_off(0x0F)
    line.trace = None
    inst.flow(3)
    assert seen == [(b"\x83\x01", b"\x00\x00\x00\x00\x00"), (b"\x8c\x00\x0f", b"\x0c")]
    assert line.trace is None


@pytest.mark.parametrize(
    "fault, reply",
    [("no-reply:code=0x3,count=1", b""), ("short-reply:code=0x3,count=1", b"\x00\x00\x00\x00")],
)
def test_trace_of_a_failed_exchange_has_what_arrived(fault: str, reply: bytes) -> None:
    seen: List[Tuple[bytes, bytes]] = []
    with Simulator(faults=[fault]) as sim, qk42.open(sim.device) as line:
        line.reply_timeout = 0.05
        line.trace = lambda request, got: seen.append((request, got))
        with pytest.raises(qk42.Error):
            line.instrument(1).flow(1)
    assert seen == [(b"\x83\x00", reply)]


def test_trace_that_raises_warns_and_the_call_succeeds(line: qk42.Line) -> None:
    problem = ZeroDivisionError("in the trace")

    def trace(request: bytes, reply: bytes) -> None:
        raise problem

    line.trace = trace
    inst = line.instrument(1)
    with pytest.warns(qk42.TraceWarning, match="ZeroDivisionError") as caught:
        inst.set_setpoint(1, 9.5)
    assert caught[0].filename == __file__  # points at the caller's line
    assert caught[0].message.exception is problem  # type: ignore[union-attr]
    line.trace = None
    assert inst.setpoint(1).value == 9.5  # the setting went through
    line.trace = trace
    with warnings.catch_warnings():
        warnings.simplefilter("error", qk42.TraceWarning)
        with pytest.raises(qk42.TraceWarning):
            inst.on_off()


def test_keyboard_interrupt_in_trace_is_raised_after_the_call(line: qk42.Line) -> None:
    def trace(request: bytes, reply: bytes) -> None:
        raise KeyboardInterrupt

    line.trace = trace
    with pytest.raises(KeyboardInterrupt):
        line.instrument(1).set_on_off(3)
    line.trace = None
    assert line.instrument(1).on_off() == 3


def test_trace_calling_into_its_own_line_is_refused_not_deadlocked(line: qk42.Line) -> None:
    inst = line.instrument(1)
    line.trace = lambda request, reply: inst.on_off()
    with pytest.warns(qk42.TraceWarning, match="RuntimeError") as caught:
        assert inst.on_off() == 0
    assert "must not call into the line" in str(caught[0].message)


def test_reply_timeout_sets_the_wait_for_a_missing_reply() -> None:
    with Simulator(faults=["no-reply:code=0x3"]) as sim, qk42.open(sim.device) as line:
        line.reply_timeout = 0.1
        inst = line.instrument(1)
        start = time.monotonic()
        with pytest.raises(qk42.NoReply, match="100 ms"):
            inst.flow(1)
        assert 0.09 <= time.monotonic() - start < 0.4


def test_threads_share_a_line(line: qk42.Line) -> None:
    inst = line.instrument(1)
    for channel in range(1, 9):
        inst.set_setpoint(channel, channel * 1.5)
    wrong: List[Any] = []

    def read(channel: int) -> None:
        for _ in range(25):
            got = inst.setpoint(channel)
            if got != qk42.Reading(channel * 1.5, 0):
                wrong.append((channel, got))

    threads = [threading.Thread(target=read, args=(c,)) for c in range(1, 9)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=20)
    assert wrong == []


def test_close_waits_for_a_call_in_flight() -> None:
    with Simulator(faults=["no-reply:code=0x3,count=1"]) as sim:
        line = qk42.open(sim.device)
        line.reply_timeout = 0.4
        outcome: List[BaseException] = []

        def read() -> None:
            try:
                line.instrument(1).flow(1)
            except BaseException as e:
                outcome.append(e)

        reader = threading.Thread(target=read)
        reader.start()
        time.sleep(0.1)  # the reader is waiting for its reply
        line.close()
        reader.join(timeout=5)
        assert [type(e) for e in outcome] == [qk42.NoReply]
        assert line.closed


def test_errors_name_their_call_when_threads_fail_at_once() -> None:
    # Each call's message is its own, not the one of a call that ran on another thread since.
    with Simulator(faults=["short-reply:code=0x4"]) as sim, qk42.open(sim.device) as line:
        line.reply_timeout = 0.05
        inst = line.instrument(1)
        messages: List[str] = []

        def fail() -> None:
            for _ in range(5):
                try:
                    inst.setpoint(1)
                except qk42.ShortReply as e:
                    messages.append(str(e))
                inst.flow(1)

        threads = [threading.Thread(target=fail) for _ in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=20)
        assert len(messages) == 15 and all("4 of 5" in m for m in messages), set(messages)
