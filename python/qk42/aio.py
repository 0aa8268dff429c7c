"""The package for asyncio: the same lines and instruments, their calls as coroutines.

    import asyncio
    import qk42.aio

    async def main():
        async with qk42.aio.open("/dev/ttyUSB0") as line:   # or: line = await qk42.aio.open(...)
            inst = line.instrument(1)
            print(await inst.flow(2))                         # Reading(value=40.0, status=0)
            print(await asyncio.gather(*(inst.flow(c) for c in range(1, 9))))

    asyncio.run(main())

Each line has a thread of its own that runs its exchanges through the synchronous package, so
the event loop never waits on the line: a call waiting out its reply time-out delays no other
coroutine, and lines run at the same time. On one line the calls run one at a time, in the
order they were made. Results and exceptions are those of :class:`qk42.Instrument`.

Cancelling a call (or its time-out in ``asyncio.wait_for``) before its exchange started sends
nothing; during its exchange, the exchange finishes on the line and its result is dropped.
Closing a line fails the calls still waiting with :class:`qk42.LineClosed`, after the one in
flight has finished.
"""

from __future__ import annotations

import asyncio
import queue
import threading
import weakref
from typing import Any, Callable, Dict, Generator, List, Optional, TypeVar, Union

from . import _checks
from .instrument import Instrument as _SyncInstrument
from .line import DeviceName, Trace
from .line import Line as _SyncLine
from .results import ChannelStatus, RatioTotal, Reading, Version

__all__ = ["open", "Line", "Instrument"]

T = TypeVar("T")

_QUEUED, _RUNNING, _DROPPED = range(3)


class _Job:
    """One call for a line's thread: `function(*args)`, its result for `future` on `loop`
    (none for a setting, which nobody awaits)."""

    __slots__ = ("function", "args", "loop", "future", "state")

    def __init__(self, function: Callable[..., Any], args: tuple[Any, ...],
                 loop: Optional[asyncio.AbstractEventLoop],
                 future: Optional[asyncio.Future[Any]]) -> None:
        self.function = function
        self.args = args
        self.loop = loop
        self.future = future
        self.state = _QUEUED


# Put on a line's queue: the thread closes the line and ends.
_END = _Job(lambda: None, (), None, None)


def _settle(future: asyncio.Future[Any], result: Any, error: Optional[BaseException]) -> None:
    if future.done():  # cancelled while its exchange ran: the result is dropped
        return
    if error is None:
        future.set_result(result)
    else:
        future.set_exception(error)


def _deliver(job: _Job, result: Any, error: Optional[BaseException]) -> None:
    if job.loop is None or job.future is None:
        return
    try:
        job.loop.call_soon_threadsafe(_settle, job.future, result, error)
    except RuntimeError:  # the loop was closed: nobody is waiting any more
        pass


def _serve(device: DeviceName, jobs: queue.SimpleQueue[_Job], lock: threading.Lock,
           pending: Dict[_Job, None], opening: _Job) -> None:
    """A line's thread: opens the line, then runs its jobs in turn until _END. It holds the
    queue and the synchronous line, never the asyncio Line, so that one nobody closed can be
    collected (its finalizer sends _END)."""
    try:
        line = _SyncLine(device)
    except BaseException as e:  # noqa: B036 - the opener raises it
        _deliver(opening, None, e)
        return
    _deliver(opening, line, None)
    del opening
    try:
        while True:
            job = jobs.get()
            if job is _END:
                return
            with lock:
                # A call cancelled while it waited is skipped: nothing goes on the line.
                if job.state is not _QUEUED or (job.future is not None
                                                and job.future.cancelled()):
                    continue
                job.state = _RUNNING
                pending.pop(job, None)
            try:
                _deliver(job, job.function(*job.args), None)
            except BaseException as e:  # noqa: B036 - the caller raises it
                _deliver(job, None, e)
            del job  # not kept alive while the thread waits for the next
    finally:
        line.close()


