"""qk42.aio against qk42rt-sim: every method as the synchronous package answers it, the loop
kept free while a line waits, lines in parallel, calls on one line in turn and in order (the
simulator's transcript says what reached it), cancellation, and closing with calls queued.

Coroutines run with asyncio.run; bounds on time are generous, so that only a line held up by
another, or calls run one after the other, break them."""

from __future__ import annotations

import asyncio
import contextlib
import gc
import re
import threading
import time
from pathlib import Path
from typing import Any, Awaitable, Callable, Iterator, List, Tuple, TypeVar

import pytest

import qk42
import qk42.aio
from qk42.testing import Simulator

T = TypeVar("T")

TRANSCRIPT = ["--transcript", "-"]


def run(coroutine: Awaitable[T]) -> T:
    """Runs a test's coroutine; one that hangs fails after 60 s instead of hanging CI."""
    return asyncio.run(asyncio.wait_for(coroutine, 60))  # type: ignore[arg-type]


def transcript(sim: Simulator, requests: int) -> List[Tuple[str, str]]:
    """The simulator's (rx|tx, hex) lines once it logged `requests` requests (5 s at most)."""
    pattern = re.compile(r"^\s*\d+\.\d+ (rx|tx) ([0-9A-F ]+?)(?:  \(.*\))?$")
    deadline = time.monotonic() + 5
    while True:
        lines = [m.groups() for m in map(pattern.match, sim.output) if m]
        if sum(kind == "rx" for kind, _ in lines) >= requests or time.monotonic() > deadline:
            return [(kind, text.lower()) for kind, text in lines]
        time.sleep(0.02)


@contextlib.contextmanager
def simulators(count: int, **options: Any) -> Iterator[List[Simulator]]:
    with contextlib.ExitStack() as stack:
        yield [stack.enter_context(Simulator(**options)) for _ in range(count)]


# Every method, with arguments that succeed and ones that fail before or on the line.
CALLS: List[Tuple[str, Tuple[Any, ...]]] = [
    ("set_setpoint", (2, 43.67)),
    ("setpoint", (2,)),
    ("set_on_off", (0x0F,)),
    ("flow", (2,)),
    ("on_off", ()),
    ("set_maxflow", (3, 250.5, 4)),
    ("maxflow", (3,)),
    ("set_unit", (4, 3)),
    ("unit", (4,)),
    ("integration", ("start",)),
    ("integration", (2,)),
    ("intflow", (1,)),
    ("inttime", ()),
    ("set_ratio_total", (2, 165, 3, 4)),
    ("ratio_total", ()),
    ("set_ratio_mode", (1,)),
    ("version", ()),
    ("set_display", (True, False)),
    ("set_key_lock", (1,)),
    ("status", ()),
    ("flow", (9,)),                    # ValueError from the library's range check
    ("set_unit", (1, "2")),            # TypeError
    ("set_setpoint", (1, float("nan"))),
    ("integration", ("pause",)),
]


def outcome(call: Callable[[], Any]) -> Any:
    try:
        return ("ok", call())
    except Exception as e:  # compared with what the other package raised
        return ("raised", type(e), str(e))


def test_every_method_answers_as_the_sync_package() -> None:
    with simulators(2) as (sync_sim, aio_sim):
        sync_seen: List[Tuple[bytes, bytes]] = []
        with qk42.open(sync_sim.device) as line:
            line.trace = lambda request, reply: sync_seen.append((request, reply))
            inst = line.instrument(1)
            expected = [outcome(lambda: getattr(inst, name)(*args)) for name, args in CALLS]
            expected.append(outcome(lambda: line.instrument(2).flow(1)))  # nobody at address 2

        async def main() -> Tuple[List[Any], List[Tuple[bytes, bytes]]]:
            seen: List[Tuple[bytes, bytes]] = []
            results = []
            async with qk42.aio.open(aio_sim.device) as line:
                line.trace = lambda request, reply: seen.append((request, reply))
                line.reply_timeout = 0.1
                inst = line.instrument(1)
                for name, args in CALLS:
                    method = getattr(inst, name)
                    assert asyncio.iscoroutinefunction(method), name
                    results.append(await aoutcome(method(*args)))
                results.append(await aoutcome(line.instrument(2).flow(1)))
            return results, seen

        async def aoutcome(call: Awaitable[Any]) -> Any:
            try:
                return ("ok", await call)
            except Exception as e:
                return ("raised", type(e), str(e).replace("100 ms", "500 ms"))

        got, aio_seen = run(main())
    assert got == expected
    assert [type(r[1]) for r in got] == [type(r[1]) for r in expected]
    assert aio_seen == sync_seen


