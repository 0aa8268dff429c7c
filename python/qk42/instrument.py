"""One instrument on a line: its reads and settings."""

from __future__ import annotations

import ctypes
import math
from typing import TYPE_CHECKING, Union

from . import _checks
from ._float32 import shortest
from .results import ChannelStatus, RatioTotal, Reading, Version

if TYPE_CHECKING:
    from .line import Line

__all__ = ["Instrument", "INTEGRATION_CODES"]

# The client's names for integration control codes (qk42rt integration start|stop|reset).
INTEGRATION_CODES = {"start": 0x01, "stop": 0x02, "reset": 0x03}

_KINDS = {0: "M", 1: "C"}


def _channel(value: object) -> int:
    return _checks.integer(value, "channel")


class Instrument:
    """The instrument at one address of a line, made by :meth:`qk42.Line.instrument`.

    Channels are 1 to 8. Every method runs one exchange (status() runs 32) and raises a
    :class:`qk42.Error` subclass when it fails; arguments out of range raise ValueError
    (libqk42 refuses them, with a message naming the argument and its range), and arguments
    of the wrong type TypeError, before anything is sent.
    """

    def __init__(self, line: Line, address: int) -> None:
        self.line = line
        self.address = _checks.address(address)

    def __repr__(self) -> str:
        return f"<qk42.Instrument {self.address} on {self.line.device!r}>"

    # --- channel readings ----------------------------------------------------------------

    def _reading(self, function: str, channel: object) -> Reading:
        number = _channel(channel)
        value = ctypes.c_float()
        status = ctypes.c_int()
        self.line._call(function, self.address, number, ctypes.byref(value), ctypes.byref(status))
        return Reading(shortest(value.value), status.value)

    def flow(self, channel: int) -> Reading:
        """The channel's flow; -1.0 when the instrument flags it invalid."""
        return self._reading("qk42_read_flow", channel)

    def setpoint(self, channel: int) -> Reading:
        """The channel's setpoint."""
        return self._reading("qk42_read_setpoint", channel)

    def maxflow(self, channel: int) -> Reading:
        """The channel's maximum flow."""
        return self._reading("qk42_read_maxflow", channel)

    # --- channel settings ----------------------------------------------------------------

    def unit(self, channel: int) -> int:
        """The channel's unit, 1 to 4."""
        number = _channel(channel)
        unit = ctypes.c_int()
        self.line._call("qk42_read_unit", self.address, number, ctypes.byref(unit))
        return unit.value

    def set_unit(self, channel: int, unit: int) -> None:
        """Sets the channel's unit (1 to 4)."""
        number = _channel(channel)
        code = _checks.integer(unit, "unit")
        self.line._call("qk42_set_unit", self.address, number, code)

    def set_setpoint(self, channel: int, setpoint: float) -> None:
        """Sets the channel's setpoint (a finite number, held as a 32-bit float)."""
        number = _channel(channel)
        value = _checks.real(setpoint, "setpoint")
        self.line._call("qk42_set_setpoint", self.address, number, value)

    def set_maxflow(self, channel: int, maxflow: float, code: int) -> None:
        """Sets the channel's maximum flow and its code (0 to 4). The code has no default:
        the instrument takes whatever is sent, so it is always said."""
        number = _channel(channel)
        value = _checks.real(maxflow, "maxflow")
        checked_code = _checks.integer(code, "maxflow code")
        self.line._call("qk42_set_maxflow", self.address, number, value, checked_code)

    # --- integration ---------------------------------------------------------------------

    def intflow(self, channel: int) -> bytes:
        """The channel's integrated flow: 4 bytes as the instrument sent them."""
        number = _channel(channel)
        buffer = (ctypes.c_ubyte * 4)()
        self.line._call("qk42_read_intflow", self.address, number, buffer)
        return bytes(buffer)

    def inttime(self) -> bytes:
        """The integration time: 4 bytes as the instrument sent them."""
        buffer = (ctypes.c_ubyte * 4)()
        self.line._call("qk42_read_inttime", self.address, buffer)
        return bytes(buffer)

    def integration(self, control: Union[str, int]) -> None:
        """Controls integration: "start", "stop", "reset" (codes 1, 2, 3) or a code 0 to 127."""
        if isinstance(control, str):
            if control not in INTEGRATION_CODES:
                names = ", ".join(INTEGRATION_CODES)
                raise ValueError(f"integration control must be {names} or a code number, "
                                 f"not {control!r}")
            code = INTEGRATION_CODES[control]
        else:
            code = _checks.integer(control, "integration control")
        self.line._call("qk42_int_control", self.address, code)

    # --- ratio and total -----------------------------------------------------------------

    def ratio_total(self) -> RatioTotal:
        """The ratio/total configuration."""
        fields = [ctypes.c_int() for _ in range(4)]
        self.line._call("qk42_read_ratio_total", self.address, *map(ctypes.byref, fields))
        return RatioTotal(*(f.value for f in fields))

    def set_ratio_total(self, channel: int, value: int, channel2: int, channel3: int) -> None:
        """Sets the ratio/total configuration: channels 1 to 8, value 0 to 255."""
        args = (
            _channel(channel),
            _checks.integer(value, "ratio/total value"),
            _checks.integer(channel2, "channel2"),
            _checks.integer(channel3, "channel3"),
        )
        self.line._call("qk42_set_ratio_total", self.address, *args)

    def set_ratio_mode(self, mode: int) -> None:
        """Sets the ratio/total mode, 0 to 2."""
        self.line._call("qk42_control_ratio_total", self.address,
                        _checks.integer(mode, "ratio/total mode"))

    # --- on/off --------------------------------------------------------------------------

    def on_off(self) -> int:
        """The on/off state: bit (channel - 1) set for each channel that is on."""
        state = ctypes.c_int()
        self.line._call("qk42_read_on_off", self.address, ctypes.byref(state))
        return state.value

    def set_on_off(self, state: int) -> None:
        """Sets the on/off state of all channels at once (0 to 255, bit (channel - 1))."""
        self.line._call("qk42_set_on_off", self.address,
                        _checks.integer(state, "on/off state"))

    # --- system --------------------------------------------------------------------------

    def version(self) -> Version:
        """The instrument's version text, its number, kind ("M" or "C") and information."""
        text = ctypes.create_string_buffer(4)
        number = ctypes.c_float()
        kind, info1, info2 = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        self.line._call("qk42_read_version", self.address, text, ctypes.byref(number),
                        ctypes.byref(kind), ctypes.byref(info1), ctypes.byref(info2))
        value = None if math.isnan(number.value) else shortest(number.value)
        return Version(text.value.decode("latin-1"), value, _KINDS.get(kind.value, "?"),
                       info1.value, info2.value)

    def set_display(self, flag1: bool, flag2: bool) -> None:
        """Sets the two display flags."""
        self.line._call("qk42_set_display", self.address,
                        int(_checks.flag(flag1, "display flag 1")),
                        int(_checks.flag(flag2, "display flag 2")))

    def set_key_lock(self, locked: bool) -> None:
        """Locks (True) or unlocks (False) the instrument's keys."""
        self.line._call("qk42_set_key_lock", self.address,
                        int(_checks.flag(locked, "key lock")))

    # --- everything at once --------------------------------------------------------------

    def status(self) -> list[ChannelStatus]:
        """All eight channels: flow, setpoint, maximum flow, unit and the flow's status."""
        rows = []
        for channel in range(1, 9):
            flow = self.flow(channel)
            rows.append(ChannelStatus(channel, flow.value, self.setpoint(channel).value,
                                      self.maxflow(channel).value, self.unit(channel),
                                      flow.status))
        return rows
