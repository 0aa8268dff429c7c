#!/usr/bin/env python3
"""qk42rt.exe under Wine against the Linux client: every command, run by each against a fresh
simulator of its own (the same instruments), must print the same lines and end with the same
exit status; only the device's name may differ. The Windows client reaches the simulator's
pseudo-terminal through a COM port that the Wine prefix maps to it.

usage: client_parity.py LINUX_CLIENT SIMULATOR WINE QK42RT_EXE COM_NUMBER MISSING_COM_NUMBER
(WINEPREFIX and the rest of Wine's environment are taken from the environment.)
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

# Each case: the words after the device option(s). Writes come before the reads that show
# them, so that the two runs' simulators go through the same states.
CASES: list[list[str]] = [
    ["status"],
    ["--json", "status"],
    ["flow", "1"],
    ["--json", "flow", "2"],
    ["setpoint", "1", "40.5"],
    ["setpoint", "1"],
    ["--json", "setpoint", "1"],
    ["maxflow", "2", "150", "1"],
    ["maxflow", "2"],
    ["unit", "3", "2"],
    ["unit", "3"],
    ["intflow", "1"],
    ["inttime"],
    ["integration", "start"],
    ["integration", "stop"],
    ["integration", "reset"],
    ["ratio-total", "1", "50", "2", "3"],
    ["ratio-total"],
    ["--json", "ratio-total"],
    ["ratio-mode", "1"],
    ["onoff", "15"],
    ["onoff"],
    ["version"],
    ["--json", "version"],
    ["display", "on", "off"],
    ["keylock", "on"],
    ["keylock", "off"],
    ["--address", "2", "flow", "1"],
    ["scan"],
    ["--json", "scan"],
    ["monitor", "1", "2", "--count", "2", "--interval", "100", "--csv"],
    ["--json", "monitor", "3", "--count", "1"],
    # Failures: no instrument at address 5 (no reply), usage errors.
    ["--address", "5", "flow", "1"],
    ["--json", "--address", "5", "version"],
    ["flow", "9"],
    ["setpoint", "1", "nan"],
    ["frobnicate"],
    ["--port", "0", "flow", "1"],
    # Last: the state --port reads back below.
    ["flow", "1"],
]
# Cases that need no line.
STANDALONE: list[list[str]] = [
    ["decode", "8E 00 04 00 00 00 3F -> 0E"],
    ["--json", "decode", "13 00 -> 13 00 0B 42 2E 00"],
    ["--help"],
    ["flow", "--help"],
    ["--version"],
    [],
]

TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z")
# monitor's seconds since it started, as its CSV and JSON lines give them.
ELAPSED = re.compile(r'(?m)(^|,|"elapsed_s":)\d+\.\d{3}(?=,|})')


def start_simulator(simulator: str, log: Path) -> tuple[subprocess.Popen, str]:
    out = open(log, "w")
    process = subprocess.Popen(
        [simulator, "--time-constant", "0", "--address", "1", "--address", "2"],
        stdout=out, stderr=subprocess.STDOUT)
    for _ in range(200):
        text = log.read_text()
        if text.startswith("slave: ") and "\n" in text:
            return process, text.split("\n", 1)[0][len("slave: "):]
        time.sleep(0.05)
    process.kill()
    raise RuntimeError("the simulator named no line: " + log.read_text())


def normalised(text: str, device: str) -> list[str]:
    text = text.replace("\r\n", "\n")
    if device:
        text = text.replace(device, "DEVICE")
    text = ELAPSED.sub(r"\1S", TIME.sub("TIME", text))
    # Programs name themselves in their help: the same name on both.
    text = text.replace("qk42rt.exe", "qk42rt")
    return text.split("\n")


def run(words: list[str]) -> tuple[int, str, str]:
    """Runs a program to its end. Its output goes to files, not pipes: Wine's own helper
    processes (the Wine server, services) inherit the handles and outlive the program, and
    a pipe would stay open until they end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(words, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                timeout=60).returncode
        out.seek(0)
        err.seek(0)
        return status, out.read().decode(), err.read().decode()


def run_all(command: list[str], device_words: list[str], device: str,
            cases: list[list[str]]) -> list[tuple[int, list[str], list[str]]]:
    results = []
    for case in cases:
        status, out, err = run(command + device_words + case)
        results.append((status, normalised(out, device), normalised(err, device)))
    return results


def main() -> int:
    linux, simulator, wine, exe, com, missing = sys.argv[1:7]
    prefix = Path(os.environ["WINEPREFIX"])
    com_link = prefix / "dosdevices" / f"com{com}"
    work = Path(os.environ.get("QK42RT_PARITY_WORK", "/tmp"))
    failures = 0

    process, slave = start_simulator(simulator, work / "parity-sim-linux.log")
    try:
        linux_results = run_all([linux], ["--device", slave], slave, CASES)
        linux_alone = run_all([linux], [], "", STANDALONE)
    finally:
        process.terminate()
        process.wait()

    process, slave = start_simulator(simulator, work / "parity-sim-windows.log")
    if com_link.is_symlink() or com_link.exists():
        com_link.unlink()
    com_link.symlink_to(slave)
    device = f"COM{com}"
    # One Wine server for every run, rather than one started and stopped per program.
    subprocess.run(["wineserver", "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        windows_results = run_all([wine, exe], ["--device", device], device, CASES)
        windows_alone = run_all([wine, exe], [], "", STANDALONE)
        # --port N is COM N, as in the legacy library.
        by_number = run_all([wine, exe], ["--port", com], f"\\\\.\\COM{com}", [["flow", "1"]])
    finally:
        subprocess.run(["wineserver", "-k"], capture_output=True)
        process.terminate()
        process.wait()
        com_link.unlink()

    for case, want, got in zip(CASES + STANDALONE, linux_results + linux_alone,
                               windows_results + windows_alone):
        if want != got:
            failures += 1
            print(f"DIFFER  qk42rt {' '.join(case)}")
            print(f"  linux:   exit {want[0]}\n    " + "\n    ".join(want[1] + want[2]))
            print(f"  windows: exit {got[0]}\n    " + "\n    ".join(got[1] + got[2]))
        else:
            print(f"same    qk42rt {' '.join(case)}  (exit {want[0]})")
    if by_number[0][0] != 0 or by_number[0][1] != linux_results[-1][1]:
        failures += 1
        print(f"DIFFER  qk42rt --port {com} flow 1: {by_number[0]}")
    else:
        print(f"same    qk42rt --port {com} flow 1  (exit 0)")

    # Exit statuses the Linux client gives too: a COM port with nothing behind it, no reply,
    # a usage error.
    expected = [(["--device", f"COM{missing}", "flow", "1"], 1),
                (["--port", missing, "version"], 1),
                (["--port", "257", "version"], 2)]
    for words, status in expected:
        got, _, err = run([wine, exe] + words)
        line = (err.strip().splitlines() or [""])[0]
        if got != status:
            failures += 1
            print(f"WRONG   qk42rt {' '.join(words)}: exit {got}, want {status}: {line}")
        else:
            print(f"right   qk42rt {' '.join(words)}: exit {status}: {line}")
    print(f"{len(CASES) + len(STANDALONE) + 1 + len(expected)} checks, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
