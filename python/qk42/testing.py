"""Tests without hardware: the simulator qk42rt-sim as a context manager and a pytest fixture.

    from qk42.testing import Simulator

    with Simulator(addresses=(1, 2), faults=["no-reply:code=0x3,count=1"]) as sim:
        with qk42.open(sim.device) as line:
            ...

The program is the one the environment variable QK42RT_SIM names, else ``qk42rt-sim`` on
PATH. With pytest, the fixture ``qk42_simulator`` yields a started Simulator (address 1,
flows following setpoints at once). pytest finds it through the package's pytest11 entry
point once the package is installed; from a source tree, name the plugin in a conftest.py:

    pytest_plugins = ["qk42.testing"]

Give it other arguments with indirect parametrization:

    @pytest.mark.parametrize("qk42_simulator", [{"addresses": (1, 3)}], indirect=True)
"""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import threading
import time
import weakref
from typing import IO, Iterable, Iterator, List, Optional

__all__ = ["Simulator", "SimulatorError", "find_simulator"]

ENV_VAR = "QK42RT_SIM"
_START_TIMEOUT = 10.0


class SimulatorError(RuntimeError):
    """qk42rt-sim could not be found or did not start; the message says what it printed."""


def find_simulator() -> str:
    """The simulator program: $QK42RT_SIM, else qk42rt-sim on PATH."""
    explicit = os.environ.get(ENV_VAR)
    if explicit:
        if not (os.path.isfile(explicit) and os.access(explicit, os.X_OK)):
            raise SimulatorError(f"{ENV_VAR}={explicit} is not an executable program")
        return explicit
    found = shutil.which("qk42rt-sim")
    if found is None:
        raise SimulatorError(
            f"qk42rt-sim is not on PATH; install the qk42rt package or set {ENV_VAR} to "
            "the program's full path"
        )
    return found


class _Output:
    """What the program printed, and where it serves; fed by the reader thread, which holds
    this and not the Simulator, so that a Simulator nobody stopped can still be collected."""

    def __init__(self) -> None:
        self.lines: List[str] = []
        self.slave: Optional[str] = None
        self.tcp_address: Optional[str] = None
        self.changed = threading.Condition()

    def read(self, stream: IO[str]) -> None:
        for raw in stream:
            line = raw.rstrip("\n")
            with self.changed:
                self.lines.append(line)
                if line.startswith("slave: "):
                    self.slave = line[len("slave: "):]
                elif line.startswith("tcp: "):
                    self.tcp_address = line[len("tcp: "):]
                elif "; slave: " in line:  # a hang-up fault moved the pseudo-terminal
                    self.slave = line.rpartition("; slave: ")[2]
                self.changed.notify_all()


def _end(process: "subprocess.Popen[str]", reader: threading.Thread) -> None:
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=5.0)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    reader.join(timeout=2.0)
    if process.stdout is not None:
        process.stdout.close()


