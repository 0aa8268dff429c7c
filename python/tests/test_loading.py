"""Finding libqk42: QK42_LIBRARY, a copy beside the package, and a clear error when none
loads. Each case in a fresh interpreter, since a process loads the library once; the order of
places on each system with the loader's CDLL replaced by a recorder."""

from __future__ import annotations

import ctypes.util
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path
from types import SimpleNamespace
from typing import Dict, List, Optional

import pytest

import qk42
from qk42.testing import Simulator

PYTHON_DIR = Path(__file__).resolve().parents[1]


def _run(code: str, library: Optional[str],
         path: Path = PYTHON_DIR) -> "subprocess.CompletedProcess[str]":
    env: Dict[str, str] = {k: v for k, v in os.environ.items() if k != "QK42_LIBRARY"}
    env["PYTHONPATH"] = str(path)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    if library is not None:
        env["QK42_LIBRARY"] = library
    # In `path`: python -c puts the working directory first on sys.path.
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          cwd=path, timeout=30)


OPEN = "import qk42\ntry:\n    qk42.open('/dev/null')\nexcept OSError as e:\n" \
       "    print(type(e).__name__, isinstance(e, OSError)); print(e)\n"


def test_library_path_that_does_not_load(tmp_path: Path) -> None:
    missing = str(tmp_path / "libqk42.so.1")
    result = _run(OPEN, missing)
    assert result.returncode == 0, result.stderr
    kind, message = result.stdout.split("\n", 1)
    assert kind == "LibraryNotFound True"
    assert f"QK42_LIBRARY={missing}" in message


def test_library_that_is_not_libqk42() -> None:
    other = ctypes.util.find_library("m")
    assert other is not None
    result = _run(OPEN, other)
    assert "LibraryNotFound" in result.stdout and "no function qk42_open" in result.stdout


def test_no_library_anywhere_says_where_it_looked(tmp_path: Path) -> None:
    if ctypes.util.find_library("qk42"):
        pytest.skip("libqk42 is installed on this machine")
    copy = tmp_path / "qk42"
    shutil.copytree(PYTHON_DIR / "qk42", copy, ignore=shutil.ignore_patterns("__pycache__"))
    result = _run(OPEN, None, tmp_path)
    kind, message = result.stdout.split("\n", 1)
    assert kind == "LibraryNotFound True"
    assert str(copy / "libqk42.so.1") in message  # beside the package
    assert "set QK42_LIBRARY" in message


def test_copy_beside_the_package_is_used(tmp_path: Path, qk42_simulator: Simulator) -> None:
    copy = tmp_path / "qk42"
    shutil.copytree(PYTHON_DIR / "qk42", copy, ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(os.environ["QK42_LIBRARY"], copy / "libqk42.so.1")
    code = ("import qk42, qk42._library as l\n"
            f"with qk42.open({qk42_simulator.device!r}) as line:\n"
            "    print(line.instrument(1).version().text, l.library()._name)\n")
    result = _run(code, None, tmp_path)
    assert result.stdout.split() == ["1.2", str(copy / "libqk42.so.1")], result.stderr


def test_import_needs_no_library() -> None:
    # Loading waits for the first open: `import qk42` (and pytest's plugin) work without it.
    result = _run("import qk42, qk42.testing; print(qk42.__version__)", "/nonexistent")
    assert result.returncode == 0 and result.stdout.strip() == qk42.__version__


def test_package_version_is_the_project_version() -> None:
    cmake = (PYTHON_DIR.parent / "CMakeLists.txt").read_text()
    match = re.search(r"project\(QK42RT VERSION ([0-9.]+)", cmake)
    assert match is not None
    assert qk42.__version__ == match.group(1)


class _Recorder:
    """Stands in for ctypes.CDLL: notes every place asked for, loads only `loadable`."""

    def __init__(self, loadable: Optional[str]) -> None:
        self.loadable = loadable
        self.asked: List[str] = []

    def __call__(self, place: str) -> object:
        self.asked.append(place)
        if place != self.loadable:
            raise OSError(f"cannot load {place}")
        return _FakeLibrary()


class _FakeLibrary:
    def __getattr__(self, name: str) -> SimpleNamespace:
        function = SimpleNamespace()  # takes restype and argtypes as a ctypes function does
        setattr(self, name, function)
        return function


BESIDE = {"win32": "qk42.dll", "linux": "libqk42.so.1"}
FOUND = "/found/by/find_library/qk42"
EXPLICIT = "/chosen/qk42"


@pytest.mark.parametrize("platform, explicit, loadable, asked", [
    # Windows: beside the package, then QK42_LIBRARY, then the system (PATH, then the name).
    ("win32", EXPLICIT, "beside", ["beside"]),
    ("win32", EXPLICIT, EXPLICIT, ["beside", EXPLICIT]),
    ("win32", EXPLICIT, FOUND, ["beside", EXPLICIT, FOUND]),
    ("win32", None, "qk42.dll", ["beside", FOUND, "qk42.dll"]),
    ("win32", EXPLICIT, None, ["beside", EXPLICIT, FOUND, "qk42.dll"]),
    # Linux: QK42_LIBRARY alone when set, else beside, then the system.
    ("linux", EXPLICIT, None, [EXPLICIT]),
    ("linux", None, FOUND, ["beside", FOUND]),
    ("linux", None, None, ["beside", FOUND, "libqk42.so.1"]),
])
def test_order_of_places(monkeypatch: pytest.MonkeyPatch, platform: str, explicit: Optional[str],
                         loadable: Optional[str], asked: List[str]) -> None:
    from qk42 import _library

    beside = str(Path(_library.__file__).resolve().parent / BESIDE[platform])
    recorder = _Recorder(beside if loadable == "beside" else loadable)
    monkeypatch.setattr(_library, "sys", SimpleNamespace(platform=platform))
    monkeypatch.setattr(_library.ctypes, "CDLL", recorder)
    monkeypatch.setattr(_library.ctypes.util, "find_library",
                        lambda name: FOUND if name == "qk42" else None)
    if explicit is None:
        monkeypatch.delenv("QK42_LIBRARY", raising=False)
    else:
        monkeypatch.setenv("QK42_LIBRARY", explicit)

    expected = [beside if place == "beside" else place for place in asked]
    if loadable is not None:
        assert isinstance(_library._load(), _FakeLibrary)
        assert recorder.asked == expected
        return
    with pytest.raises(_library.LibraryNotFound) as raised:
        _library._load()
    assert recorder.asked == expected
    message = str(raised.value)
    for place in expected:  # every place tried is named, with why it did not load
        named = f"QK42_LIBRARY={place}" if place == explicit else place
        assert f"{named}: cannot load {place}" in message
    if platform == "win32":
        assert "win_amd64 or win32" in message