class Line:
    """An open line for asyncio, made by ``await qk42.aio.open(device)``.

    ``line.instrument(address)`` gives the instrument at an address (1 to 8). ``await
    line.close()`` waits for the call in flight, fails the calls still waiting with
    :class:`qk42.LineClosed` and closes the line; closing twice is fine.

    ``reply_timeout`` and ``trace`` are those of :class:`qk42.Line`; a new value applies to
    the calls made after it is set. The trace runs on the line's thread, not on the event
    loop: to hand its bytes to the loop use ``loop.call_soon_threadsafe``.
    """

    def __init__(self, device: str, sync: _SyncLine, jobs: queue.SimpleQueue[_Job],
                 lock: threading.Lock, pending: Dict[_Job, None]) -> None:
        # Made by open(): the line is open and its thread runs.
        self.device = device
        self._sync = sync
        self._jobs = jobs
        self._lock = lock
        self._pending = pending
        self._closed = False
        self._closing: Optional[asyncio.Future[None]] = None
        self._trace: Optional[Trace] = None
        self._reply_timeout = sync.reply_timeout
        self._finalizer = weakref.finalize(self, jobs.put, _END)

    @classmethod
    async def _open(cls, device: DeviceName) -> Line:
        loop = asyncio.get_running_loop()
        jobs: queue.SimpleQueue[_Job] = queue.SimpleQueue()
        lock = threading.Lock()
        pending: Dict[_Job, None] = {}
        opening = _Job(_SyncLine, (device,), loop, loop.create_future())
        thread = threading.Thread(target=_serve, args=(device, jobs, lock, pending, opening),
                                  name=f"qk42.aio line {device}", daemon=True)
        thread.start()
        assert opening.future is not None
        try:
            sync: _SyncLine = await opening.future
        except asyncio.CancelledError:
            jobs.put(_END)  # the thread closes the line should it still open
            raise
        return cls(sync.device, sync, jobs, lock, pending)

    # --- lifetime ------------------------------------------------------------------------

    @property
    def closed(self) -> bool:
        """True once close() was called."""
        return self._closed

    async def close(self) -> None:
        """Fails the calls still waiting with qk42.LineClosed (nothing of theirs is sent),
        waits for the call in flight, and closes the line."""
        if self._closing is None:
            loop = asyncio.get_running_loop()
            with self._lock:
                self._closed = True
                waiting = list(self._pending)
                self._pending.clear()
                for job in waiting:
                    job.state = _DROPPED
            error = self._sync._closed_error
            for job in waiting:
                _deliver(job, None, error())
            self._finalizer.detach()
            closing = _Job(self._sync.close, (), loop, loop.create_future())
            self._jobs.put(closing)
            self._jobs.put(_END)
            assert closing.future is not None
            self._closing = closing.future
        # Shielded: a close that is itself cancelled still closes the line.
        await asyncio.shield(self._closing)

    async def __aenter__(self) -> Line:
        return self

    async def __aexit__(self, *exc_info: object) -> None:
        await self.close()

    def __repr__(self) -> str:
        return f"<qk42.aio.Line {self.device!r} {'closed' if self.closed else 'open'}>"

    def instrument(self, address: int) -> Instrument:
        """The instrument at `address` (1 to 8) on this line."""
        return Instrument(self, address)

    # --- settings ------------------------------------------------------------------------

    @property
    def reply_timeout(self) -> float:
        """Seconds to wait for a reply, 0.05 to 10 (default 0.5)."""
        return self._reply_timeout

    @reply_timeout.setter
    def reply_timeout(self, seconds: float) -> None:
        value = _checks.reply_timeout(seconds)
        self._setting("reply_timeout", value)
        self._reply_timeout = value

    @property
    def trace(self) -> Optional[Trace]:
        """None, or trace(request: bytes, reply: bytes) called after every exchange."""
        return self._trace

    @trace.setter
    def trace(self, callback: Optional[Trace]) -> None:
        if callback is not None and not callable(callback):
            raise TypeError(f"trace must be callable or None, not {type(callback).__name__}")
        if callback is None and self._closed:
            self._trace = None
            return
        self._setting("trace", callback)
        self._trace = callback

    def _setting(self, name: str, value: object) -> None:
        # Set on the line's thread in turn with the calls: the synchronous line would make
        # the loop wait for the call in flight.
        with self._lock:
            if self._closed:
                raise self._sync._closed_error()
            self._jobs.put(_Job(setattr, (self._sync, name, value), None, None))

    # --- calls ---------------------------------------------------------------------------

    async def _run(self, function: Callable[..., T], *args: object) -> T:
        """`function(*args)` on the line's thread, in turn with the other calls."""
        loop = asyncio.get_running_loop()
        future: asyncio.Future[T] = loop.create_future()
        job = _Job(function, args, loop, future)
        with self._lock:
            if self._closed:
                raise self._sync._closed_error()
            self._pending[job] = None
            self._jobs.put(job)
        try:
            return await future
        except asyncio.CancelledError:
            with self._lock:
                if job.state is _QUEUED:
                    job.state = _DROPPED
                    del self._pending[job]
            raise


