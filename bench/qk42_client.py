#!/usr/bin/env python3
"""Readings through the Python package qk42, as a user would make them, timed for the benchmark.

Usage: qk42_client.py DEVICE

qk42 must be importable and find libqk42 (the benchmark sets PYTHONPATH and QK42_LIBRARY).
Opens DEVICE once to prove it can, closes it, prints "ready", then answers lines on stdin as
pyserial_client.py does:
  run read_flow COUNT  ->  "done CPU_NS FAILURES WALL_NS..." (one wall time per call)
  quit                 ->  exits
read_flow is inst.flow(1) on the instrument at address 1; a call that raises qk42.Error is a
failure. CPU_NS is the process's user + system time over the COUNT calls.

libqk42 keeps an open line to itself, and the benchmark's own libqk42 handle takes turns on the
same line: each run opens the line, makes its calls and closes the line again. Opening and
closing are outside the times.
"""
import sys
import time

import qk42


def read_flow(inst):
    return inst.flow(1)


OPERATIONS = {"read_flow": read_flow}


def run(device, operation, count):
    walls = []
    failures = 0
    with qk42.open(device) as line:
        inst = line.instrument(1)
        cpu_start = time.process_time_ns()
        for _ in range(count):
            start = time.perf_counter_ns()
            try:
                operation(inst)
            except qk42.Error:
                failures += 1
            walls.append(time.perf_counter_ns() - start)
        cpu = time.process_time_ns() - cpu_start
    return cpu, failures, walls


def main():
    device = sys.argv[1]
    qk42.open(device).close()
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words or words[0] == "quit":
            break
        cpu, failures, walls = run(device, OPERATIONS[words[1]], int(words[2]))
        print("done", cpu, failures, *walls, flush=True)


if __name__ == "__main__":
    main()
