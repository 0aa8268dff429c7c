"""Each failure as the exception a program catches: from the simulator's faults, from a
device server that answers wrongly, and from devices that cannot be opened."""

from __future__ import annotations

import re
import socket
import threading
from pathlib import Path
from typing import Any, Callable, Iterator, Type

import pytest

import qk42
from qk42.testing import Simulator

HEADER = Path(__file__).resolve().parents[2] / "include" / "qk42.h"


def test_status_codes_match_the_header() -> None:
    codes = dict(re.findall(r"QK42_(\w+) = (\d+),?", HEADER.read_text()))
    classes = {"NO_REPLY": qk42.NoReply, "SHORT_REPLY": qk42.ShortReply,
               "WRONG_ACK": qk42.WrongAck, "BAD_KIND": qk42.BadKind,
               "CANNOT_OPEN": qk42.CannotOpen, "SETTINGS_REFUSED": qk42.SettingsRefused,
               "LINE_CLOSED": qk42.LineClosed}
    assert set(codes) == set(classes) | {"OK", "BAD_ARGUMENT"}
    for name, cls in classes.items():
        assert cls.status == int(codes[name]), name
        assert issubclass(cls, qk42.Error)


@pytest.mark.parametrize(
    "fault, call, error, words",
    [
        ("no-reply:code=0x3,count=1", lambda i: i.flow(1), qk42.NoReply, "no reply"),
        ("no-reply:code=0x8,count=1", lambda i: i.integration("start"), qk42.NoReply,
         "no reply"),
        ("short-reply:code=0x4,count=1", lambda i: i.setpoint(1), qk42.ShortReply, "4 of 5"),
        ("short-reply:code=0x0,count=1", lambda i: i.version(), qk42.ShortReply, "5 of 6"),
        ("wrong-ack:code=0xE,count=1", lambda i: i.set_setpoint(1, 5.0), qk42.WrongAck, ""),
        ("wrong-ack:code=0x1,count=1", lambda i: i.set_unit(1, 2), qk42.WrongAck, ""),
    ],
)
def test_fault_raises_its_error_and_the_line_goes_on(fault: str, call: Callable[[Any], Any],
                                                     error: Type[qk42.Error],
                                                     words: str) -> None:
    with Simulator(faults=[fault]) as sim, qk42.open(sim.device) as line:
        line.reply_timeout = 0.1
        inst = line.instrument(1)
        with pytest.raises(error) as caught:
            call(inst)
        assert caught.value.status == error.status
        assert str(caught.value) and words in str(caught.value)
        call(inst)  # the fault was for one request only


@pytest.mark.parametrize("tcp", [False, True], ids=["pty", "tcp"])
def test_hang_up_closes_the_line_until_opened_again(tcp: bool) -> None:
    with Simulator(faults=["hang-up:code=0xB,count=1"], tcp=tcp) as sim:
        with qk42.open(sim.device) as line:
            inst = line.instrument(1)
            inst.set_on_off(0x3C)
            for _ in range(2):  # and stays closed
                with pytest.raises(qk42.LineClosed) as caught:
                    inst.on_off()
                assert caught.value.status == qk42.LineClosed.status
        if not tcp:
            assert sim.wait_for_output("hung up by the simulator")  # on a new pseudo-terminal
        with qk42.open(sim.device) as line:
            assert line.instrument(1).on_off() == 0x3C


class _VersionServer:
    """A device server on loopback whose instrument answers the version request with
    `reply`, to make replies the simulator never sends."""

    def __init__(self, reply: bytes) -> None:
        self.reply = reply
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.device = "tcp://127.0.0.1:%d" % self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self) -> None:
        connection, _ = self.listener.accept()
        with connection:
            request = b""
            while len(request) < 2:
                chunk = connection.recv(2 - len(request))
                if not chunk:
                    return
                request += chunk
            if request == b"\x80\x00":  # version, address 1
                connection.sendall(self.reply)
            connection.recv(1)  # until the host closes

    def close(self) -> None:
        self.listener.close()
        self.thread.join(timeout=2)


@pytest.fixture
def version_server(request: pytest.FixtureRequest) -> Iterator[_VersionServer]:
    server = _VersionServer(request.param)
    yield server
    server.close()


@pytest.mark.parametrize("version_server", [b"1.2X\x08\x01"], indirect=True)
def test_version_of_unknown_kind_is_bad_kind(version_server: _VersionServer) -> None:
    with qk42.open(version_server.device) as line:
        with pytest.raises(qk42.BadKind) as caught:
            line.instrument(1).version()
    assert caught.value.status == qk42.BadKind.status


@pytest.mark.parametrize("version_server", [b"n/aM\x00\xff"], indirect=True)
def test_version_text_without_number(version_server: _VersionServer) -> None:
    with qk42.open(version_server.device) as line:
        assert line.instrument(1).version() == qk42.Version("n/a", None, "M", 0, 255)


def _refused_port() -> Iterator[str]:
    # Bound but not listening: a connection is refused, and no one else can take the port.
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        yield "tcp://127.0.0.1:%d" % holder.getsockname()[1]


@pytest.mark.parametrize(
    "device, error, words",
    [
        (lambda tmp: str(tmp / "no-such-device"), qk42.CannotOpen, "cannot open"),
        (None, qk42.CannotOpen, "connection refused"),
        (lambda tmp: "/dev/null", qk42.SettingsRefused, "/dev/null"),
        (lambda tmp: "tcp://127.0.0.1", ValueError, "port"),
        (lambda tmp: "nosuch://x:1", ValueError, ""),
    ],
    ids=["missing-path", "refused-tcp", "not-a-serial-port", "no-port", "unknown-scheme"],
)
def test_open_failure(tmp_path: Path, device: Any, error: Type[Exception], words: str) -> None:
    refused = _refused_port()
    name = device(tmp_path) if device else next(refused)
    with pytest.raises(error) as caught:
        qk42.open(name)
    assert words in str(caught.value)
    if isinstance(caught.value, qk42.Error):
        assert caught.value.status == error.status  # type: ignore[attr-defined]
    refused.close()


@pytest.mark.parametrize(
    "device, error",
    [(42, TypeError), (b"/dev/ttyS0", TypeError), (None, TypeError), ("", ValueError),
     ("/dev/pts/0\0x", ValueError)],
)
def test_device_must_be_a_string(device: Any, error: Type[Exception]) -> None:
    with pytest.raises(error):
        qk42.open(device)


def test_path_objects_open(qk42_simulator: Simulator) -> None:
    with qk42.open(Path(qk42_simulator.device)) as line:
        assert line.device == qk42_simulator.device
        assert line.instrument(1).on_off() == 0