class Instrument:
    """The instrument at one address of a line, made by :meth:`qk42.aio.Line.instrument`.

    Its methods are those of :class:`qk42.Instrument` as coroutines, with the same arguments,
    results and exceptions; arguments out of range or of the wrong type raise ValueError or
    TypeError before anything is sent.
    """

    def __init__(self, line: Line, address: int) -> None:
        self._sync = _SyncInstrument(line._sync, address)
        self.line = line
        self.address = self._sync.address

    def __repr__(self) -> str:
        return f"<qk42.aio.Instrument {self.address} on {self.line.device!r}>"

    async def flow(self, channel: int) -> Reading:
        """The channel's flow; -1.0 when the instrument flags it invalid."""
        return await self.line._run(self._sync.flow, channel)

    async def setpoint(self, channel: int) -> Reading:
        """The channel's setpoint."""
        return await self.line._run(self._sync.setpoint, channel)

    async def maxflow(self, channel: int) -> Reading:
        """The channel's maximum flow."""
        return await self.line._run(self._sync.maxflow, channel)

    async def unit(self, channel: int) -> int:
        """The channel's unit, 1 to 4."""
        return await self.line._run(self._sync.unit, channel)

    async def set_unit(self, channel: int, unit: int) -> None:
        """Sets the channel's unit (1 to 4)."""
        await self.line._run(self._sync.set_unit, channel, unit)

    async def set_setpoint(self, channel: int, setpoint: float) -> None:
        """Sets the channel's setpoint (a finite number, held as a 32-bit float)."""
        await self.line._run(self._sync.set_setpoint, channel, setpoint)

    async def set_maxflow(self, channel: int, maxflow: float, code: int) -> None:
        """Sets the channel's maximum flow and its code (0 to 4)."""
        await self.line._run(self._sync.set_maxflow, channel, maxflow, code)

    async def intflow(self, channel: int) -> bytes:
        """The channel's integrated flow: 4 bytes as the instrument sent them."""
        return await self.line._run(self._sync.intflow, channel)

    async def inttime(self) -> bytes:
        """The integration time: 4 bytes as the instrument sent them."""
        return await self.line._run(self._sync.inttime)

    async def integration(self, control: Union[str, int]) -> None:
        """Controls integration: "start", "stop", "reset" (codes 1, 2, 3) or a code 0 to 127."""
        await self.line._run(self._sync.integration, control)

    async def ratio_total(self) -> RatioTotal:
        """The ratio/total configuration."""
        return await self.line._run(self._sync.ratio_total)

    async def set_ratio_total(self, channel: int, value: int, channel2: int,
                              channel3: int) -> None:
        """Sets the ratio/total configuration: channels 1 to 8, value 0 to 255."""
        await self.line._run(self._sync.set_ratio_total, channel, value, channel2, channel3)

    async def set_ratio_mode(self, mode: int) -> None:
        """Sets the ratio/total mode, 0 to 2."""
        await self.line._run(self._sync.set_ratio_mode, mode)

    async def on_off(self) -> int:
        """The on/off state: bit (channel - 1) set for each channel that is on."""
        return await self.line._run(self._sync.on_off)

    async def set_on_off(self, state: int) -> None:
        """Sets the on/off state of all channels at once (0 to 255, bit (channel - 1))."""
        await self.line._run(self._sync.set_on_off, state)

    async def version(self) -> Version:
        """The instrument's version text, its number, kind ("M" or "C") and information."""
        return await self.line._run(self._sync.version)

    async def set_display(self, flag1: bool, flag2: bool) -> None:
        """Sets the two display flags."""
        await self.line._run(self._sync.set_display, flag1, flag2)

    async def set_key_lock(self, locked: bool) -> None:
        """Locks (True) or unlocks (False) the instrument's keys."""
        await self.line._run(self._sync.set_key_lock, locked)

    async def status(self) -> List[ChannelStatus]:
        """All eight channels: flow, setpoint, maximum flow, unit and the flow's status.
        Its 32 exchanges are calls of their own, so a cancelled status() stops after the
        exchange in flight."""
        rows = []
        for channel in range(1, 9):
            flow = await self.flow(channel)
            setpoint = await self.setpoint(channel)
            maxflow = await self.maxflow(channel)
            rows.append(ChannelStatus(channel, flow.value, setpoint.value, maxflow.value,
                                      await self.unit(channel), flow.status))
        return rows


class _Opening:
    """What open() returns: awaited, the open line; in ``async with``, the line, closed on
    leaving."""

    def __init__(self, device: DeviceName) -> None:
        self._device = device
        self._line: Optional[Line] = None

    def __await__(self) -> Generator[Any, None, Line]:
        return Line._open(self._device).__await__()

    async def __aenter__(self) -> Line:
        self._line = await Line._open(self._device)
        return self._line

    async def __aexit__(self, *exc_info: object) -> None:
        if self._line is not None:
            await self._line.close()


def open(device: DeviceName) -> _Opening:  # noqa: A001 - the package's verb, as in qk42.open
    """Opens the line `device` names, as :func:`qk42.open` does, off the event loop: ``line =
    await qk42.aio.open(device)``, or ``async with qk42.aio.open(device) as line:``, which
    closes it on leaving. Raises what qk42.open raises."""
    return _Opening(device)

