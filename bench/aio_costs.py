#!/usr/bin/env python3
"""What qk42.aio costs and gains: aio_costs.py [--calls N] [--rounds R]

1. The time qk42.aio adds to a call: `await inst.flow(1)` against the synchronous
   `inst.flow(1)` on the same simulator (unpaced, so that the line's time does not hide the
   package's), in five alternating rounds of N calls each: the median call of each, and the
   mean over all calls (which counts the machine's hiccups too).
2. Eight lines read at once against one after the other: eight simulators at the pace of a
   9600 baud line (--pace), so that the line's time dominates as on real hardware; R rounds
   of a flow reading on each line, gathered, against the same readings awaited in turn.

Prints a Markdown table. Needs QK42_LIBRARY and QK42RT_SIM (or qk42rt-sim on PATH) and the
package on PYTHONPATH, as scripts/bench.sh sets them.
"""

from __future__ import annotations

import argparse
import asyncio
import contextlib
import statistics
import time
from typing import Callable, List

import qk42
import qk42.aio
from qk42.testing import Simulator

TARGET_ADDED_US = 50.0
TARGET_RATIO = 0.2


def sync_round(device: str, calls: int) -> List[int]:
    """Nanoseconds of each of `calls` synchronous flow readings."""
    times = []
    with qk42.open(device) as line:
        inst = line.instrument(1)
        inst.flow(1)
        for _ in range(calls):
            start = time.perf_counter_ns()
            inst.flow(1)
            times.append(time.perf_counter_ns() - start)
    return times


async def aio_round(device: str, calls: int) -> List[int]:
    """Nanoseconds of each of `calls` awaited qk42.aio flow readings."""
    times = []
    async with qk42.aio.open(device) as line:
        inst = line.instrument(1)
        await inst.flow(1)
        for _ in range(calls):
            start = time.perf_counter_ns()
            await inst.flow(1)
            times.append(time.perf_counter_ns() - start)
    return times


async def eight_lines(devices: List[str], rounds: int) -> tuple[float, float]:
    """Seconds for `rounds` readings of every line one after the other, then gathered."""
    sequential: List[float] = []
    concurrent: List[float] = []
    async with contextlib.AsyncExitStack() as stack:
        lines = [await stack.enter_async_context(qk42.aio.open(d)) for d in devices]
        insts = [line.instrument(1) for line in lines]
        await asyncio.gather(*(inst.flow(1) for inst in insts))
        for _ in range(rounds):
            start = time.perf_counter()
            for inst in insts:
                await inst.flow(1)
            sequential.append(time.perf_counter() - start)
            start = time.perf_counter()
            await asyncio.gather(*(inst.flow(1) for inst in insts))
            concurrent.append(time.perf_counter() - start)
    return statistics.median(sequential), statistics.median(concurrent)


def verdict(ok: bool) -> str:
    return "met" if ok else "missed"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--calls", type=int, default=2000, help="calls per round (part 1)")
    parser.add_argument("--rounds", type=int, default=100, help="rounds of eight (part 2)")
    args = parser.parse_args()

    with Simulator(time_constant=0.0) as sim:
        sync: List[int] = []
        aio: List[int] = []
        rounds: List[Callable[[], None]] = [
            lambda: sync.extend(sync_round(sim.device, args.calls)),
            lambda: aio.extend(asyncio.run(aio_round(sim.device, args.calls))),
        ]
        for _ in range(5):
            for measure in rounds:
                measure()
    sync_us, aio_us = statistics.median(sync) / 1e3, statistics.median(aio) / 1e3
    added_us = aio_us - sync_us
    added_mean_us = (statistics.mean(aio) - statistics.mean(sync)) / 1e3

    with contextlib.ExitStack() as stack:
        sims = [stack.enter_context(Simulator(options=["--pace"])) for _ in range(8)]
        one_after_other, gathered = asyncio.run(
            eight_lines([s.device for s in sims], args.rounds))
    ratio = gathered / one_after_other

    print("### qk42.aio against the synchronous package")
    print()
    print("| Measure | Result | Target |")
    print("|---|---|---|")
    print(f"| `inst.flow(1)`, synchronous, unpaced simulator (median of 5 x {args.calls} "
          f"calls) | {sync_us:.0f} µs | |")
    print(f"| `await inst.flow(1)`, qk42.aio, same simulator | {aio_us:.0f} µs | |")
    print(f"| added by qk42.aio per call, median (mean) | {added_us:.0f} µs "
          f"({added_mean_us:.0f} µs) "
          f"| ≤ {TARGET_ADDED_US:.0f} µs: {verdict(added_us <= TARGET_ADDED_US)} |")
    print(f"| eight paced lines (--pace, 9600 baud), one after the other "
          f"(median of {args.rounds}) | {one_after_other * 1e3:.1f} ms | |")
    print(f"| the same eight readings gathered | {gathered * 1e3:.1f} ms | |")
    print(f"| gathered / one after the other | {ratio:.2f} "
          f"| ≤ {TARGET_RATIO}: {verdict(ratio <= TARGET_RATIO)} |")


if __name__ == "__main__":
    main()