class Simulator:
    """qk42rt-sim in a process of its own, serving `addresses` (1 to 8) on a
    pseudo-terminal, or with ``tcp=True`` on a TCP listener on 127.0.0.1 only.

    ``faults`` are strings as the simulator's --fault takes them
    ("no-reply:code=0x3,count=1"); ``time_constant`` is the flow's response time in seconds
    (0: a flow equals its setpoint at once). ``options`` are further command-line options of
    the program, such as ``["--pace"]`` (replies at the pace of a 9600 baud line) or
    ``["--transcript", "-"]`` (every request and reply in ``output``). ``device`` is what
    qk42.open takes: the pseudo-terminal, or "tcp://HOST:PORT". A hang-up fault moves the
    pseudo-terminal to a new path; ``device`` follows it. ``output`` holds every line the simulator printed.

    Use it in a ``with`` block, or call start() and stop(). One never stopped is stopped
    when it is collected or the interpreter exits.
    """

    def __init__(
        self,
        addresses: Iterable[int] = (1,),
        faults: Iterable[str] = (),
        time_constant: float = 0.0,
        tcp: bool = False,
        program: Optional[str] = None,
        options: Iterable[str] = (),
    ) -> None:
        self.addresses = tuple(addresses)
        for address in self.addresses:
            if isinstance(address, bool) or not isinstance(address, int) or not 1 <= address <= 8:
                raise ValueError(f"simulator address must be 1 to 8, not {address!r}")
        if isinstance(faults, str):
            raise TypeError("faults is a list of fault strings, not one string")
        self.faults = tuple(faults)
        self.time_constant = float(time_constant)
        self.tcp = bool(tcp)
        self.program = program
        if isinstance(options, str):
            raise TypeError("options is a list of command-line words, not one string")
        self.options = tuple(options)
        self._output = _Output()
        self._process: Optional[subprocess.Popen[str]] = None
        self._finalizer: Optional[weakref.finalize] = None

    def command(self) -> List[str]:
        """The simulator's command line."""
        args = [self.program or find_simulator()]
        for address in self.addresses:
            args += ["--address", str(address)]
        args += ["--time-constant", repr(self.time_constant)]
        for fault in self.faults:
            args += ["--fault", fault]
        if self.tcp:
            args += ["--tcp", "127.0.0.1:0", "--no-pty"]
        return args + list(self.options)

    @property
    def output(self) -> List[str]:
        """Every line the program printed so far."""
        with self._output.changed:
            return list(self._output.lines)

    @property
    def device(self) -> str:
        """The device string a host opens."""
        out = self._output
        with out.changed:
            if self._process is not None:
                if self.tcp and out.tcp_address:
                    return f"tcp://{out.tcp_address}"
                if not self.tcp and out.slave:
                    return out.slave
        raise SimulatorError("the simulator is not running")

    @property
    def running(self) -> bool:
        return self._process is not None and self._process.poll() is None

    def start(self) -> Simulator:
        """Starts the program and waits until it says where it serves."""
        if self._process is not None:
            raise SimulatorError("the simulator was started already")
        args = self.command()
        try:
            process = subprocess.Popen(
                args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                stderr=subprocess.STDOUT, text=True, bufsize=1,
            )
        except OSError as e:
            raise SimulatorError(f"cannot start {args[0]}: {e}") from None
        # Read to the end on a thread of its own: the program prints an event for each host
        # that opens or leaves the line, and a full pipe would stop it mid-exchange.
        reader = threading.Thread(target=self._output.read, args=(process.stdout,),
                                  name="qk42rt-sim output", daemon=True)
        reader.start()
        self._process = process
        self._finalizer = weakref.finalize(self, _end, process, reader)
        out = self._output
        deadline = time.monotonic() + _START_TIMEOUT
        with out.changed:
            while not self._started():
                remaining = deadline - time.monotonic()
                if process.poll() is not None or remaining <= 0:
                    break
                out.changed.wait(min(remaining, 0.1))
            started = self._started()
        if not started:
            self.stop()
            printed = "\n".join(self.output) or "(nothing)"
            raise SimulatorError(f"{' '.join(args)} did not start; it printed:\n{printed}")
        return self

    def stop(self) -> None:
        """Stops the program (SIGTERM, then SIGKILL after 5 s) and waits for it."""
        self._process = None
        if self._finalizer is not None:
            self._finalizer()

    def __enter__(self) -> Simulator:
        return self.start()

    def __exit__(self, *exc_info: object) -> None:
        self.stop()

    def __repr__(self) -> str:
        where = self.device if self.running else "stopped"
        return f"<qk42.testing.Simulator {where}>"

    def _started(self) -> bool:
        out = self._output
        return bool(out.tcp_address if self.tcp else out.slave)

    def wait_for_output(self, text: str, timeout: float = 5.0) -> bool:
        """Waits until a printed line contains `text`; False after `timeout` seconds."""
        out = self._output
        deadline = time.monotonic() + timeout
        with out.changed:
            while not any(text in line for line in out.lines):
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return False
                out.changed.wait(remaining)
        return True


try:
    import pytest
except ImportError:  # the Simulator works without pytest
    pytest = None  # type: ignore[assignment]

if pytest is not None:

    @pytest.fixture
    def qk42_simulator(request: pytest.FixtureRequest) -> Iterator[Simulator]:
        """A started qk42rt-sim (address 1, time constant 0), stopped after the test.
        Parametrize it indirectly with a dict of Simulator's arguments."""
        options = getattr(request, "param", None) or {}
        with Simulator(**options) as simulator:
            yield simulator
