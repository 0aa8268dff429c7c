#!/usr/bin/env python3
"""The QK42 exchanges as a user would script them on pyserial, timed for the benchmark.

Usage: pyserial_client.py DEVICE

Opens DEVICE (9600 8N1, 500 ms read time-out), prints "ready", then answers lines on stdin:
  run OPERATION COUNT  ->  "done CPU_NS FAILURES WALL_NS..." (one wall time per call)
  quit                 ->  exits
OPERATION is read_flow, set_setpoint or read_version (address 1, channel 1).
CPU_NS is the process's user + system time over the COUNT calls, as the kernel counts it.
"""
import struct
import sys
import time

import serial


def header(address, code):
    return 0x80 | (((address - 1) << 4) & 0x70) | code


def packed_float(value):
    raw = struct.pack("<f", value)
    high = 0
    for i, b in enumerate(raw):
        if b & 0x80:
            high |= 1 << i
    return bytes([high]) + bytes(b & 0x7F for b in raw)


def exchange(port, request, reply_length):
    port.reset_input_buffer()
    port.write(request)
    return port.read(reply_length)


def read_flow(port, address=1, channel=1):
    reply = exchange(port, bytes([header(address, 0x3), (channel - 1) & 0x07]), 5)
    if len(reply) != 5:
        return None
    flow = -1.0 if reply[0] & 0x08 else struct.unpack("<f", reply[1:5])[0]
    return flow, reply[0] & 0x07


def set_setpoint(port, address=1, channel=1, setpoint=1.0):
    request = bytes([header(address, 0xE), (channel - 1) & 0x07]) + packed_float(setpoint)
    reply = exchange(port, request, 1)
    return len(reply) == 1 and reply[0] == request[0] & 0x7F


def read_version(port, address=1):
    reply = exchange(port, bytes([header(address, 0x0), 0x00]), 6)
    if len(reply) != 6 or reply[3] not in b"MC":
        return None
    return reply[0:3].decode("ascii", "replace"), chr(reply[3]), reply[4], reply[5]


OPERATIONS = {"read_flow": read_flow, "set_setpoint": set_setpoint, "read_version": read_version}


def main():
    port = serial.Serial(sys.argv[1], 9600, bytesize=8, parity="N", stopbits=1, timeout=0.5)
    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words or words[0] == "quit":
            break
        operation, count = OPERATIONS[words[1]], int(words[2])
        walls = []
        failures = 0
        cpu_start = time.process_time_ns()
        for _ in range(count):
            start = time.perf_counter_ns()
            result = operation(port)
            walls.append(time.perf_counter_ns() - start)
            if not result:
                failures += 1
        cpu = time.process_time_ns() - cpu_start
        print("done", cpu, failures, *walls, flush=True)
    port.close()


if __name__ == "__main__":
    main()
