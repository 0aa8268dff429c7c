"""The benchmark's Python contenders, pyserial_client.py and qk42_client.py, against the
simulator: the answers qk42rt-bench reads, the failures they count, and how they share the line
with the benchmark's own libqk42 handle.

Run by CTest (bench_python_clients) with QK42_LIBRARY, QK42RT_SIM and PYTHONPATH set for this
build; needs python3-serial and python3-pytest.
"""

import subprocess
import sys
from pathlib import Path

import pytest

import qk42
from qk42.testing import Simulator

BENCH = Path(__file__).resolve().parent.parent
PYSERIAL_CLIENT = BENCH / "pyserial_client.py"
QK42_CLIENT = BENCH / "qk42_client.py"


class Client:
    """One client process, talked to as qk42rt-bench does."""

    def __init__(self, script, device):
        self.process = subprocess.Popen(
            [sys.executable, str(script), device],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
        )
        assert self.process.stdout.readline() == "ready\n"

    def run(self, operation, count):
        """(CPU ns, failures, wall times in ns) of `count` calls."""
        self.process.stdin.write(f"run {operation} {count}\n")
        self.process.stdin.flush()
        words = self.process.stdout.readline().split()
        assert words[:1] == ["done"], words
        return int(words[1]), int(words[2]), [int(w) for w in words[3:]]

    def quit(self):
        self.process.stdin.write("quit\n")
        self.process.stdin.flush()
        return self.process.wait(timeout=10)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def simulator():
    with Simulator() as sim:
        yield sim


def started(script, device, request):
    client = Client(script, device)
    request.addfinalizer(client.kill)
    return client


# --- what the benchmark reads ----------------------------------------------------------------


@pytest.mark.parametrize("operation", ["read_flow", "set_setpoint", "read_version"])
def test_pyserial_client_times_every_call(simulator, request, operation):
    client = started(PYSERIAL_CLIENT, simulator.device, request)
    cpu, failures, walls = client.run(operation, 7)
    assert failures == 0
    assert len(walls) == 7 and all(w > 0 for w in walls)
    assert cpu > 0
    assert client.quit() == 0


def test_qk42_client_times_every_call(simulator, request):
    client = started(QK42_CLIENT, simulator.device, request)
    for _ in range(2):  # the line is opened again for each run
        cpu, failures, walls = client.run("read_flow", 7)
        assert failures == 0
        assert len(walls) == 7 and all(w > 0 for w in walls)
        assert cpu > 0
    assert client.quit() == 0


@pytest.mark.parametrize("script", [PYSERIAL_CLIENT, QK42_CLIENT], ids=["pyserial", "qk42"])
def test_calls_without_a_reply_are_counted(request, script):
    # The flow request (code 0x3) goes unanswered twice, then is answered again.
    with Simulator(faults=["no-reply:code=0x3,count=2"]) as sim:
        client = started(script, sim.device, request)
        _, failures, walls = client.run("read_flow", 3)
        assert failures == 2
        assert len(walls) == 3
        assert sorted(walls)[1] >= 0.4e9  # each failure waited out the time-out
        assert client.quit() == 0


# --- sharing the line with the benchmark's libqk42 handle --------------------------------------


def test_pyserial_client_leaves_the_line_to_libqk42(simulator, request):
    # It opens the line first and keeps it; libqk42's claim must not find it taken.
    client = started(PYSERIAL_CLIENT, simulator.device, request)
    with qk42.open(simulator.device) as line:
        assert line.instrument(1).flow(1).status == 0
        assert client.run("read_flow", 3)[1] == 0
    assert client.quit() == 0


def test_qk42_client_holds_the_line_only_during_a_run(simulator, request):
    client = started(QK42_CLIENT, simulator.device, request)
    for _ in range(2):
        # Between runs the benchmark's own handle takes its turn.
        with qk42.open(simulator.device) as line:
            line.instrument(1).flow(1)
        assert client.run("read_flow", 3)[1] == 0
    assert client.quit() == 0