def test_ticker_keeps_its_beat_while_another_line_waits_for_no_reply() -> None:
    with simulators(2) as (sim_a, sim_b):

        async def main() -> Tuple[float, bool]:
            async with qk42.aio.open(sim_a.device) as silent, qk42.aio.open(sim_b.device) as line:
                waiting = asyncio.ensure_future(silent.instrument(2).flow(1))  # never answered
                gaps: List[float] = []

                async def ticker() -> None:
                    last = time.monotonic()
                    while not waiting.done():
                        await asyncio.sleep(0.01)
                        now = time.monotonic()
                        gaps.append(now - last)
                        last = now

                beat = asyncio.ensure_future(ticker())
                await line.instrument(1).set_setpoint(1, 5.0)  # the other line is not held up
                answered_first = not waiting.done()
                with pytest.raises(qk42.NoReply):
                    await waiting
                await beat
                return max(gaps), answered_first

        worst, answered_first = run(main())
    assert answered_first
    assert worst < 0.25  # a loop blocked by the no-reply wait would show a gap of 500 ms


def test_eight_lines_gathered_take_about_the_time_of_one() -> None:
    with simulators(8) as sims:

        async def main() -> float:
            lines = [await qk42.aio.open(sim.device) for sim in sims]
            try:
                start = time.monotonic()
                # Address 2 is not simulated: every call waits out its 500 ms.
                outcomes = await asyncio.gather(*(line.instrument(2).flow(1) for line in lines),
                                                return_exceptions=True)
                elapsed = time.monotonic() - start
            finally:
                await asyncio.gather(*(line.close() for line in lines))
            assert [type(e) for e in outcomes] == [qk42.NoReply] * 8
            return elapsed

        elapsed = run(main())
    assert elapsed < 2.0  # one after the other they take 4 s


def test_hundred_tasks_reach_the_instrument_one_at_a_time_in_order() -> None:
    calls = [((i % 8) + 1, float(i)) for i in range(100)]
    with Simulator() as plain, qk42.open(plain.device) as reference:
        requests: List[str] = []
        reference.trace = lambda request, reply: requests.append(request.hex(" "))
        for channel, value in calls:
            reference.instrument(1).set_setpoint(channel, value)

    with Simulator(options=TRANSCRIPT) as sim:

        async def main() -> None:
            async with qk42.aio.open(sim.device) as line:
                inst = line.instrument(1)
                await asyncio.gather(*(inst.set_setpoint(c, v) for c, v in calls))
                last = dict(calls)
                assert [await inst.setpoint(c) for c in range(1, 9)] == [
                    qk42.Reading(last[c], 0) for c in range(1, 9)]

        run(main())
        lines = transcript(sim, 108)
    assert [kind for kind, _ in lines] == ["rx", "tx"] * 108  # each answered before the next
    assert [text for kind, text in lines if kind == "rx"][:100] == requests


def test_call_cancelled_before_its_exchange_sends_nothing() -> None:
    with Simulator(options=TRANSCRIPT) as sim:

        async def main() -> None:
            async with qk42.aio.open(sim.device) as line:
                inst = line.instrument(1)
                blocking = asyncio.ensure_future(line.instrument(2).flow(1))  # 500 ms, no reply
                queued = asyncio.ensure_future(inst.set_setpoint(1, 7.0))
                await asyncio.sleep(0)
                queued.cancel()
                with pytest.raises(asyncio.TimeoutError):
                    await asyncio.wait_for(inst.set_setpoint(2, 8.0), 0.05)
                with pytest.raises(asyncio.CancelledError):
                    await queued
                assert await inst.setpoint(3) == qk42.Reading(0.0, 0)
                with pytest.raises(qk42.NoReply):
                    await blocking

        run(main())
        lines = transcript(sim, 2)
    # The call to address 2 and the setpoint read; neither setting reached the line.
    assert [text for kind, text in lines if kind == "rx"] == ["93 00", "84 02"]


