#!/usr/bin/env python3
"""The benchmark's Python contenders: python_clients.py pyserial|qk42 DEVICE

pyserial: the exchange as a user scripts it (9600 8N1, 500 ms read time-out, the line open
throughout); a call fails when its reply is short. qk42: inst.flow(1) on address 1 through the
Python package qk42, which opens the line for each run, as libqk42 claims it for itself; a call
fails when it raises qk42.Error.

Prints "ready" once it has the line, then answers "run COUNT [REQUEST_HEX REPLY_LENGTH]" with
"done CPU_NS FAILURES WALL_NS...": its user + system time over the calls, then one wall time per
call. Ends at "quit" or at the end of its input.
"""
import sys
import time


def timed(call, count):
    walls, failures = [], 0
    cpu_start = time.process_time_ns()
    for _ in range(count):
        start = time.perf_counter_ns()
        answered = call()
        walls.append(time.perf_counter_ns() - start)
        failures += not answered
    return time.process_time_ns() - cpu_start, failures, walls


def pyserial_runs(device):
    import serial

    port = serial.Serial(device, 9600, bytesize=8, parity="N", stopbits=1, timeout=0.5)

    def run(count, request_hex, reply_length):
        request, length = bytes.fromhex(request_hex), int(reply_length)

        def exchange():
            port.reset_input_buffer()
            port.write(request)
            return len(port.read(length)) == length

        return timed(exchange, count)

    return run


def qk42_runs(device):
    import qk42

    qk42.open(device).close()

    def run(count):
        with qk42.open(device) as line:
            inst = line.instrument(1)

            def flow():
                try:
                    return inst.flow(1) is not None
                except qk42.Error:
                    return False

            return timed(flow, count)

    return run


def main():
    run = {"pyserial": pyserial_runs, "qk42": qk42_runs}[sys.argv[1]](sys.argv[2])
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if words[:1] != ["run"]:
            break
        cpu, failures, walls = run(int(words[1]), *words[2:])
        print("done", cpu, failures, *walls, flush=True)


if __name__ == "__main__":
    main()
