"""The Windows wheels as built from the mingw DLLs: each one's tag says the machine of the
qk42.dll inside, that DLL exports every function of qk42.h, the RECORD holds, and pip takes
the wheel for its own platform only.

The wheels are named in QK42_WINDOWS_WHEELS (separated by os.pathsep), as the Windows stage
does (tests/windows/wheel_steps.sh); without it these tests are skipped, so that the plain
test run needs no mingw.
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path
from typing import List, Set

import pytest

import qk42
from test_packaging import verify_record

PYTHON_DIR = Path(__file__).resolve().parents[1]
HEADER = PYTHON_DIR.parent / "include" / "qk42.h"
WHEELS = [Path(p) for p in os.environ.get("QK42_WINDOWS_WHEELS", "").split(os.pathsep) if p]

pytestmark = pytest.mark.skipif(not WHEELS, reason="QK42_WINDOWS_WHEELS names no wheel")

# The COFF machine field, the optional header's magic that goes with it, and the wheel platform.
MACHINES = {0x014C: (0x10B, "win32"), 0x8664: (0x20B, "win_amd64")}
OTHER_PLATFORM = {"win32": "win_amd64", "win_amd64": "win32"}


class PeFile:
    """Just enough of a PE file's headers to name its machine and its exported names."""

    def __init__(self, data: bytes) -> None:
        self.data = data
        assert data[:2] == b"MZ"
        pe = self.u32(0x3C)
        assert data[pe:pe + 4] == b"PE\0\0"
        self.machine = self.u16(pe + 4)
        optional = pe + 24
        self.magic = self.u16(optional)
        sections = optional + self.u16(pe + 20)
        self.sections = [(self.u32(s + 12), self.u32(s + 8), self.u32(s + 20))
                         for s in range(sections, sections + 40 * self.u16(pe + 6), 40)]
        # The data directories follow the optional header's fixed part; the first is exports.
        self.export_rva = self.u32(optional + (96 if self.magic == 0x10B else 112))

    def u16(self, at: int) -> int:
        return int.from_bytes(self.data[at:at + 2], "little")

    def u32(self, at: int) -> int:
        return int.from_bytes(self.data[at:at + 4], "little")

    def offset(self, rva: int) -> int:
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise AssertionError(f"RVA 0x{rva:X} is in no section")

    def exports(self) -> Set[str]:
        directory = self.offset(self.export_rva)
        names = self.offset(self.u32(directory + 32))
        found = set()
        for i in range(self.u32(directory + 24)):
            start = self.offset(self.u32(names + 4 * i))
            found.add(self.data[start:self.data.index(b"\0", start)].decode("ascii"))
        return found


def declared_functions() -> Set[str]:
    names = set(re.findall(r"\b(qk42_\w+)\(", HEADER.read_text()))
    assert len(names) > 20, names
    return names


def wheel_platform(wheel: Path) -> str:
    match = re.fullmatch(rf"qk42-{re.escape(qk42.__version__)}-py3-none-(\w+)\.whl", wheel.name)
    assert match, wheel.name
    return match.group(1)


@pytest.mark.parametrize("wheel", WHEELS, ids=[w.name for w in WHEELS])
def test_wheel_carries_the_dll_of_its_tag(wheel: Path) -> None:
    platform = wheel_platform(wheel)
    dist_info = f"qk42-{qk42.__version__}.dist-info"
    with zipfile.ZipFile(wheel) as archive:
        dll = PeFile(archive.read("qk42/qk42.dll"))
        wheel_file = archive.read(f"{dist_info}/WHEEL").decode()
        verify_record(archive, dist_info)
        sources = {n for n in archive.namelist() if n.startswith("qk42/")}
    assert dll.machine in MACHINES, hex(dll.machine)
    assert MACHINES[dll.machine] == (dll.magic, platform)
    assert f"Tag: py3-none-{platform}\n" in wheel_file
    assert "Root-Is-Purelib: false\n" in wheel_file
    package = {f"qk42/{p.name}" for p in (PYTHON_DIR / "qk42").iterdir()
               if p.suffix == ".py" or p.name == "py.typed"}
    assert sources == package | {"qk42/qk42.dll"}
    missing = declared_functions() - dll.exports()
    assert not missing, f"qk42.h declares functions the DLL does not export: {sorted(missing)}"


@pytest.mark.parametrize("wheel", WHEELS, ids=[w.name for w in WHEELS])
def test_pip_takes_the_wheel_for_its_platform_only(wheel: Path, tmp_path: Path) -> None:
    platform = wheel_platform(wheel)

    def install(for_platform: str, target: Path) -> "subprocess.CompletedProcess[str]":
        args: List[str] = [sys.executable, "-m", "pip", "install", "--no-index", "--no-deps",
                           "--only-binary=:all:", "--platform", for_platform,
                           "--target", str(target), str(wheel)]
        env = dict(os.environ, PIP_DISABLE_PIP_VERSION_CHECK="1", PYTHONDONTWRITEBYTECODE="1")
        return subprocess.run(args, capture_output=True, text=True, timeout=120, env=env)

    if subprocess.run([sys.executable, "-m", "pip", "--version"],
                      capture_output=True).returncode != 0:
        pytest.skip("pip is not installed (scripts/install-deps.sh installs python3-pip)")
    done = install(platform, tmp_path / "ok")
    assert done.returncode == 0, done.stdout + done.stderr
    with zipfile.ZipFile(wheel) as archive:
        assert (tmp_path / "ok" / "qk42" / "qk42.dll").read_bytes() == \
            archive.read("qk42/qk42.dll")
    refused = install(OTHER_PLATFORM[platform], tmp_path / "other")
    assert refused.returncode != 0 and "is not a supported wheel" in refused.stderr
