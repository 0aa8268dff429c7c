"""The benchmark's Python contenders (bench/python_clients.py) against the simulator: the
answers qk42rt-bench reads, the failures they count, and how they share the line with the
benchmark's own libqk42 handle.

Run by CTest (bench_python_clients) with QK42_LIBRARY, QK42RT_SIM and PYTHONPATH set for this
build; needs python3-serial and python3-pytest.
"""

import subprocess
import sys
from pathlib import Path

import pytest

import qk42
from qk42.testing import Simulator

CLIENTS = Path(__file__).resolve().parents[2] / "bench" / "python_clients.py"


@pytest.fixture
def start(request):
    """start(kind, device) -> run(count, *words) -> (CPU ns, failures, wall times in ns), as
    qk42rt-bench talks to a client; run.quit() ends it and gives its exit status."""

    def started(kind, device):
        process = subprocess.Popen([sys.executable, str(CLIENTS), kind, device],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        request.addfinalizer(lambda: process.poll() is None and process.kill())
        assert process.stdout.readline() == "ready\n"

        def run(count, *words):
            process.stdin.write(" ".join(["run", str(count), *words]) + "\n")
            process.stdin.flush()
            answer = process.stdout.readline().split()
            assert answer[:1] == ["done"], answer
            return int(answer[1]), int(answer[2]), [int(w) for w in answer[3:]]

        def quit():
            process.stdin.write("quit\n")
            process.stdin.flush()
            return process.wait(timeout=10)

        run.quit = quit
        return run

    return started


def words_for(kind, call=lambda inst: inst.flow(1)):
    """What qk42rt-bench adds to "run COUNT" for a client: for pyserial the request libqk42
    sends for `call(instrument)`, in hex, and its reply's length."""
    if kind == "qk42":
        return ()
    exchanges = []
    with Simulator() as sim, qk42.open(sim.device) as line:
        line.trace = lambda request, reply: exchanges.append((request.hex(), str(len(reply))))
        call(line.instrument(1))
    return exchanges[0]


@pytest.mark.parametrize(
    "kind, call",
    [("pyserial", lambda inst: inst.flow(1)),
     ("pyserial", lambda inst: inst.set_setpoint(1, 1.0)),
     ("pyserial", lambda inst: inst.version()),
     ("qk42", None)],
    ids=["pyserial-flow", "pyserial-setpoint", "pyserial-version", "qk42"],
)
def test_every_call_is_timed(start, kind, call):
    words = words_for(kind, call)
    with Simulator() as sim:
        run = start(kind, sim.device)
        for _ in range(2):  # the qk42 client opens the line again for each run
            cpu, failures, walls = run(7, *words)
            assert (failures, len(walls)) == (0, 7)
            assert cpu > 0 and all(w > 0 for w in walls)
        assert run.quit() == 0


@pytest.mark.parametrize("kind", ["pyserial", "qk42"])
def test_calls_without_a_reply_are_counted(start, kind):
    words = words_for(kind)
    # The flow request (code 0x3) goes unanswered twice, then is answered again.
    with Simulator(faults=["no-reply:code=0x3,count=2"]) as sim:
        run = start(kind, sim.device)
        _, failures, walls = run(3, *words)
        assert (failures, len(walls)) == (2, 3)
        assert sorted(walls)[1] >= 0.4e9  # each failure waited out the time-out
        assert run.quit() == 0


@pytest.mark.parametrize("kind", ["pyserial", "qk42"])
def test_the_line_is_shared_with_libqk42(start, kind):
    words = words_for(kind)
    # pyserial opens the line first and keeps it: libqk42's claim must not find it taken. The
    # qk42 client holds it only during a run: between runs the benchmark's handle has it.
    with Simulator() as sim:
        run = start(kind, sim.device)
        for _ in range(2):
            with qk42.open(sim.device) as line:
                assert line.instrument(1).flow(1).status == 0
                if kind == "pyserial":
                    assert run(3, *words)[1] == 0
            assert run(3, *words)[1] == 0
        assert run.quit() == 0
