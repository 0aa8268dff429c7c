"""qk42.testing: the Simulator as users start it, and its failures to start."""

from __future__ import annotations

import gc
from pathlib import Path
from typing import Any, Type

import pytest

import qk42
from qk42.testing import Simulator, SimulatorError


def test_fixture_gives_a_running_simulator(qk42_simulator: Simulator) -> None:
    assert qk42_simulator.running
    assert Path(qk42_simulator.device).exists()
    assert qk42_simulator.addresses == (1,)


@pytest.mark.parametrize("qk42_simulator", [{"addresses": (2, 5), "time_constant": 30.0}],
                         indirect=True)
def test_fixture_takes_simulator_arguments(qk42_simulator: Simulator) -> None:
    with qk42.open(qk42_simulator.device) as line:
        inst = line.instrument(5)
        inst.set_on_off(1)
        inst.set_setpoint(1, 50.0)
        assert 0.0 <= inst.flow(1).value < 5.0  # slow response: far from the setpoint yet
        assert line.instrument(2).version().text == "1.2"


def test_stop_ends_the_program() -> None:
    with Simulator() as sim:
        process = sim._process
        assert process is not None and process.poll() is None
    assert process.returncode is not None and not sim.running
    with pytest.raises(SimulatorError):
        sim.device
    sim.stop()  # twice is fine


def test_forgotten_simulator_is_stopped_when_collected() -> None:
    sim = Simulator().start()
    process = sim._process
    assert process is not None
    del sim
    gc.collect()
    assert process.wait(timeout=5) is not None


@pytest.mark.parametrize(
    "kwargs, error, words",
    [
        ({"faults": ["no-such-fault"]}, SimulatorError, "unknown fault"),
        ({"program": "/nonexistent/qk42rt-sim"}, SimulatorError, "cannot start"),
        ({"addresses": (0,)}, ValueError, "1 to 8"),
        ({"addresses": (True,)}, ValueError, "1 to 8"),
        ({"faults": "no-reply"}, TypeError, "list"),
        ({"options": ["--no-such-option"]}, SimulatorError, "no-such-option"),
        ({"options": "--pace"}, TypeError, "list"),
    ],
)
def test_simulator_that_cannot_start(kwargs: Any, error: Type[Exception], words: str) -> None:
    with pytest.raises(error, match=words):
        with Simulator(**kwargs):
            pass


@pytest.mark.parametrize("value, words", [("/nonexistent/qk42rt-sim", "not an executable"),
                                          ("", "not on PATH")])
def test_simulator_program_not_found(monkeypatch: pytest.MonkeyPatch, tmp_path: Path,
                                     value: str, words: str) -> None:
    monkeypatch.setenv("QK42RT_SIM", value)
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(SimulatorError, match=words):
        Simulator().start()