def test_call_cancelled_during_its_exchange_lets_it_finish() -> None:
    # The flow reading's reply comes 1 s late, within the reply time-out of 2 s.
    with Simulator(options=TRANSCRIPT, faults=["late-reply:code=0x3,count=1,delay=1000"]) as sim:

        async def main() -> List[Tuple[bytes, bytes]]:
            seen: List[Tuple[bytes, bytes]] = []
            async with qk42.aio.open(sim.device) as line:
                line.reply_timeout = 2.0
                line.trace = lambda request, reply: seen.append((request, reply))
                inst = line.instrument(1)
                await inst.set_setpoint(2, 12.5)
                reading = asyncio.ensure_future(inst.flow(2))
                assert await asyncio.to_thread(sim.wait_for_output, "rx 83 01")
                reading.cancel()
                with pytest.raises(asyncio.CancelledError):
                    await reading
                # The next call gets its own reply, not the late one of the cancelled call.
                assert await inst.setpoint(2) == qk42.Reading(12.5, 0)
                assert await inst.flow(2) == qk42.Reading(0.0, 0)
            return seen

        seen = run(main())
        lines = transcript(sim, 4)
    # The cancelled reading's exchange ran to its end: its reply came, late, and was taken.
    assert [request.hex(" ") for request, _ in seen][1:] == ["83 01", "84 01", "83 01"]
    assert [len(reply) for _, reply in seen] == [1, 5, 5, 5]
    assert [kind for kind, _ in lines] == ["rx", "tx"] * 4


def test_close_fails_the_queued_calls_after_the_one_in_flight() -> None:
    with Simulator(options=TRANSCRIPT) as sim:

        async def main() -> None:
            line = await qk42.aio.open(sim.device)
            inst = line.instrument(1)
            in_flight = asyncio.ensure_future(line.instrument(2).flow(1))  # waits 500 ms
            queued = [asyncio.ensure_future(inst.set_setpoint(c, 1.0)) for c in (1, 2, 3)]
            assert await asyncio.to_thread(sim.wait_for_output, "rx 93 00")
            await line.close()
            assert in_flight.done() and line.closed and "closed" in repr(line)
            with pytest.raises(qk42.NoReply):
                await in_flight
            for call in queued:
                with pytest.raises(qk42.LineClosed, match="close"):
                    await call
            with pytest.raises(qk42.LineClosed):
                await inst.flow(1)
            with pytest.raises(qk42.LineClosed):
                line.reply_timeout = 1.0
            with pytest.raises(qk42.LineClosed):
                line.trace = print
            line.trace = None
            await line.close()  # closing twice is fine
            # Opened exclusively: opening again proves the first was closed.
            async with qk42.aio.open(sim.device) as again:
                assert await again.instrument(1).setpoint(1) == qk42.Reading(0.0, 0)

        run(main())
        lines = transcript(sim, 2)
    assert [text for kind, text in lines if kind == "rx"] == ["93 00", "84 00"]


def test_settings_are_checked_at_once_and_apply_to_the_calls_after_them() -> None:
    with Simulator() as sim:

        async def main() -> float:
            async with qk42.aio.open(sim.device) as line:
                with pytest.raises(ValueError, match="0.05 to 10"):
                    line.reply_timeout = 11
                with pytest.raises(TypeError):
                    line.reply_timeout = "1"  # type: ignore[assignment]
                with pytest.raises(TypeError):
                    line.trace = 3  # type: ignore[assignment]
                with pytest.raises(ValueError):
                    line.instrument(9)
                line.reply_timeout = 0.05
                assert line.reply_timeout == 0.05
                start = time.monotonic()
                with pytest.raises(qk42.NoReply, match="50 ms"):
                    await line.instrument(2).flow(1)
                return time.monotonic() - start

        assert run(main()) < 0.4


def test_open_failures_and_an_unclosed_line(tmp_path: Path) -> None:
    threads = threading.active_count()

    async def fail(device: Any) -> None:
        await qk42.aio.open(device)

    with pytest.raises(qk42.CannotOpen):
        run(fail(str(tmp_path / "missing")))
    with pytest.raises(TypeError):
        run(fail(42))
    with Simulator() as sim:

        async def forget() -> None:
            line = await qk42.aio.open(sim.device)
            await line.instrument(1).set_setpoint(1, 2.0)

        run(forget())
        gc.collect()
        # Collected unclosed: its thread closes the line, which another may then open.
        assert sim.wait_for_output("line hung up")
        with qk42.open(sim.device) as again:
            assert again.instrument(1).setpoint(1).value == 2.0
    deadline = time.monotonic() + 5
    while threading.active_count() > threads and time.monotonic() < deadline:
        time.sleep(0.02)
    assert threading.active_count() <= threads  # no line's thread left behind
